#pragma once
// Closes a window when the user clicks outside it in another application. Watching lasts as long
// as this object; its owner keeps it and drops it to stop.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class PointerWatch;
struct PointerPress;

class ClickAway : public QObject {
    Q_OBJECT
public:
    // The window is held weakly. The watch reports presses (the desktop's, from the platform); without
    // one, only presses in our own windows and the loss of focus are seen.
    explicit ClickAway(QWidget* window, std::unique_ptr<PointerWatch> watch = nullptr);
    ~ClickAway() override;

    std::unique_ptr<PointerWatch> monitor;

private:
    void pressed(const PointerPress& press);

    QPointer<QWidget> window;
};
