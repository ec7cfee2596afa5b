#include "platform/x11/X11TrayColors.h"

#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstring>

std::optional<QColor> X11TrayColors::foreground() const {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return std::nullopt;
    xcb_connection_t* c = x11->connection();

    const auto atom = [c](const char* name) -> xcb_atom_t {
        XcbReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
    const xcb_atom_t colors = atom("_NET_SYSTEM_TRAY_COLORS");
    if (selection == XCB_ATOM_NONE || colors == XCB_ATOM_NONE)
        return std::nullopt;

    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return std::nullopt;

    XcbReply<xcb_get_property_reply_t> prop(
        xcb_get_property_reply(c, xcb_get_property(c, 0, owner->owner, colors, XCB_ATOM_CARDINAL, 0, 12), nullptr));
    if (!prop || prop->format != 32 || xcb_get_property_value_length(prop.get()) < 12)
        return std::nullopt;
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(prop.get()));
    // Each channel is a 16-bit value in a CARDINAL: foreground red, green, blue come first.
    return QColor::fromRgba64(quint16(values[0]), quint16(values[1]), quint16(values[2]));
}
