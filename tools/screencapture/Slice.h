#pragma once
// The interactive slice: the screen frozen as it was, a crosshair, and a dragged rectangle.

#include "platform/x11/XGrab.h"

#include <string>

namespace Slice {

enum class Outcome { Taken, Cancelled, Failed };

// Freezes every monitor, lets the user drag a rectangle and returns its pixels. Escape, or a click
// that does not move, cancels. Waits up to keyboardWaitMs for the pointer when another client holds
// it; the keyboard is taken once the hot key that started us is released, and the slice works with
// the pointer alone until then, however long the key is held. Ends by itself after ten minutes.
Outcome run(xcb_connection_t* c, xcb_screen_t* screen, XGrab::Pixels& out, std::string& error,
            int keyboardWaitMs = 2000);

} // namespace Slice
