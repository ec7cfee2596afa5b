#include "platform/x11/X11Compositor.h"

#include "platform/x11/XcbReply.h"

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

bool X11Compositor::active() const {
    if (QGuiApplication::platformName() != u"xcb")
        return false;
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return false;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    bool owned = false;
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(name.size()), name.constData()), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE) {
        XcbReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
        owned = owner && owner->owner != XCB_WINDOW_NONE;
    }
    xcb_disconnect(c);
    return owned;
}
