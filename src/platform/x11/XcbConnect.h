#pragma once
// A private connection of our own to the X server, for facilities that must not share Qt's.

#include <QByteArray>

#include <xcb/xcb.h>

struct XcbConnection {
    xcb_connection_t* connection = nullptr; // owned by the caller: xcb_disconnect when done
    xcb_screen_t* screen = nullptr;
    int screenNumber = 0;
};

// Connects to `display` (the environment's when empty) and finds its default screen. Both pointers are null
// when the server can't be reached or names no such screen; nothing is left open then.
XcbConnection xcbConnect(const QByteArray& display = {});
