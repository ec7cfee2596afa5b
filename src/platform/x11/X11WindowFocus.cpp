#include "platform/x11/X11WindowFocus.h"

#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QSet>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

X11WindowFocus::~X11WindowFocus() {
    if (filtering && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

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

bool X11WindowFocus::onScreen(quint32 window) const {
    if (QGuiApplication::platformName() != u"xcb" || window == 0)
        return true;
    const XcbConnection x = xcbConnect();
    xcb_connection_t* c = x.connection;
    if (!c)
        return true;
    // Window managers unmap the windows of other desktops and minimised ones: mapped under an unmapped frame, a
    // window is not viewable. One that has gone gives no attributes at all.
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    xcb_disconnect(c);
    return shown;
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

void X11WindowFocus::watchActive(std::function<void(quint32 active)> changed) {
    watcher = std::move(changed);
    if (!watcher || filtering)
        return;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    static const char name[] = "_NET_ACTIVE_WINDOW";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(sizeof name - 1), name), nullptr));
    if (!atom)
        return;
    activeAtom = atom->atom;
    root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Qt listens to the root's properties already; added to whatever it listens to, never in its place.
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr));
    if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
    }
    qGuiApp->installNativeEventFilter(this);
    filtering = true;
}

bool X11WindowFocus::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!watcher || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (notify->window != root || notify->atom != activeAtom)
        return false;
    // Read now, on Qt's connection: a switch away and straight back must both be heard, not only where
    // the keyboard ended up.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    quint32 active = 0;
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, activeAtom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32 &&
        xcb_get_property_value_length(reply.get()) >= 4)
        std::memcpy(&active, xcb_get_property_value(reply.get()), 4);
    // Called once the event is through: the watcher may ask the server and the toolkit anything.
    QTimer::singleShot(0, &calls, [this, active] {
        if (watcher)
            watcher(active);
    });
    return false;
}

namespace {

// The window's ancestor that is a child of the root (the frame a window manager put around it, or the window
// itself); 0 when it is the root or cannot be told.
xcb_window_t topOf(xcb_connection_t* c, xcb_window_t window) {
    // Window managers nest a few levels deep at most; the bound guards against a broken tree.
    for (int depth = 0; depth < 16 && window != XCB_WINDOW_NONE; ++depth) {
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree || tree->root == window)
            return XCB_WINDOW_NONE;
        if (tree->parent == tree->root)
            return window;
        window = tree->parent;
    }
    return XCB_WINDOW_NONE;
}

} // namespace

WindowFocus::Keyboard X11WindowFocus::keyboardAt(const QList<quint32>& windows, quint32 closing) const {
    // Qt's own connection: the question follows, in the same stream, whatever Qt asked of the server before
    // (unmapping the window that is closing), so the answer is the server's at that point and not after the
    // window manager has reacted to it.
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return Keyboard::Unknown;
    XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!focus)
        return Keyboard::Unknown;
    if (focus->focus == XCB_INPUT_FOCUS_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return Keyboard::Nobody;
    const xcb_window_t top = topOf(c, focus->focus);
    if (top == XCB_WINDOW_NONE)
        return Keyboard::Nobody;
    QSet<xcb_window_t> ours;
    for (const quint32 window : windows)
        if (window)
            ours.insert(topOf(c, window));
    if (ours.contains(top))
        return Keyboard::Listed;
    // A window manager with nothing to focus keeps the keyboard in a window of its own: the one it names as
    // its check window.
    static const char name[] = "_NET_SUPPORTING_WM_CHECK";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(sizeof name - 1), name), nullptr));
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE && tree) {
        XcbReply<xcb_get_property_reply_t> check(
            xcb_get_property_reply(c, xcb_get_property(c, 0, tree->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (check && check->format == 32 && xcb_get_property_value_length(check.get()) >= 4) {
            xcb_window_t wm = XCB_WINDOW_NONE;
            std::memcpy(&wm, xcb_get_property_value(check.get()), 4);
            if (wm == top)
                return Keyboard::Nobody;
        }
    }
    // The window manager names the active window only once it has seen the focus arrive. A user's switch made
    // while ours showed has got that far; a window manager handing the keyboard on by itself because ours is
    // closing has not, and is no choice of the user's.
    const quint32 active = activeWindow();
    if (active == XCB_WINDOW_NONE || topOf(c, active) != top)
        return Keyboard::Nobody;
    // Nor has it when it has already heard that ours closed: it takes it off its list of clients first.
    if (closing && tree) {
        static const char clients[] = "_NET_CLIENT_LIST";
        XcbReply<xcb_intern_atom_reply_t> list(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(sizeof clients - 1), clients), nullptr));
        XcbReply<xcb_get_property_reply_t> managed(
            list && list->atom != XCB_ATOM_NONE
                ? xcb_get_property_reply(c, xcb_get_property(c, 0, tree->root, list->atom, XCB_ATOM_WINDOW, 0, 4096),
                                         nullptr)
                : nullptr);
        if (managed && managed->format == 32) {
            const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(managed.get()));
            const int count = xcb_get_property_value_length(managed.get()) / 4;
            if (std::find(ids, ids + count, xcb_window_t(closing)) == ids + count)
                return Keyboard::Nobody;
        }
    }
    return Keyboard::Elsewhere;
}
