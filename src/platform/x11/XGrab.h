#pragma once
// Pixels and monitors of an X screen through plain xcb, shared by the app and the screenshot tool
// (which must start without a toolkit, so nothing here uses Qt).

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace XGrab {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    Rect intersected(const Rect& other) const;
};

// 32-bit pixels in the server's byte order for depth 24 (blue, green, red, unused on little-endian
// machines), rows of `stride` bytes. The bytes live as long as the Pixels object.
struct Pixels {
    int width = 0;
    int height = 0;
    int stride = 0;
    const uint8_t* data = nullptr;
    std::shared_ptr<void> owner;
    // The fourth byte is alpha (premultiplied colour), as read from a depth-32 window.
    bool alpha = false;
};

// The monitors in the order users count them: the primary first, then RandR's order. When RandR
// names none, the whole root is the one monitor.
std::vector<Rect> monitors(xcb_connection_t* c, xcb_screen_t* screen);

// The top-level ancestor of a window (the window manager's frame when there is one), or
// XCB_WINDOW_NONE when the window does not exist.
xcb_window_t topLevel(xcb_connection_t* c, xcb_window_t root, xcb_window_t window);

// The rectangle of a window in root coordinates, border included; empty when it does not exist.
Rect geometryInRoot(xcb_connection_t* c, xcb_window_t root, xcb_window_t window);

// Whether drawables of this depth (24, or 32 with alpha) are stored as 32 bits per pixel,
// little-endian: the one layout the readers of Pixels understand.
bool supportedDepth(xcb_connection_t* c, uint8_t depth);

// Reads rectangles of a drawable. Keeps one shared-memory segment between calls, grown as needed,
// so repeated grabs cost one request and one copy; falls back to GetImage where the server cannot
// share memory with us (another machine, another IPC namespace). Not thread-safe.
class Grabber {
public:
    explicit Grabber(xcb_connection_t* c);
    ~Grabber();
    Grabber(const Grabber&) = delete;
    Grabber& operator=(const Grabber&) = delete;

    // The pixels of rect (which must lie inside the drawable). On failure returns false and says why.
    // With borrow, the pixels point into the shared segment and stay valid only until the next grab.
    bool grab(xcb_drawable_t drawable, const Rect& rect, Pixels& out, std::string& error, bool borrow = false);

    // A grab whose rows come in bands, so that work on the top of the picture can start while the server
    // still copies the rest. requestBands sends one request per band and points out at the shared segment
    // (valid until the next grab); false when shared memory cannot be used (grab() then).
    bool requestBands(xcb_drawable_t drawable, const Rect& rect, int bands, Pixels& out);
    // Waits for the bands in order and calls arrived(rows) with the rows from the top that are in. False,
    // with the reason, when a band could not be read; an unusable segment then stays mapped for the rows that
    // came, and is let go by the next grab.
    bool receiveBands(const std::function<void(int rows)>& arrived, std::string& error);

    bool usesSharedMemory() const { return segment != 0; }

private:
    bool ensureSegment(size_t bytes);
    void dropSegment();
    bool grabPlain(xcb_drawable_t drawable, const Rect& rect, Pixels& out, std::string& error);

    xcb_connection_t* c;
    bool shmAvailable = false;
    xcb_shm_seg_t segment = 0;
    int shmId = -1;
    uint8_t* memory = nullptr;
    size_t capacity = 0;
    struct Band {
        xcb_shm_get_image_cookie_t cookie;
        int rowsTo;
        size_t bytesFrom, bytesTo; // where its rows lie in the segment
    };
    std::vector<Band> pending;
};

} // namespace XGrab
