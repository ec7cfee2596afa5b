#include "Slice.h"

#include "platform/x11/XcbReply.h"

#include <xcb/xcb_keysyms.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace Slice {

namespace {

constexpr xcb_keysym_t escapeKey = 0xff1b;
constexpr uint16_t crosshairGlyph = 34; // in the standard cursor font
// The server answers a map within milliseconds; one that never reports it must not hang us.
constexpr int mapWaitMs = 5000;
// A slice nobody finishes ends by itself, so a forgotten overlay never holds the screen for good.
constexpr auto idleLimit = std::chrono::minutes(10);
// How often the keyboard is asked for while the hot key that started us still holds it.
constexpr auto keyboardRetry = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

struct Selection {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    XGrab::Rect rect() const { return {std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0)}; }
};

class Overlay {
public:
    Overlay(xcb_connection_t* connection, xcb_screen_t* s) : c(connection), screen(s) {}
    ~Overlay() {
        xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        if (window)
            xcb_destroy_window(c, window);
        if (frozen)
            xcb_free_pixmap(c, frozen);
        for (xcb_gcontext_t gc : {copyGc, lightGc, darkGc})
            if (gc)
                xcb_free_gc(c, gc);
        if (cursor)
            xcb_free_cursor(c, cursor);
        if (symbols)
            xcb_key_symbols_free(symbols);
        xcb_flush(c);
    }

    bool open(std::string& error) {
        const uint16_t w = screen->width_in_pixels, h = screen->height_in_pixels;
        // The frozen picture is a server-side copy of the whole root: no pixels travel to us
        // until the user has chosen.
        frozen = xcb_generate_id(c);
        xcb_create_pixmap(c, screen->root_depth, frozen, screen->root, w, h);
        copyGc = xcb_generate_id(c);
        const uint32_t inferiors[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS};
        xcb_create_gc(c, copyGc, frozen, XCB_GC_SUBWINDOW_MODE, inferiors);
        XcbReply<xcb_generic_error_t> failed(
            xcb_request_check(c, xcb_copy_area_checked(c, screen->root, frozen, copyGc, 0, 0, 0, 0, w, h)));
        if (failed) {
            error = "could not create image from the display";
            return false;
        }
        const uint32_t light[] = {screen->white_pixel, 1};
        const uint32_t dark[] = {screen->black_pixel, 3};
        lightGc = xcb_generate_id(c);
        darkGc = xcb_generate_id(c);
        xcb_create_gc(c, lightGc, frozen, XCB_GC_FOREGROUND | XCB_GC_LINE_WIDTH, light);
        xcb_create_gc(c, darkGc, frozen, XCB_GC_FOREGROUND | XCB_GC_LINE_WIDTH, dark);

        const xcb_font_t font = xcb_generate_id(c);
        xcb_open_font(c, font, 6, "cursor");
        cursor = xcb_generate_id(c);
        xcb_create_glyph_cursor(c, cursor, font, font, crosshairGlyph, crosshairGlyph + 1, 0, 0, 0, 0xffff, 0xffff,
                                0xffff);
        xcb_close_font(c, font);

        window = xcb_generate_id(c);
        const uint32_t values[] = {frozen, 1,
                                   XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                       XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                       XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                                   cursor};
        const xcb_void_cookie_t created = xcb_create_window_checked(
            c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            screen->root_visual, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR,
            values);
        const char title[] = "pictolarium-screencapture";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof title - 1,
                            title);
        const xcb_void_cookie_t mapped = xcb_map_window_checked(c, window);
        for (const xcb_void_cookie_t& cookie : {created, mapped}) {
            XcbReply<xcb_generic_error_t> problem(xcb_request_check(c, cookie));
            if (problem) {
                error = "could not open the slice overlay (X error " + std::to_string(int(problem->error_code)) + ")";
                return false;
            }
        }
        symbols = xcb_key_symbols_alloc(c);
        return waitMapped(error) && grabPointer(error);
    }

    Outcome loop(XGrab::Pixels& out, std::string& error) {
        Selection selection;
        bool dragging = false;
        const Clock::time_point giveUp = Clock::now() + idleLimit;
        Clock::time_point nextKeyboardTry = Clock::now();
        while (true) {
            // Without the keyboard the slice still works with the pointer; Escape counts once the
            // key that started us is up and the keyboard is ours.
            if (!keyboard && Clock::now() >= nextKeyboardTry) {
                keyboard = grabKeyboard();
                nextKeyboardTry = Clock::now() + keyboardRetry;
            }
            XcbReply<xcb_generic_event_t> event(nextEvent(keyboard ? 500 : 50));
            if (xcb_connection_has_error(c)) {
                error = "lost the connection to the display";
                return Outcome::Failed;
            }
            if (!event) {
                if (Clock::now() >= giveUp) {
                    error = "the slice was left open too long";
                    return Outcome::Failed;
                }
                continue;
            }
            switch (event->response_type & 0x7f) {
            case XCB_EXPOSE:
                if (dragging)
                    drawOutline(selection.rect());
                break;
            case XCB_KEY_PRESS: {
                auto* key = reinterpret_cast<xcb_key_press_event_t*>(event.get());
                if (symbols && xcb_key_symbols_get_keysym(symbols, key->detail, 0) == escapeKey)
                    return Outcome::Cancelled;
                break;
            }
            case XCB_BUTTON_PRESS: {
                auto* press = reinterpret_cast<xcb_button_press_event_t*>(event.get());
                if (press->detail != 1 || dragging)
                    break;
                dragging = true;
                selection = {press->root_x, press->root_y, press->root_x, press->root_y};
                break;
            }
            case XCB_MOTION_NOTIFY: {
                auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(event.get());
                if (!dragging)
                    break;
                const XGrab::Rect before = selection.rect();
                selection.x1 = motion->root_x;
                selection.y1 = motion->root_y;
                restore(before);
                drawOutline(selection.rect());
                xcb_flush(c);
                break;
            }
            case XCB_BUTTON_RELEASE: {
                auto* release = reinterpret_cast<xcb_button_release_event_t*>(event.get());
                if (release->detail != 1 || !dragging)
                    break;
                selection.x1 = release->root_x;
                selection.y1 = release->root_y;
                const XGrab::Rect whole{0, 0, screen->width_in_pixels, screen->height_in_pixels};
                const XGrab::Rect chosen = selection.rect().intersected(whole);
                if (chosen.empty())
                    return Outcome::Cancelled; // a click, not a drag
                XGrab::Grabber grabber(c);
                return grabber.grab(frozen, chosen, out, error) ? Outcome::Taken : Outcome::Failed;
            }
            default:
                break;
            }
        }
    }

private:
    // The next event, or nothing when none came within ms.
    xcb_generic_event_t* nextEvent(int ms) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(c))
            return event;
        if (xcb_connection_has_error(c))
            return nullptr;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, ms);
        return xcb_poll_for_event(c);
    }

    bool waitMapped(std::string& error) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(mapWaitMs);
        while (Clock::now() < deadline) {
            XcbReply<xcb_generic_event_t> event(nextEvent(50));
            if (xcb_connection_has_error(c)) {
                error = "lost the connection to the display";
                return false;
            }
            if (event && (event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                return true;
        }
        error = "the slice overlay did not appear";
        return false;
    }

    // Another client may hold the pointer for a moment (a menu closing): keep asking for a while.
    bool grabPointer(std::string& error) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (true) {
            XcbReply<xcb_grab_pointer_reply_t> reply(xcb_grab_pointer_reply(
                c,
                xcb_grab_pointer(c, 0, window,
                                 XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                     XCB_EVENT_MASK_POINTER_MOTION,
                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE, cursor, XCB_CURRENT_TIME),
                nullptr));
            if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS)
                break;
            if (Clock::now() >= deadline) {
                error = "could not grab the pointer";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // The capture key that started us is usually still held, and the hot-key grab that saw it
        // press keeps the keyboard until it is released: the loop asks again until then.
        keyboard = grabKeyboard();
        return true;
    }

    bool grabKeyboard() {
        XcbReply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 0, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
        return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    }

    void restore(const XGrab::Rect& r) {
        // The outline is up to three pixels wide around the rectangle.
        const int x = r.x - 2, y = r.y - 2, w = r.width + 5, h = r.height + 5;
        const int edges[4][4] = {{x, y, w, 4}, {x, y + h - 4, w, 4}, {x, y, 4, h}, {x + w - 4, y, 4, h}};
        for (const auto& e : edges)
            xcb_copy_area(c, frozen, window, copyGc, int16_t(e[0]), int16_t(e[1]), int16_t(e[0]), int16_t(e[1]),
                          uint16_t(std::max(e[2], 0)), uint16_t(std::max(e[3], 0)));
    }

    void drawOutline(const XGrab::Rect& r) {
        if (r.width <= 0 && r.height <= 0)
            return;
        const xcb_rectangle_t outline{int16_t(r.x), int16_t(r.y), uint16_t(r.width), uint16_t(r.height)};
        // A dark line under a light one stays visible on any picture.
        xcb_poly_rectangle(c, window, darkGc, 1, &outline);
        xcb_poly_rectangle(c, window, lightGc, 1, &outline);
    }

public:
    int waitMs = 2000;

private:
    xcb_connection_t* c;
    xcb_screen_t* screen;
    xcb_window_t window = 0;
    xcb_pixmap_t frozen = 0;
    xcb_gcontext_t copyGc = 0, lightGc = 0, darkGc = 0;
    xcb_cursor_t cursor = 0;
    xcb_key_symbols_t* symbols = nullptr;
    bool keyboard = false;
};

} // namespace

Outcome run(xcb_connection_t* c, xcb_screen_t* screen, XGrab::Pixels& out, std::string& error, int keyboardWaitMs) {
    Overlay overlay(c, screen);
    overlay.waitMs = keyboardWaitMs;
    if (!overlay.open(error))
        return Outcome::Failed;
    return overlay.loop(out, error);
}

} // namespace Slice
