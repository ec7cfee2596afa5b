#include "platform/x11/XGrab.h"

#include "platform/x11/XcbReply.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22 // Linux 5.14; older kernels refuse it and the pages are mapped as they are read
#endif

namespace XGrab {

Rect Rect::intersected(const Rect& other) const {
    const int left = std::max(x, other.x), top = std::max(y, other.y);
    const int right = std::min(x + width, other.x + other.width);
    const int bottom = std::min(y + height, other.y + other.height);
    if (right <= left || bottom <= top)
        return {left, top, 0, 0};
    return {left, top, right - left, bottom - top};
}

std::vector<Rect> monitors(xcb_connection_t* c, xcb_screen_t* screen) {
    std::vector<Rect> result;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (ext && ext->present) {
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            XcbReply<xcb_randr_get_monitors_reply_t> reply(
                xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr));
            if (reply) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    const Rect r{it.data->x, it.data->y, it.data->width, it.data->height};
                    if (r.empty())
                        continue;
                    if (it.data->primary)
                        result.insert(result.begin(), r);
                    else
                        result.push_back(r);
                }
            }
        }
    }
    if (result.empty())
        result.push_back({0, 0, screen->width_in_pixels, screen->height_in_pixels});
    return result;
}

xcb_window_t topLevel(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    xcb_window_t current = window;
    // A real tree is a few levels deep; the bound keeps a server that lies from looping us.
    for (int depth = 0; depth < 64; ++depth) {
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr));
        if (!tree)
            return XCB_WINDOW_NONE;
        if (current == root)
            return root;
        if (tree->parent == root || tree->parent == XCB_WINDOW_NONE)
            return current;
        current = tree->parent;
    }
    return XCB_WINDOW_NONE;
}

Rect geometryInRoot(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto translateCookie = xcb_translate_coordinates(c, window, root, 0, 0);
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, translateCookie, nullptr));
    if (!geometry || !origin)
        return {};
    // The translated origin is inside the border; the picture of a window includes it.
    const int border = geometry->border_width;
    return {origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
            geometry->height + 2 * border};
}

bool supportedDepth(xcb_connection_t* c, uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || (depth != 24 && depth != 32))
        return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            return it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    return false;
}

Grabber::Grabber(xcb_connection_t* connection) : c(connection) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (ext && ext->present) {
        XcbReply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        shmAvailable = bool(version);
    }
}

Grabber::~Grabber() {
    dropSegment();
}

void Grabber::dropSegment() {
    if (segment) {
        xcb_shm_detach(c, segment);
        xcb_flush(c);
        segment = 0;
    }
    if (memory) {
        shmdt(memory);
        memory = nullptr;
    }
    capacity = 0;
}

bool Grabber::ensureSegment(size_t bytes) {
    if (segment && capacity >= bytes)
        return true;
    dropSegment();
    // Round up so that a window growing by a few pixels does not cost a new segment each time.
    const size_t size = (bytes + (1u << 20) - 1) & ~size_t((1u << 20) - 1);
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(c);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(c, xcb_shm_attach_checked(c, seg, uint32_t(id), 0)));
    // Marked for removal at once: the kernel frees it when both sides have detached, even if we crash.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(address);
        return false;
    }
    segment = seg;
    shmId = id;
    memory = static_cast<uint8_t*>(address);
    capacity = size;
    return true;
}

bool Grabber::grab(xcb_drawable_t drawable, const Rect& rect, Pixels& out, std::string& error, bool borrow) {
    if (rect.empty()) {
        error = "nothing to capture: empty area";
        return false;
    }
    const size_t stride = size_t(rect.width) * 4;
    const size_t bytes = stride * size_t(rect.height);
    if (!shmAvailable)
        dropSegment();
    if (shmAvailable && ensureSegment(bytes)) {
        xcb_generic_error_t* raw = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, drawable, int16_t(rect.x), int16_t(rect.y), uint16_t(rect.width),
                              uint16_t(rect.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
            &raw));
        XcbReply<xcb_generic_error_t> failure(raw);
        if (reply) {
            out.width = rect.width;
            out.height = rect.height;
            out.stride = int(stride);
            if (borrow) {
                out.data = memory;
                out.owner.reset();
            } else {
                auto* copy = static_cast<uint8_t*>(std::malloc(bytes));
                if (!copy) {
                    error = "out of memory";
                    return false;
                }
                std::memcpy(copy, memory, bytes);
                out.data = copy;
                out.owner.reset(copy, std::free);
            }
            return true;
        }
        if (failure && failure->error_code != XCB_MATCH) {
            // Anything but a bad area means the segment itself is unusable: stop trying it.
            dropSegment();
            shmAvailable = false;
        }
    }
    return grabPlain(drawable, rect, out, error);
}

bool Grabber::requestBands(xcb_drawable_t drawable, const Rect& rect, int bands, Pixels& out) {
    const size_t stride = size_t(rect.width) * 4;
    if (rect.empty() || !shmAvailable || !ensureSegment(stride * size_t(rect.height)))
        return false;
    pending.clear();
    bands = std::clamp(bands, 1, rect.height);
    for (int i = 0; i < bands; ++i) {
        const int from = int(int64_t(rect.height) * i / bands), to = int(int64_t(rect.height) * (i + 1) / bands);
        const xcb_shm_get_image_cookie_t cookie = xcb_shm_get_image(
            c, drawable, int16_t(rect.x), int16_t(rect.y + from), uint16_t(rect.width), uint16_t(to - from), ~0u,
            XCB_IMAGE_FORMAT_Z_PIXMAP, segment, uint32_t(stride * size_t(from)));
        pending.push_back({cookie, to, stride * size_t(from), stride * size_t(to)});
    }
    xcb_flush(c);
    out.width = rect.width;
    out.height = rect.height;
    out.stride = int(stride);
    out.data = memory;
    out.owner.reset();
    return true;
}

bool Grabber::receiveBands(const std::function<void(int rows)>& arrived, std::string& error) {
    bool ok = true;
    bool unusable = false;
    // Every reply is collected, also after a failure, so none is left queued on the connection.
    for (const Band& band : pending) {
        xcb_generic_error_t* raw = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(c, band.cookie, &raw));
        XcbReply<xcb_generic_error_t> failure(raw);
        if (ok && reply) {
            // Our side of the segment is mapped a page at a time as it is read, which on some machines costs
            // more than the compression: the band's pages are mapped in one call here, while the server is
            // busy with the next band, rather than one fault at a time by the threads that read them.
            const size_t page = size_t(sysconf(_SC_PAGESIZE));
            const size_t from = band.bytesFrom & ~(page - 1);
            madvise(memory + from, band.bytesTo - from, MADV_POPULATE_READ);
            arrived(band.rowsTo);
            continue;
        }
        if (!reply && (!failure || failure->error_code != XCB_MATCH))
            unusable = true;
        ok = false;
    }
    pending.clear();
    if (!ok) {
        error = "could not create image from the display";
        // Not used again, but still mapped: a writer may be compressing the bands that came (the display going
        // away mid-grab is one such case). The next grab or the grabber's end lets go of it.
        if (unusable)
            shmAvailable = false;
    }
    return ok;
}

bool Grabber::grabPlain(xcb_drawable_t drawable, const Rect& rect, Pixels& out, std::string& error) {
    xcb_generic_error_t* raw = nullptr;
    auto* reply = xcb_get_image_reply(c,
                                      xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(rect.x),
                                                    int16_t(rect.y), uint16_t(rect.width), uint16_t(rect.height), ~0u),
                                      &raw);
    XcbReply<xcb_generic_error_t> failure(raw);
    const size_t stride = size_t(rect.width) * 4;
    if (!reply || size_t(xcb_get_image_data_length(reply)) < stride * size_t(rect.height)) {
        std::free(reply);
        error = "could not create image from the display";
        return false;
    }
    out.width = rect.width;
    out.height = rect.height;
    out.stride = int(stride);
    out.data = xcb_get_image_data(reply);
    out.owner.reset(static_cast<void*>(reply), std::free);
    return true;
}

} // namespace XGrab
