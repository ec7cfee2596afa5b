#pragma once
// The program's desktop: every X11 backend, made once at start on the display of $DISPLAY.

#include "platform/Platform.h"

class X11Compositor;
class X11GlobalKeys;
class X11TrayColors;
class X11WindowList;
class X11WindowFocus;
class X11WindowDesktops;

class X11Platform final : public Platform {
public:
    X11Platform();
    ~X11Platform() override;

    GlobalKeys& keys() override;
    WindowList& windows() override;
    const Compositor& compositor() override;
    const TrayColors& trayColors() override;
    // Raw button presses from XInput 2.2 on a connection of the watch's own; where the display
    // lacks it, presses in our own windows and the loss of focus.
    std::unique_ptr<PointerWatch> watchPointer() override;
    WindowFocus& windowFocus() override;
    WindowDesktops& windowDesktops() override;

private:
    std::unique_ptr<X11GlobalKeys> globalKeys;
    std::unique_ptr<X11WindowList> windowList;
    std::unique_ptr<X11Compositor> compositing;
    std::unique_ptr<X11TrayColors> tray;
    std::unique_ptr<X11WindowFocus> focus;
    std::unique_ptr<X11WindowDesktops> desktops;
};
