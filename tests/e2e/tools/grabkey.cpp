// Another X client for the hot-key tests: grabs a key combination on the root window, as a
// program that already owns a shortcut would.
//   grabkey <key> <modifier,...> [--hold]
//   grabkey --keyboard
// key is a single character ("d") or a keysym in hex; modifiers are super, shift, ctrl, alt, caps,
// numlock or none. Prints "grabbed" or "refused". With --hold it keeps the grab until it is ended;
// without, it lets go at once, so its exit code (0 or 1) tells whether the combination was free.
// --keyboard tells in the same way whether another client holds the whole keyboard.

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int probeKeyboard() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 2;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_grab_keyboard_reply_t* reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool free = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    xcb_disconnect(c);
    std::printf("%s\n", free ? "free" : "grabbed");
    return free ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--keyboard") == 0)
        return probeKeyboard();
    if (argc < 3) {
        std::fprintf(stderr, "usage: grabkey <key> <modifier,...> [--hold]\n");
        return 2;
    }
    const std::string key = argv[1];
    const xcb_keysym_t sym =
        key.size() == 1 ? xcb_keysym_t(key[0]) : xcb_keysym_t(std::strtoul(key.c_str(), nullptr, 16));
    uint16_t mask = 0;
    std::string mods = argv[2];
    size_t start = 0;
    while (start <= mods.size()) {
        const size_t end = mods.find(',', start) == std::string::npos ? mods.size() : mods.find(',', start);
        const std::string m = mods.substr(start, end - start);
        if (m == "super")
            mask |= XCB_MOD_MASK_4;
        else if (m == "shift")
            mask |= XCB_MOD_MASK_SHIFT;
        else if (m == "ctrl")
            mask |= XCB_MOD_MASK_CONTROL;
        else if (m == "alt")
            mask |= XCB_MOD_MASK_1;
        else if (m == "caps")
            mask |= XCB_MOD_MASK_LOCK;
        else if (m == "numlock")
            mask |= XCB_MOD_MASK_2;
        start = end + 1;
    }
    const bool hold = argc > 3 && std::strcmp(argv[3], "--hold") == 0;

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "grabkey: no display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, sym);
    if (!codes || *codes == XCB_NO_SYMBOL) {
        std::fprintf(stderr, "grabkey: no key for that symbol\n");
        return 2;
    }
    const xcb_keycode_t code = codes[0];
    std::free(codes);

    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_grab_key_checked(c, 1, root, mask, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool refused = error != nullptr;
    std::free(error);
    std::printf("%s\n", refused ? "refused" : "grabbed");
    std::fflush(stdout);
    if (!refused && hold) {
        // Ended by the test with SIGTERM; the server drops the grab with the connection.
        while (xcb_generic_event_t* event = xcb_wait_for_event(c))
            std::free(event);
    }
    xcb_key_symbols_free(symbols);
    xcb_disconnect(c);
    return refused ? 1 : 0;
}
