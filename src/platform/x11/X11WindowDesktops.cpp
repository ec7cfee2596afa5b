#include "platform/x11/X11WindowDesktops.h"

#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstring>

bool X11WindowDesktops::showOnAllDesktops(quint32 window) {
    if (QGuiApplication::platformName() != u"xcb" || window == 0)
        return false;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    static const char name[] = "_NET_WM_DESKTOP";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(sizeof name - 1), name), nullptr));
    bool sent = false;
    if (screens.rem && atom && atom->atom != XCB_ATOM_NONE) {
        const uint32_t all = 0xFFFFFFFF;
        const xcb_void_cookie_t set =
            xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &all);
        XcbReply<xcb_generic_error_t> setError(xcb_request_check(c, set));

        xcb_client_message_event_t message;
        std::memset(&message, 0, sizeof message);
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom->atom;
        message.data.data32[0] = all;
        message.data.data32[1] = 2; // source: a pager
        const xcb_void_cookie_t cookie = xcb_send_event_checked(
            c, 0, screens.data->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char*>(&message));
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        sent = !setError && !error;
    }
    xcb_disconnect(c);
    return sent;
}
