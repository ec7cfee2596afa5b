#pragma once
// All desktops through the EWMH: _NET_WM_DESKTOP 0xFFFFFFFF, set on the window for when it is mapped and
// asked of the window manager for when it already is.

#include "platform/WindowDesktops.h"

class X11WindowDesktops final : public WindowDesktops {
public:
    bool showOnAllDesktops(quint32 window) override;
};
