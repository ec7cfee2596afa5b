#include "platform/ClipboardOwner.h"

#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

bool ClipboardOwner::held() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Elsewhere (the tests' offscreen screens) nothing tells a refusal, and a clipboard inside the process
    // never refuses.
    if (!x11 || !x11->connection())
        return true;
    xcb_connection_t* c = x11->connection();
    static const char name[] = "CLIPBOARD";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(sizeof name - 1), name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return false;
    // Qt owns the clipboard through a window of its own connection: such a window's id lies in the range
    // the server gave that connection. The request follows Qt's own on the same connection, so it sees it.
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (owner->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}
