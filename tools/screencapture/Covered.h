#pragma once
// A window's own pixels where other windows lie over it, on a desktop without a compositor: the
// screen shows the windows in front there, which must not end up in the window's picture.

#include "platform/x11/XGrab.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <vector>

namespace Covered {

// The parts of `top` (a child of the root at `frame` in root coordinates) that windows stacked
// above it hide, in the coordinates of `top`'s own picture (its border's outer corner at 0, 0).
std::vector<XGrab::Rect> parts(xcb_connection_t* c, xcb_window_t root, xcb_window_t top, const XGrab::Rect& frame);

// Redirects `top` into a picture of its own for as long as it lives and waits until the window's
// programs have painted the parts that were hidden. The screen keeps showing the same pixels
// meanwhile; the window goes back to the screen as it was when this object goes.
class OwnPixels {
public:
    OwnPixels(xcb_connection_t* c, xcb_window_t top, const XGrab::Rect& frame, std::vector<XGrab::Rect> hidden);
    ~OwnPixels();
    OwnPixels(const OwnPixels&) = delete;
    OwnPixels& operator=(const OwnPixels&) = delete;

    // False when the server cannot redirect the window; then nothing of it was changed.
    bool ok() const { return pixmap != XCB_NONE; }
    xcb_pixmap_t picture() const { return pixmap; }
    // The hidden parts no one painted in time, still holding whatever the screen had there: to be
    // blanked in the picture (coordinates as for `parts`).
    std::vector<XGrab::Rect> unpainted() const;

private:
    struct Part {
        XGrab::Rect rect;
        std::vector<uint8_t> painted; // one byte per pixel of rect
        long left = 0;
    };
    void wait(uint8_t damageEvent);
    void paint(const XGrab::Rect& area);
    bool allPainted() const;

    xcb_connection_t* c;
    xcb_window_t top;
    std::vector<Part> partsLeft;
    xcb_damage_damage_t damage = XCB_NONE;
    bool redirected = false;
    xcb_pixmap_t pixmap = XCB_NONE;
};

} // namespace Covered
