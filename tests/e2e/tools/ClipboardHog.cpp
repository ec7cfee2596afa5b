// Keeps taking the desktop's clipboard, as a clipboard tool with a newer timestamp would, and hands nothing to
// whoever asks for it: a program that copies meanwhile is refused by the server. Prints "ready" once it holds
// the clipboard; runs until it is ended.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const char name[] = "CLIPBOARD";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return 1;
    const xcb_atom_t clipboard = atom->atom;
    std::free(atom);
    bool told = false;
    for (;;) {
        xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
        xcb_flush(c);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
                const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
                xcb_selection_notify_event_t refusal{};
                refusal.response_type = XCB_SELECTION_NOTIFY;
                refusal.time = request->time;
                refusal.requestor = request->requestor;
                refusal.selection = request->selection;
                refusal.target = request->target;
                refusal.property = XCB_ATOM_NONE;
                xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&refusal));
                xcb_flush(c);
            }
            std::free(event);
        }
        if (!told) {
            xcb_get_selection_owner_reply_t* owner =
                xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
            if (owner && owner->owner == window) {
                std::printf("ready\n");
                std::fflush(stdout);
                told = true;
            }
            std::free(owner);
        }
        if (xcb_connection_has_error(c))
            return 1;
        usleep(200);
    }
}
