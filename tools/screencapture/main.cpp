// pictolarium-screencapture: writes a PNG of one window, one monitor or a dragged slice of the
// screen. Window and monitor captures run without any toolkit so that they start and end quickly.
//
//   pictolarium-screencapture -l <window> [-o] [-x] [-t png] <file>
//   pictolarium-screencapture -D <display> [-x] [-t png] <file>
//   pictolarium-screencapture -i -s [-x] [-t png] <file>
//
// -o and -x are accepted for compatibility (there is no shadow and no sound to leave out). The file
// is never replaced: when the name is taken, " 2", " 3", ... go before the extension. The path
// written is printed on standard output; failures are told on standard error with a non-zero exit.

#include "Covered.h"
#include "PngFile.h"
#include "Slice.h"
#include "platform/x11/XGrab.h"
#include "platform/x11/XcbReply.h"

#include <xcb/composite.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace {

enum class Mode { None, Window, Display, Slice };

struct Request {
    Mode mode = Mode::None;
    uint32_t window = 0;
    int display = 0;
    bool selection = false;
    std::string target;
};

constexpr int failed = 1;
constexpr int misused = 2;

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "pictolarium-screencapture: %s\n", message.c_str());
    return code;
}

bool number(const char* text, unsigned long max, unsigned long& value) {
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

// Returns an empty string when the arguments make a request, else what is wrong with them.
std::string parse(int argc, char** argv, Request& request) {
    auto setMode = [&](Mode mode) {
        if (request.mode != Mode::None && request.mode != mode)
            return false;
        request.mode = mode;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long value = 0;
        if (arg == "-l") {
            if (!number(next, 0xffffffffUL, value) || value == 0)
                return "-l needs a window id";
            if (!setMode(Mode::Window))
                return "choose one of -l, -D and -i";
            request.window = uint32_t(value);
            ++i;
        } else if (arg == "-D") {
            if (!number(next, 64, value) || value == 0)
                return "-D needs a display number from 1";
            if (!setMode(Mode::Display))
                return "choose one of -l, -D and -i";
            request.display = int(value);
            ++i;
        } else if (arg == "-t") {
            if (!next)
                return "-t needs a format";
            if (std::strcmp(next, "png") != 0)
                return std::string("unsupported format: ") + next;
            ++i;
        } else if (arg == "-i") {
            if (!setMode(Mode::Slice))
                return "choose one of -l, -D and -i";
        } else if (arg == "-s") {
            request.selection = true;
        } else if (arg == "-o" || arg == "-x") {
            // Nothing to do: no shadow, no sound.
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else if (request.target.empty() && !arg.empty()) {
            request.target = arg;
        } else {
            return "more than one file given";
        }
    }
    if (request.mode == Mode::None)
        return "choose one of -l, -D and -i";
    if (request.selection && request.mode != Mode::Slice)
        return "-s goes with -i";
    if (request.target.empty())
        return "no file given";
    return {};
}

struct Display {
    Display() {
        c = xcb_connect(nullptr, &number);
        if (xcb_connection_has_error(c))
            return;
        auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < number && it.rem; ++i)
            xcb_screen_next(&it);
        screen = it.data;
    }
    ~Display() { xcb_disconnect(c); }
    bool ok() const { return screen && !xcb_connection_has_error(c); }
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    int number = 0;
};

// Where a capture reads its pixels: an area of the root, or of a window's own picture.
struct Source {
    xcb_drawable_t drawable = XCB_NONE;
    XGrab::Rect area;
    bool alpha = false;
    // Keeps a covered window's own picture until it is read.
    std::unique_ptr<Covered::OwnPixels> own;
    // Parts of the area (in the drawable's coordinates) that hold other windows' pixels: left blank.
    std::vector<XGrab::Rect> blank;
};

// The invisible shadow margins a window that draws its own frame declares (left, right, top,
// bottom); nothing when it declares none.
std::optional<std::array<int, 4>> shadowMargins(const Display& d, xcb_window_t window) {
    static const char name[] = "_GTK_FRAME_EXTENTS";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(d.c, xcb_intern_atom(d.c, 1, uint16_t(sizeof name - 1), name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return std::nullopt;
    XcbReply<xcb_get_property_reply_t> value(
        xcb_get_property_reply(d.c, xcb_get_property(d.c, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!value || value->format != 32 || xcb_get_property_value_length(value.get()) != 16)
        return std::nullopt;
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(value.get()));
    std::array<int, 4> margins{};
    for (size_t i = 0; i < 4; ++i) {
        if (v[i] > 1000)
            return std::nullopt; // not margins anyone draws
        margins[i] = int(v[i]);
    }
    return margins;
}

// The window's own rectangle (in the coordinates of frame) without its shadow margins.
XGrab::Rect withoutShadow(const XGrab::Rect& client, const std::array<int, 4>& m) {
    return {client.x + m[0], client.y + m[2], client.width - m[0] - m[1], client.height - m[2] - m[3]};
}

// With a compositor at work every window keeps its own picture, so the window comes out alone:
// whole where others cover it or it runs off the edge of the screen. Nothing without one.
std::optional<Source> ownPicture(const Display& d, xcb_window_t top, xcb_pixmap_t& pixmap) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(d.c, &xcb_composite_id);
    if (!ext || !ext->present)
        return std::nullopt;
    const std::string name = "_NET_WM_CM_S" + std::to_string(d.number);
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(d.c, xcb_intern_atom(d.c, 1, uint16_t(name.size()), name.c_str()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return std::nullopt;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(d.c, xcb_get_selection_owner(d.c, atom->atom), nullptr));
    XcbReply<xcb_composite_query_version_reply_t> version(
        xcb_composite_query_version_reply(d.c, xcb_composite_query_version(d.c, 0, 2), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE || !version)
        return std::nullopt;
    const xcb_pixmap_t named = xcb_generate_id(d.c);
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(d.c, xcb_composite_name_window_pixmap_checked(d.c, top, named)));
    if (error)
        return std::nullopt; // the window is not redirected after all
    pixmap = named;
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(d.c, xcb_get_geometry(d.c, named), nullptr));
    if (!geometry || !XGrab::supportedDepth(d.c, geometry->depth))
        return std::nullopt;
    // A window with an alpha channel keeps it: clear parts stay clear in the picture.
    Source source;
    source.drawable = named;
    source.area = {0, 0, geometry->width, geometry->height};
    source.alpha = geometry->depth == 32;
    return source;
}

// The pixels to read, or a message saying why there are none.
std::string sourceOf(const Display& d, const Request& request, Source& source, xcb_pixmap_t& pixmap) {
    source.drawable = d.screen->root;
    XGrab::Rect& area = source.area;
    const XGrab::Rect whole{0, 0, d.screen->width_in_pixels, d.screen->height_in_pixels};
    if (request.mode == Mode::Display) {
        const std::vector<XGrab::Rect> monitors = XGrab::monitors(d.c, d.screen);
        if (request.display > int(monitors.size()))
            return "no display " + std::to_string(request.display) + " (there are " + std::to_string(monitors.size()) +
                   ")";
        area = monitors[size_t(request.display - 1)].intersected(whole);
        return area.empty() ? "display " + std::to_string(request.display) + " is off screen" : std::string();
    }
    // The window manager's frame holds the title bar and borders, which belong to the picture.
    const xcb_window_t top = XGrab::topLevel(d.c, d.screen->root, request.window);
    if (top == XCB_WINDOW_NONE)
        return "no window " + std::to_string(request.window);
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(d.c, xcb_get_window_attributes(d.c, top), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return "window " + std::to_string(request.window) + " is not on screen";
    const std::optional<std::array<int, 4>> margins = shadowMargins(d, request.window);
    const XGrab::Rect frame = XGrab::geometryInRoot(d.c, d.screen->root, top);
    if (std::optional<Source> own = ownPicture(d, top, pixmap)) {
        source = std::move(*own);
        if (margins) {
            XGrab::Rect client = XGrab::geometryInRoot(d.c, d.screen->root, request.window);
            client.x -= frame.x;
            client.y -= frame.y;
            source.area = withoutShadow(client, *margins).intersected(source.area);
            if (source.area.empty())
                return "window " + std::to_string(request.window) + " is all shadow";
        }
        return {};
    }
    area = margins ? withoutShadow(XGrab::geometryInRoot(d.c, d.screen->root, request.window), *margins) : frame;
    area = area.intersected(whole);
    if (area.empty())
        return "window " + std::to_string(request.window) + " is off screen";
    // Where other windows lie over it, the screen shows theirs: read the window from a picture of its own.
    const std::vector<XGrab::Rect> hidden = Covered::parts(d.c, d.screen->root, top, frame);
    if (hidden.empty())
        return {};
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(d.c, xcb_get_geometry(d.c, top), nullptr));
    auto own = geometry && XGrab::supportedDepth(d.c, geometry->depth)
                   ? std::make_unique<Covered::OwnPixels>(d.c, top, frame, hidden)
                   : nullptr;
    if (!own || !own->ok()) {
        // Nothing to read the hidden parts from: better blank than another window's content.
        for (const XGrab::Rect& part : hidden)
            source.blank.push_back({part.x + frame.x, part.y + frame.y, part.width, part.height});
        return {};
    }
    source.drawable = own->picture();
    source.area = {area.x - frame.x, area.y - frame.y, area.width, area.height};
    source.alpha = geometry->depth == 32;
    source.blank = own->unpainted();
    source.own = std::move(own);
    return {};
}

// The pixels with the given parts (in the coordinates the pixels were read from, whose origin is at
// `origin`) made black, or clear where the picture has alpha.
void blankParts(XGrab::Pixels& pixels, const std::vector<XGrab::Rect>& parts, int originX, int originY) {
    if (parts.empty())
        return;
    auto copy = std::make_shared<std::vector<uint8_t>>(pixels.data,
                                                       pixels.data + size_t(pixels.stride) * size_t(pixels.height));
    const XGrab::Rect bounds{0, 0, pixels.width, pixels.height};
    for (const XGrab::Rect& part : parts) {
        const XGrab::Rect r =
            XGrab::Rect{part.x - originX, part.y - originY, part.width, part.height}.intersected(bounds);
        for (int y = r.y; y < r.y + r.height; ++y)
            std::memset(copy->data() + size_t(y) * size_t(pixels.stride) + size_t(r.x) * 4, 0, size_t(r.width) * 4);
    }
    pixels.data = copy->data();
    pixels.owner = copy;
}

// The rows that have come in from the server so far, for the encoding threads to wait on.
class Arrival {
public:
    void set(int rows) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ready = rows;
        }
        changed.notify_all();
    }
    void fail() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            failed = true;
        }
        changed.notify_all();
    }
    bool wait(int rows) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return failed || ready >= rows; });
        return ready >= rows;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    int ready = 0;
    bool failed = false;
};

enum class Streamed { Written, WriteFailed, NotPossible };

// Grabs the area in bands and compresses each strip of rows as soon as they are in, so that the server's
// copy and our compression overlap. NotPossible, with nothing written, when this way is closed (no shared
// memory, a band that could not be read): the caller then grabs the plain way.
Streamed grabWhileWriting(XGrab::Grabber& grabber, const Source& source, const std::string& target,
                          std::string& written, std::string& error) {
    if (!source.blank.empty())
        return Streamed::NotPossible; // the blanked copy needs every row first
    XGrab::Pixels pixels;
    // About a megabyte a band: the first rows are soon there, and the requests stay few.
    const size_t bytes = size_t(source.area.width) * size_t(source.area.height) * 4;
    const int bands = int(std::clamp<size_t>(bytes >> 20, 1, 32));
    if (!grabber.requestBands(source.drawable, source.area, bands, pixels))
        return Streamed::NotPossible;
    pixels.alpha = source.alpha;
    Arrival arrival;
    bool wrote = false;
    std::string why;
    std::string grabError;
    std::thread writer;
    try {
        writer = std::thread([&] {
            wrote = PngFile::writeNew(pixels, target, written, why, [&](int rows) { return arrival.wait(rows); });
        });
    } catch (const std::system_error&) {
        grabber.receiveBands([](int) {}, grabError);
        return Streamed::NotPossible;
    }
    const bool received = grabber.receiveBands([&](int rows) { arrival.set(rows); }, grabError);
    if (!received)
        arrival.fail();
    writer.join();
    if (!received)
        return Streamed::NotPossible;
    if (!wrote) {
        error = why;
        return Streamed::WriteFailed;
    }
    return Streamed::Written;
}

} // namespace

int main(int argc, char** argv) {
    Request request;
    if (const std::string wrong = parse(argc, argv, request); !wrong.empty())
        return fail(misused, wrong + "\nusage: pictolarium-screencapture (-l window [-o] | -D display | -i -s) "
                                     "[-x] [-t png] file");
    Display d;
    if (!d.ok())
        return fail(failed, "cannot open the display");
    if (!XGrab::supportedDepth(d.c, d.screen->root_depth))
        return fail(failed, "could not create image: the display's pixel format is not supported");

    XGrab::Pixels pixels;
    XGrab::Grabber grabber(d.c); // outlives pixels, which borrow its shared memory
    std::string error;
    if (request.mode == Mode::Slice) {
        switch (Slice::run(d.c, d.screen, pixels, error)) {
        case Slice::Outcome::Cancelled:
            return failed; // the user chose so; nothing to explain
        case Slice::Outcome::Failed:
            return fail(failed, error);
        case Slice::Outcome::Taken:
            break;
        }
    } else {
        Source source;
        xcb_pixmap_t pixmap = XCB_NONE;
        const std::string why = sourceOf(d, request, source, pixmap);
        std::string written;
        const Streamed streamed =
            why.empty() ? grabWhileWriting(grabber, source, request.target, written, error) : Streamed::NotPossible;
        const bool grabbed = why.empty() && streamed == Streamed::NotPossible &&
                             grabber.grab(source.drawable, source.area, pixels, error, true);
        pixels.alpha = grabbed && source.alpha;
        if (grabbed)
            blankParts(pixels, source.blank, source.area.x, source.area.y);
        source.own.reset();
        if (pixmap != XCB_NONE)
            xcb_free_pixmap(d.c, pixmap);
        if (!why.empty())
            return fail(failed, why);
        if (streamed == Streamed::WriteFailed)
            return fail(failed, error);
        if (streamed == Streamed::Written) {
            std::printf("%s\n", written.c_str());
            return 0;
        }
        if (!grabbed)
            return fail(failed, error);
    }
    std::string written;
    if (!PngFile::writeNew(pixels, request.target, written, error))
        return fail(failed, error);
    std::printf("%s\n", written.c_str());
    return 0;
}
