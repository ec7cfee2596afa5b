#pragma once
// The desktop facilities of one process, each behind its own interface. The program makes the X11
// backends once at start, tests make fakes; every class is handed the few it needs.

#include <memory>

class Compositor;
class GlobalKeys;
class PointerWatch;
class TrayColors;
class WindowList;
class WindowFocus;
class WindowDesktops;

class Platform {
public:
    virtual ~Platform() = default;

    // Global hot keys, and the Escape key of windows that never take the focus.
    virtual GlobalKeys& keys() = 0;
    // Top-level windows, the pointer, the monitors and their pixels.
    virtual WindowList& windows() = 0;
    virtual const Compositor& compositor() = 0;
    virtual const TrayColors& trayColors() = 0;
    // A new watch of mouse-button presses anywhere on the screen (as well as can be seen). Never null.
    virtual std::unique_ptr<PointerWatch> watchPointer() = 0;
    // Asking the window manager to make one of our windows active.
    virtual WindowFocus& windowFocus() = 0;
    // Keeping one of our windows on every virtual desktop.
    virtual WindowDesktops& windowDesktops() = 0;
};
