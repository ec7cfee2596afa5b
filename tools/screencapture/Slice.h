#pragma once
// The interactive slice: the screen frozen as it was, a crosshair, and a dragged rectangle.

#include "platform/x11/XGrab.h"

#include <string>

namespace Slice {

enum class Outcome { Taken, Cancelled, Failed };

// Freezes every monitor, lets the user drag a rectangle and returns its pixels. Escape, or a click
// that does not move, cancels. Waits up to keyboardWaitMs for the keyboard and pointer when another
// client holds them (the hot key that started us is usually still down).
Outcome run(xcb_connection_t* c, xcb_screen_t* screen, XGrab::Pixels& out, std::string& error,
            int keyboardWaitMs = 2000);

} // namespace Slice
