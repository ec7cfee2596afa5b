#pragma once
// EWMH desktops: _NET_WM_DESKTOP for sticky windows, and the root window's _NET_CURRENT_DESKTOP
// watched on a connection of our own.

#include "platform/Desktops.h"

#include <xcb/xcb.h>

class QSocketNotifier;

class X11Desktops final : public Desktops {
public:
    // Without a display (another Qt platform, or $DISPLAY unreachable) it does nothing and
    // never signals.
    X11Desktops();
    ~X11Desktops() override;

    void showOnAllDesktops(QWindow* window) override;

private:
    void readEvents();
    xcb_atom_t atom(const char* name);
    // -1 when the window manager does not say.
    qint64 currentDesktopNumber();

    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t currentDesktop = 0;
    xcb_atom_t wmDesktop = 0;
    QSocketNotifier* notifier = nullptr;
    qint64 lastDesktop = -1;
};
