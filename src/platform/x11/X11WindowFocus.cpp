#include "platform/x11/X11WindowFocus.h"

#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstring>

bool X11WindowFocus::activate(quint32 window) {
    if (QGuiApplication::platformName() != u"xcb" || window == 0)
        return false;
    const XcbConnection x = xcbConnect();
    xcb_connection_t* c = x.connection;
    if (!c)
        return false;
    bool sent = false;
    static const char name[] = "_NET_ACTIVE_WINDOW";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(sizeof name - 1), name), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE) {
        xcb_client_message_event_t message;
        std::memset(&message, 0, sizeof message);
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom->atom;
        message.data.data32[0] = 2; // source: a pager, which focus-stealing prevention lets through
        message.data.data32[1] = XCB_CURRENT_TIME;
        const xcb_void_cookie_t cookie = xcb_send_event_checked(
            c, 0, x.screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char*>(&message));
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        sent = !error;
    }
    xcb_disconnect(c);
    return sent;
}

quint32 X11WindowFocus::activeWindow() const {
    if (QGuiApplication::platformName() != u"xcb")
        return 0;
    const XcbConnection x = xcbConnect();
    xcb_connection_t* c = x.connection;
    if (!c)
        return 0;
    quint32 active = 0;
    static const char name[] = "_NET_ACTIVE_WINDOW";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(sizeof name - 1), name), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE) {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, x.screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32 &&
            xcb_get_property_value_length(reply.get()) >= 4)
            std::memcpy(&active, xcb_get_property_value(reply.get()), 4);
    }
    xcb_disconnect(c);
    return active;
}
