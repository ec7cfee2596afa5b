#pragma once
// Keeps every window of ours but the editors (the only documents) off the panel's task list and the pager:
// an application-wide filter that marks each window as it is shown. A window that never takes the keyboard, raised
// by ourselves, asks for no attention either, and refuses the keyboard when the window manager offers it.

#include <QObject>

class WindowHints;

class UtilityWindows : public QObject {
public:
    // Watches every widget of the application from now on.
    explicit UtilityWindows(WindowHints& hints, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowHints& hints;
};
