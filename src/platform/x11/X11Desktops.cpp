#include "platform/x11/X11Desktops.h"

#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

#include <cstring>

X11Desktops::X11Desktops() {
    if (QGuiApplication::platformName() != u"xcb")
        return;
    const XcbConnection x = xcbConnect();
    connection = x.connection;
    if (!connection)
        return;
    root = x.screen->root;
    currentDesktop = atom("_NET_CURRENT_DESKTOP");
    wmDesktop = atom("_NET_WM_DESKTOP");
    // Selecting on the root adds to what other clients selected; each connection has its own mask.
    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    lastDesktop = currentDesktopNumber();
    notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &X11Desktops::readEvents);
}

X11Desktops::~X11Desktops() {
    delete notifier;
    if (connection)
        xcb_disconnect(connection);
}

xcb_atom_t X11Desktops::atom(const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void X11Desktops::readEvents() {
    if (xcb_connection_has_error(connection)) {
        notifier->setEnabled(false);
        return;
    }
    bool switched = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection)) {
        XcbReply<xcb_generic_event_t> event(raw);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        if (notify->window == root && notify->atom == currentDesktop)
            switched = true;
    }
    // Window managers rewrite the property with the same value now and then (openbox does when
    // windows map): only a new desktop number is a switch.
    if (switched && currentDesktopNumber() != lastDesktop) {
        lastDesktop = currentDesktopNumber();
        emit currentDesktopChanged();
    }
}

void X11Desktops::showOnAllDesktops(QWindow* window) {
    if (!connection || !window || !wmDesktop || !window->handle())
        return;
    const xcb_window_t id = xcb_window_t(window->winId());
    const quint32 all = 0xFFFFFFFF;
    // The property for a window not mapped yet, the message for one the manager already placed.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, wmDesktop, XCB_ATOM_CARDINAL, 32, 1, &all);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = wmDesktop;
    message.data.data32[0] = all;
    message.data.data32[1] = 2; // from a pager-like source: the user asked for it
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

qint64 X11Desktops::currentDesktopNumber() {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, currentDesktop, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return -1;
    return *static_cast<const quint32*>(xcb_get_property_value(reply.get()));
}
