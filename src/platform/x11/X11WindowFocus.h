#pragma once
// The focus request of the EWMH: a _NET_ACTIVE_WINDOW message to the root window, sent with the pager's
// source indication, which window managers honour even for a program that is not in front; and the root
// window's _NET_ACTIVE_WINDOW property, which says who has it now; and the server's input focus, which says
// where keys go this moment, before the window manager or the toolkit has caught up. Changes of the property
// come as Qt reads them, on its own connection.

#include "platform/WindowFocus.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

class X11WindowFocus final : public WindowFocus, public QAbstractNativeEventFilter {
public:
    ~X11WindowFocus() override;
    bool activate(quint32 window) override;
    quint32 activeWindow() const override;
    bool onScreen(quint32 window) const override;
    void watchActive(std::function<void(quint32 active)> changed) override;
    Keyboard keyboardAt(const QList<quint32>& windows, quint32 closing) const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void(quint32)> watcher;
    quint32 activeAtom = 0;
    quint32 root = 0;
    bool filtering = false;
    // Holds the calls on their way to the watcher: they go with it.
    QObject calls;
};
