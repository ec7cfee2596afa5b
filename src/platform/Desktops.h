#pragma once
// The desktop's virtual desktops: a window shown on all of them, and word when the user switches.

#include <QObject>

class QWindow;

class Desktops : public QObject {
    Q_OBJECT
public:
    ~Desktops() override;

    // Asks the window manager to show the top-level window on every desktop. Does nothing for a
    // window without a native handle yet, or where the desktop cannot be asked.
    virtual void showOnAllDesktops(QWindow* window) = 0;

signals:
    // The current desktop changed.
    void currentDesktopChanged();

protected:
    explicit Desktops(QObject* parent = nullptr);
};
