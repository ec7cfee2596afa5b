#include "platform/x11/X11Platform.h"

#include "platform/FocusPointerWatch.h"
#include "platform/x11/X11ClockGuard.h"
#include "platform/x11/X11Compositor.h"
#include "platform/x11/X11DesktopChecks.h"
#include "platform/x11/X11Desktops.h"
#include "platform/x11/X11DragProbe.h"
#include "platform/x11/X11GlobalKeys.h"
#include "platform/x11/X11TrayColors.h"
#include "platform/x11/X11WindowFocus.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/x11/X11WindowList.h"
#include "platform/x11/XInputPointerWatch.h"

#include <QGuiApplication>

X11Platform::X11Platform()
    : globalKeys(std::make_unique<X11GlobalKeys>()), windowList(std::make_unique<X11WindowList>()),
      compositing(std::make_unique<X11Compositor>()), tray(std::make_unique<X11TrayColors>()),
      focus(std::make_unique<X11WindowFocus>()), desktopChecks(std::make_unique<X11DesktopChecks>()),
      virtualDesktops(std::make_unique<X11Desktops>()), hints(std::make_unique<X11WindowHints>()) {
    // Before any other program can hand Qt a time: one made up beyond the server's clock would spoil every
    // later copy and drag.
    X11ClockGuard::install();
}

X11Platform::~X11Platform() = default;

GlobalKeys& X11Platform::keys() {
    return *globalKeys;
}

WindowList& X11Platform::windows() {
    return *windowList;
}

const Compositor& X11Platform::compositor() {
    return *compositing;
}

const TrayColors& X11Platform::trayColors() {
    return *tray;
}

std::unique_ptr<PointerWatch> X11Platform::watchPointer() {
    if (QGuiApplication::platformName() == u"xcb")
        if (auto watch = XInputPointerWatch::open())
            return watch;
    return std::make_unique<FocusPointerWatch>();
}

WindowFocus& X11Platform::windowFocus() {
    return *focus;
}

const DesktopChecks& X11Platform::checks() {
    return *desktopChecks;
}

DragProbe* X11Platform::dragProbe() {
    if (!dragsOpened && QGuiApplication::platformName() == u"xcb")
        drags = X11DragProbe::open();
    dragsOpened = true;
    return drags.get();
}

Desktops& X11Platform::desktops() {
    return *virtualDesktops;
}

WindowHints& X11Platform::windowHints() {
    return *hints;
}
