#pragma once
// The desktop checks of an X screen: a one-pixel read of the root window, and a tray that either
// owns the tray selection or hosts StatusNotifier items on the session bus.

#include "platform/DesktopChecks.h"

class X11DesktopChecks final : public DesktopChecks {
public:
    bool wayland() const override;
    // Both ask on a connection of their own each time: asked once a second at most.
    bool screenReadable() const override;
    bool trayPresent() const override;
};
