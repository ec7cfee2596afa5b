#pragma once
// The compositor check of an X screen: is the _NET_WM_CM_S<n> selection owned?

#include "platform/Compositor.h"

class X11Compositor final : public Compositor {
public:
    // Asks on a connection of its own each time: asked rarely, and a compositor may come or go at
    // any time. False when the application does not run on X.
    bool active() const override;
};
