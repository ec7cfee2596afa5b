// A plain window of another program, for the keyboard tests: it stands where a window of ours stood, with the same
// window type, states and hints, so that the window manager treats it alike, and goes as a program's window goes.
//   standin <title> <x> <y> <width> <height> <button x0,y0,x1,y1 | -> [<atom>,<type>,<format>,<hex data> ...]
// It ends on Escape, on a press of the first button inside the button rectangle (window coordinates), and when the
// window manager asks it to close. It takes the keyboard as it shows: from the window manager, or with none to
// ask, by itself, as the toolkits do.

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Whether a window manager answers requests to activate a window.
bool managed(xcb_connection_t* c, xcb_window_t root) {
    const xcb_atom_t supported = atom(c, "_NET_SUPPORTED"), active = atom(c, "_NET_ACTIVE_WINDOW");
    xcb_get_property_reply_t* r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr);
    bool found = false;
    if (r) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
        for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
            found = found || atoms[i] == active;
    }
    std::free(r);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: standin <title> <x> <y> <width> <height> <x0,y0,x1,y1|-> [properties]\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 2;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int x = std::atoi(argv[2]), y = std::atoi(argv[3]), w = std::atoi(argv[4]), h = std::atoi(argv[5]);
    int button[4] = {1, 1, 0, 0};
    if (std::strcmp(argv[6], "-") != 0)
        std::sscanf(argv[6], "%d,%d,%d,%d", &button[0], &button[1], &button[2], &button[3]);

    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                                        XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h),
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    const std::string title = argv[1];
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, uint32_t(title.size()),
                        title.data());
    const char wmClass[] = "standin\0StandIn";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                        wmClass);
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS"), deleteWindow = atom(c, "WM_DELETE_WINDOW");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    // The program's own group: a leader window that never shows, as toolkits make one, named by the window.
    const xcb_window_t leader = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, leader, screen->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    const xcb_atom_t clientLeader = atom(c, "WM_CLIENT_LEADER");
    for (const xcb_window_t w : {leader, window})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, clientLeader, XCB_ATOM_WINDOW, 32, 1, &leader);
    // The window's own properties as ours had them: its type, states, hints and the window it is transient for.
    for (int i = 7; i < argc; ++i) {
        if (std::strcmp(argv[i], "transient-for-leader") == 0) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                                &leader);
            continue;
        }
        unsigned property = 0, type = 0, format = 0;
        char hex[8192] = {};
        if (std::sscanf(argv[i], "%u,%u,%u,%8191s", &property, &type, &format, hex) != 4 || format == 0)
            continue;
        std::vector<uint8_t> data = fromHex(hex);
        // The group named in the hints is the stand-in's own, never the program it stands in for.
        constexpr uint32_t windowGroupHint = 1u << 6;
        if (property == XCB_ATOM_WM_HINTS && data.size() >= 9 * 4) {
            uint32_t hints[9];
            std::memcpy(hints, data.data(), sizeof hints);
            if (hints[0] & windowGroupHint) {
                hints[8] = leader;
                std::memcpy(data.data(), hints, sizeof hints);
            }
        }
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, uint8_t(format),
                            uint32_t(data.size() * 8 / format), data.data());
    }
    xcb_map_window(c, window);
    // Placed where asked, whatever the window manager would choose.
    const uint32_t where[] = {uint32_t(x), uint32_t(y)};
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, where);
    xcb_flush(c);

    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* escape = xcb_key_symbols_get_keycode(symbols, 0xff1b);
    const bool takesKeys = !managed(c, screen->root);
    bool shown = false;
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        bool end = false;
        if (type == XCB_MAP_NOTIFY && !shown) {
            shown = true;
            if (takesKeys) {
                xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
            } else {
                // Asked of the window manager as a pager asks, which none refuses: the window takes the keyboard
                // as a program's does when it opens in answer to the user.
                xcb_client_message_event_t message{};
                message.response_type = XCB_CLIENT_MESSAGE;
                message.format = 32;
                message.window = window;
                message.type = atom(c, "_NET_ACTIVE_WINDOW");
                message.data.data32[0] = 2;
                xcb_send_event(c, 0, screen->root,
                               XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                               reinterpret_cast<const char*>(&message));
            }
            xcb_flush(c);
        } else if (type == XCB_KEY_PRESS) {
            const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
            for (xcb_keycode_t* k = escape; k && *k; ++k)
                end = end || key->detail == *k;
        } else if (type == XCB_BUTTON_PRESS) {
            const auto* press = reinterpret_cast<xcb_button_press_event_t*>(event);
            end = press->detail == 1 && press->event_x >= button[0] && press->event_y >= button[1] &&
                  press->event_x <= button[2] && press->event_y <= button[3];
        } else if (type == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            end = message->type == protocols && message->data.data32[0] == deleteWindow;
        }
        std::free(event);
        if (end)
            break;
    }
    std::free(escape);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(c);
    return 0;
}
