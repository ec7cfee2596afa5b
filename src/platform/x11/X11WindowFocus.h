#pragma once
// The focus request of the EWMH: a _NET_ACTIVE_WINDOW message to the root window, sent with the pager's
// source indication, which window managers honour even for a program that is not in front; and the root
// window's _NET_ACTIVE_WINDOW property, which says who has it now; and the server's input focus, which says
// where keys go this moment, before the window manager or the toolkit has caught up.

#include "platform/WindowFocus.h"

class X11WindowFocus final : public WindowFocus {
public:
    bool activate(quint32 window) override;
    quint32 activeWindow() const override;
    Keyboard keyboardAt(const QList<quint32>& windows, quint32 closing) const override;
};
