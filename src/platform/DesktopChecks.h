#pragma once
// What a user's desktop must offer for captures, hot keys and the panel icon to work, asked afresh
// on every call so a check can turn green while the user fixes it.

class DesktopChecks {
public:
    virtual ~DesktopChecks() = default;

    // True in a Wayland session ($WAYLAND_DISPLAY set): X11 captures see only X clients there.
    virtual bool wayland() const = 0;
    // True when one pixel of the screen can be read back. False without a display.
    virtual bool screenReadable() const = 0;
    // True when a panel can show our icon: a system tray on the screen or a StatusNotifier host.
    virtual bool trayPresent() const = 0;
};
