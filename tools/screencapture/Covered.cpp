#include "Covered.h"

#include "platform/x11/XcbReply.h"

#include <xcb/composite.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace Covered {

namespace {

using Clock = std::chrono::steady_clock;

// A program answers an exposure within a few milliseconds on an idle machine; the quiet spell
// gives a loaded one time to finish the text it draws over the background the server painted.
constexpr auto quietSpell = std::chrono::milliseconds(100);
// A program that does not paint at all (busy, hung) gets blank parts rather than a stalled capture.
constexpr auto longestWait = std::chrono::milliseconds(1500);

bool present(xcb_connection_t* c, xcb_extension_t* id) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, id);
    return ext && ext->present;
}

} // namespace

std::vector<XGrab::Rect> parts(xcb_connection_t* c, xcb_window_t root, xcb_window_t top, const XGrab::Rect& frame) {
    std::vector<XGrab::Rect> out;
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    if (!tree)
        return out;
    // Children come bottom first: everything after the window is in front of it.
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const xcb_window_t* self = std::find(children, children + count, top);
    if (self == children + count)
        return out;
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
    for (const xcb_window_t* w = self + 1; w != children + count; ++w)
        cookies.emplace_back(xcb_get_window_attributes(c, *w), xcb_get_geometry(c, *w));
    for (const auto& [attributesCookie, geometryCookie] : cookies) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        const int border = geometry->border_width;
        const XGrab::Rect above{geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border};
        const XGrab::Rect hidden = above.intersected(frame);
        if (!hidden.empty())
            out.push_back({hidden.x - frame.x, hidden.y - frame.y, hidden.width, hidden.height});
    }
    return out;
}

OwnPixels::OwnPixels(xcb_connection_t* connection, xcb_window_t window, const XGrab::Rect& frame,
                     std::vector<XGrab::Rect> hidden)
    : c(connection), top(window) {
    if (!present(c, &xcb_composite_id) || !present(c, &xcb_damage_id))
        return;
    XcbReply<xcb_composite_query_version_reply_t> composite(
        xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 2), nullptr));
    XcbReply<xcb_damage_query_version_reply_t> damaged(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    if (!composite || !damaged)
        return;
    for (const XGrab::Rect& rect : hidden) {
        const XGrab::Rect inside = rect.intersected({0, 0, frame.width, frame.height});
        if (!inside.empty())
            partsLeft.push_back({inside, std::vector<uint8_t>(size_t(inside.width) * size_t(inside.height)),
                                 long(inside.width) * inside.height});
    }
    // Watching first: the server paints a background into the parts that come to light, and the
    // window's programs answer the exposure, as soon as the window has a picture of its own.
    damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, top, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    XcbReply<xcb_generic_error_t> refused(
        xcb_request_check(c, xcb_composite_redirect_window_checked(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    if (refused)
        return;
    redirected = true;
    const xcb_pixmap_t named = xcb_generate_id(c);
    XcbReply<xcb_generic_error_t> unnamed(
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, named)));
    if (unnamed)
        return;
    pixmap = named;
    wait(xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY);
}

OwnPixels::~OwnPixels() {
    if (pixmap != XCB_NONE)
        xcb_free_pixmap(c, pixmap);
    if (redirected)
        xcb_composite_unredirect_window(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    if (damage != XCB_NONE)
        xcb_damage_destroy(c, damage);
    xcb_flush(c);
}

void OwnPixels::paint(const XGrab::Rect& area) {
    for (Part& part : partsLeft) {
        const XGrab::Rect hit = part.rect.intersected(area);
        if (hit.empty())
            continue;
        for (int y = hit.y; y < hit.y + hit.height; ++y) {
            uint8_t* row = part.painted.data() + size_t(y - part.rect.y) * size_t(part.rect.width);
            for (int x = hit.x; x < hit.x + hit.width; ++x)
                if (!row[x - part.rect.x]) {
                    row[x - part.rect.x] = 1;
                    --part.left;
                }
        }
    }
}

bool OwnPixels::allPainted() const {
    return std::all_of(partsLeft.begin(), partsLeft.end(), [](const Part& p) { return p.left == 0; });
}

void OwnPixels::wait(uint8_t damageEvent) {
    const Clock::time_point start = Clock::now();
    Clock::time_point lastPaint = start;
    xcb_flush(c);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == damageEvent) {
                const auto* notify = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
                paint({notify->area.x, notify->area.y, notify->area.width, notify->area.height});
                lastPaint = Clock::now();
            }
            std::free(event);
        }
        const Clock::time_point now = Clock::now();
        if (now - start >= longestWait || (allPainted() && now - lastPaint >= quietSpell))
            return;
        if (xcb_connection_has_error(c))
            return;
        const auto until = allPainted() ? std::min(start + longestWait, lastPaint + quietSpell) : start + longestWait;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, int(std::clamp<long long>(left, 1, 50)));
    }
}

std::vector<XGrab::Rect> OwnPixels::unpainted() const {
    std::vector<XGrab::Rect> out;
    for (const Part& part : partsLeft) {
        if (part.left == 0)
            continue;
        for (int y = 0; y < part.rect.height; ++y) {
            const uint8_t* row = part.painted.data() + size_t(y) * size_t(part.rect.width);
            for (int x = 0; x < part.rect.width;) {
                if (row[x]) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end < part.rect.width && !row[end])
                    ++end;
                out.push_back({part.rect.x + x, part.rect.y + y, end - x, 1});
                x = end;
            }
        }
    }
    return out;
}

} // namespace Covered
