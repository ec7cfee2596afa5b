#include "platform/x11/XInputPointerWatch.h"

#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <variant>
#include <vector>

namespace {

// Buttons 4 to 7 are wheel steps, which are not presses.
bool isWheel(quint32 button) {
    return button >= 4 && button <= 7;
}

} // namespace

std::unique_ptr<XInputPointerWatch> XInputPointerWatch::open(const QByteArray& display) {
    const XcbConnection x = xcbConnect(display);
    xcb_connection_t* c = x.connection;
    if (!c)
        return nullptr;
    auto fail = [c]() -> std::unique_ptr<XInputPointerWatch> {
        xcb_disconnect(c);
        return nullptr;
    };
    const xcb_window_t root = x.screen->root;

    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
    if (!ext || !ext->present)
        return fail();
    // 2.1 or later delivers raw events even while another client holds a grab (menus, drags).
    XcbReply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2)
        return fail();

    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head)));
    if (error)
        return fail();

    return std::unique_ptr<XInputPointerWatch>(new XInputPointerWatch(c, root, ext->major_opcode));
}

XInputPointerWatch::XInputPointerWatch(xcb_connection_t* c, quint32 rootWindow, quint8 xiOpcode)
    : connection(c), root(rootWindow), opcode(xiOpcode) {
    symbols = xcb_key_symbols_alloc(connection);
    notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &XInputPointerWatch::readEvents);
}

XInputPointerWatch::~XInputPointerWatch() {
    delete notifier;
    if (symbols)
        xcb_key_symbols_free(symbols);
    xcb_disconnect(connection);
}

void XInputPointerWatch::readEvents() {
    if (xcb_connection_has_error(connection)) {
        notifier->setEnabled(false);
        return;
    }
    std::vector<XcbReply<xcb_generic_event_t>> events;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
        events.emplace_back(event);

    // In the order they came: a key typed elsewhere before a click is not one typed after it.
    std::vector<std::variant<PointerPress, quint32>> inputs;
    auto take = [&](const xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY && symbols) {
            xcb_refresh_keyboard_mapping(
                symbols, reinterpret_cast<xcb_mapping_notify_event_t*>(const_cast<xcb_generic_event_t*>(event)));
            return;
        }
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            return;
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (ge->extension == opcode && ge->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
            if (symbols)
                inputs.emplace_back(quint32(xcb_key_symbols_get_keysym(symbols, xcb_keycode_t(raw->detail), 0)));
            return;
        }
        if (ge->extension != opcode || ge->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
            return;
        const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
        if (isWheel(raw->detail))
            return;
        PointerPress press;
        if (describe(press))
            inputs.emplace_back(press);
    };
    for (const auto& event : events)
        take(event.get());
    // Events that arrived while we waited for replies sit in xcb's queue, where the socket
    // notifier cannot see them.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
        XcbReply<xcb_generic_event_t> owned(event);
        take(event);
    }

    // A receiver may delete this watch (its window closed and the owner let go).
    QPointer<XInputPointerWatch> self(this);
    for (const auto& input : inputs) {
        if (const auto* press = std::get_if<PointerPress>(&input))
            emit pressed(*press);
        else
            emit typed(std::get<quint32>(input));
        if (!self)
            return;
    }
}

bool XInputPointerWatch::describe(PointerPress& press) {
    XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    if (!pointer)
        return false;
    // The server speaks device pixels; Qt's screen coordinates are device-independent.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    press.position = QPoint(qRound(pointer->root_x / ratio), qRound(pointer->root_y / ratio));
    press.positionKnown = true;
    press.ownWindow = false;
    // The child of the root under the pointer honours input shapes, so a click-through window
    // such as a toast is never the one pressed.
    if (pointer->child == XCB_WINDOW_NONE)
        return true;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow* window : windows) {
        if (!window->handle() || !window->isVisible())
            continue;
        if (topLevelOf(quint32(window->winId())) == pointer->child) {
            press.ownWindow = true;
            break;
        }
    }
    press.otherWindow = !press.ownWindow;
    return true;
}

quint32 XInputPointerWatch::topLevelOf(quint32 window) {
    // Window managers nest a few levels deep at most; the bound guards against a broken tree.
    for (int depth = 0; depth < 16; ++depth) {
        XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
        if (!tree)
            return XCB_WINDOW_NONE;
        if (tree->parent == root || tree->parent == XCB_WINDOW_NONE)
            return window;
        window = tree->parent;
    }
    return XCB_WINDOW_NONE;
}
