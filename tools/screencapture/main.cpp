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

#include "PngFile.h"
#include "Slice.h"
#include "platform/x11/XGrab.h"
#include "platform/x11/XcbReply.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
        int number = 0;
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
};

// The area of the root to read, or a message saying why there is none.
std::string areaOf(const Display& d, const Request& request, XGrab::Rect& area) {
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
    area = XGrab::geometryInRoot(d.c, d.screen->root, top).intersected(whole);
    return area.empty() ? "window " + std::to_string(request.window) + " is off screen" : std::string();
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
    if (!XGrab::supportedFormat(d.c, d.screen))
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
        XGrab::Rect area;
        if (const std::string why = areaOf(d, request, area); !why.empty())
            return fail(failed, why);
        if (!grabber.grab(d.screen->root, area, pixels, error, true))
            return fail(failed, error);
    }
    std::string written;
    if (!PngFile::writeNew(pixels, request.target, written, error))
        return fail(failed, error);
    std::printf("%s\n", written.c_str());
    return 0;
}
