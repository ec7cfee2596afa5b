#include "platform/x11/X11WindowHints.h"

#include "platform/x11/XcbReply.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace {

// Atoms live as long as the server: asked once per name (windows are shown often).
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    static QHash<QByteArray, xcb_atom_t> known;
    if (const auto found = known.constFind(name); found != known.constEnd())
        return *found;
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
    if (value != XCB_ATOM_NONE)
        known.insert(name, value);
    return value;
}

xcb_connection_t* connection() {
    if (QGuiApplication::platformName() != u"xcb")
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// A change of a mapped window's _NET_WM_STATE, asked of the window manager on the root window.
void askState(xcb_connection_t* c, xcb_window_t w, xcb_atom_t state, bool add, xcb_atom_t first, xcb_atom_t second) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = state;
    event.data.data32[0] = add ? 1 : 0;
    event.data.data32[1] = first;
    event.data.data32[2] = second;
    event.data.data32[3] = 1; // from an application
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// A window's property that holds a list of atoms (its states, its protocols), up to `most` of them; none when the
// window has no such list.
std::optional<std::vector<xcb_atom_t>> atomList(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                                uint32_t most) {
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_ATOM_ATOM, 0, most), nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM)
        return std::nullopt;
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return std::vector<xcb_atom_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

} // namespace

bool X11WindowHints::askNoAttention(QWindow* window) {
    xcb_connection_t* c = window && window->isVisible() ? connection() : nullptr;
    if (!c)
        return false;
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t attention = atom(c, "_NET_WM_STATE_DEMANDS_ATTENTION");
    if (state == XCB_ATOM_NONE || attention == XCB_ATOM_NONE)
        return false;
    // Sent on the connection that carried the raise, so the window manager reads it after the raise.
    askState(c, xcb_window_t(window->winId()), state, false, attention, XCB_ATOM_NONE);
    xcb_flush(c);
    return true;
}

bool X11WindowHints::keepOffTaskbar(QWindow* window) {
    xcb_connection_t* c = window ? connection() : nullptr;
    if (!c)
        return false;
    const auto w = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const std::array<xcb_atom_t, 2> wanted{atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || wanted[0] == XCB_ATOM_NONE || wanted[1] == XCB_ATOM_NONE)
        return false;

    if (!window->isVisible()) {
        // Unmapped: the window manager reads the property when the window is mapped. Qt adds its own states
        // (above, modal) to what it finds there, so ours stay.
        std::vector<xcb_atom_t> atoms = atomList(c, w, state, 1024).value_or(std::vector<xcb_atom_t>{});
        for (const xcb_atom_t a : wanted)
            if (std::find(atoms.begin(), atoms.end(), a) == atoms.end())
                atoms.push_back(a);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                            atoms.data());
    } else {
        // Mapped: only the window manager may change the state, on our request to the root window.
        askState(c, w, state, true, wanted[0], wanted[1]);
    }
    xcb_flush(c);
    return true;
}

bool X11WindowHints::offerNoFocus(QWindow* window) {
    xcb_connection_t* c = window ? connection() : nullptr;
    if (!c)
        return false;
    const auto w = xcb_window_t(window->winId());
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t takeFocus = atom(c, "WM_TAKE_FOCUS");
    if (protocols == XCB_ATOM_NONE || takeFocus == XCB_ATOM_NONE)
        return false;
    // With "accepts input" false, offering WM_TAKE_FOCUS makes the window one that takes the focus by itself when
    // asked; the toolkit offers it on every window and then never takes it. Without it the window is one that
    // takes no input, which is what it is. The other protocols (closing, ping) stay.
    std::optional<std::vector<xcb_atom_t>> listed = atomList(c, w, protocols, 64);
    if (!listed)
        return true;
    std::vector<xcb_atom_t>& atoms = *listed;
    const auto kept = std::remove(atoms.begin(), atoms.end(), takeFocus);
    if (kept == atoms.end())
        return true;
    atoms.erase(kept, atoms.end());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocols, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                        atoms.data());
    xcb_flush(c);
    return true;
}
