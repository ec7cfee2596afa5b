#pragma once
// Keeping one of our windows on every virtual desktop, as a note stuck to the screen would be.

#include <QtGlobal>

class WindowDesktops {
public:
    virtual ~WindowDesktops() = default;
    // Asks for the top-level window to show on all desktops; best before it is first shown. False when
    // the request could not be sent (no display); the window manager may still ignore it.
    virtual bool showOnAllDesktops(quint32 window) = 0;
};
