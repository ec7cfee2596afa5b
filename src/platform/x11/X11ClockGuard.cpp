#include "platform/x11/X11ClockGuard.h"

#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <array>
#include <cstring>

namespace {

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Every XInput 2 event carries its time at this offset.
constexpr size_t xiTimeOffset = 12;
// A marker that never came (Qt's window went before it could read it) gives up waiting after this long.
constexpr int resetTimeoutMs = 1000;

} // namespace

X11ClockGuard* X11ClockGuard::install() {
    if (X11ClockGuard* guard = installed())
        return guard;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    const XcbConnection x = xcbConnect();
    if (!x.connection)
        return nullptr;
    const xcb_window_t window = xcb_generate_id(x.connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(x.connection, XCB_COPY_FROM_PARENT, window, x.screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    auto* guard = new X11ClockGuard(x11->connection(), x.connection, window);
    guard->setParent(qApp);
    qApp->installNativeEventFilter(guard);
    return guard;
}

X11ClockGuard* X11ClockGuard::installed() {
    return qApp ? qApp->findChild<X11ClockGuard*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

X11ClockGuard::X11ClockGuard(xcb_connection_t* qtConnection, xcb_connection_t* connection, xcb_window_t clock)
    : qt(qtConnection), own(connection), window(clock) {
    marker = intern(own, "_PICTOLARIUM_CLOCK");
    wmProtocols = intern(own, "WM_PROTOCOLS");
    wmTakeFocus = intern(own, "WM_TAKE_FOCUS");
    xdndSelection = intern(own, "XdndSelection");
    // Extension numbers are the server's, the same on every connection.
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(own, &xcb_input_id);
    if (xi && xi->present)
        xiOpcode = xi->major_opcode;
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(own, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    XcbReply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(own, xcb_xfixes_query_version(own, 5, 0), nullptr));
    if (!version || version->major_version < 1)
        return;
    xfixesNotify = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(own)).data->root;
    xcb_xfixes_select_selection_input(own, root, intern(own, "CLIPBOARD"),
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
}

X11ClockGuard::~X11ClockGuard() {
    xcb_disconnect(own);
}

quint32 X11ClockGuard::serverTime() {
    if (xcb_connection_has_error(own))
        return 0;
    // Appending nothing changes nothing, yet the server tells of the change with its time.
    xcb_change_property(own, XCB_PROP_MODE_APPEND, window, marker, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(own);
    while (xcb_generic_event_t* event = xcb_wait_for_event(own)) {
        XcbReply<xcb_generic_event_t> owned(event);
        // An error: our window is gone (any program may destroy it), and no notice will come.
        if (event->response_type == 0)
            return 0;
        if ((event->response_type & 0x7f) == xfixesNotify) {
            ++takes;
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && notify->window == window)
            return notify->time;
    }
    return 0;
}

quint64 X11ClockGuard::clipboardTakes() {
    // The server tells of a take before it answers a later request: the round trip brings every notice due.
    serverTime();
    return takes;
}

void X11ClockGuard::sawServerTime(quint32 time) {
    if (time != XCB_CURRENT_TIME && (!newest || later(time, newest)))
        newest = time;
}

quint32* X11ClockGuard::madeUpTime(xcb_generic_event_t* event) const {
    const bool sent = event->response_type & 0x80;
    switch (event->response_type & 0x7f) {
    case XCB_SELECTION_REQUEST:
        return &reinterpret_cast<xcb_selection_request_event_t*>(event)->time;
    case XCB_SELECTION_NOTIFY:
        return &reinterpret_cast<xcb_selection_notify_event_t*>(event)->time;
    case XCB_CLIENT_MESSAGE: {
        auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->format == 32 && message->type == wmProtocols && message->data.data32[0] == wmTakeFocus)
            return &message->data.data32[1];
        return nullptr;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
        // These share their layout up to the time.
        return sent ? &reinterpret_cast<xcb_key_press_event_t*>(event)->time : nullptr;
    case XCB_PROPERTY_NOTIFY:
        return sent ? &reinterpret_cast<xcb_property_notify_event_t*>(event)->time : nullptr;
    case XCB_SELECTION_CLEAR:
        return sent ? &reinterpret_cast<xcb_selection_clear_event_t*>(event)->time : nullptr;
    default:
        return nullptr;
    }
}

bool X11ClockGuard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    const bool sent = event->response_type & 0x80;

    if (type == XCB_PROPERTY_NOTIFY && sent) {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->atom == marker) {
            // Ours, setting Qt's clock: let it through as it is. Once Qt has read the last, the clock is set.
            if (notify->time == resetTime)
                sawServerTime(resetTime);
            if (notify->time == resetTime && !afterReset.empty()) {
                auto blocks = std::move(afterReset);
                afterReset.clear();
                QTimer::singleShot(0, this, [blocks = std::move(blocks)] {
                    for (const auto& block : blocks)
                        block();
                });
            }
            return false;
        }
    }

    // Times the server stamped itself: never beyond its clock.
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
        if (!sent) {
            const quint32 time = reinterpret_cast<const xcb_key_press_event_t*>(event)->time;
            sawServerTime(time);
            if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE || type == XCB_MOTION_NOTIFY)
                pointerTime = time;
        }
        break;
    case XCB_PROPERTY_NOTIFY:
        if (!sent)
            sawServerTime(reinterpret_cast<const xcb_property_notify_event_t*>(event)->time);
        break;
    case XCB_SELECTION_CLEAR:
        // The new owner's time, which the server took: not beyond its clock.
        if (!sent)
            sawServerTime(reinterpret_cast<const xcb_selection_clear_event_t*>(event)->time);
        break;
    case XCB_GE_GENERIC:
        // No program can send a generic event: these are all the server's.
        if (const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
            xiOpcode >= 0 && ge->extension == xiOpcode) {
            quint32 time = 0;
            std::memcpy(&time, reinterpret_cast<const char*>(event) + xiTimeOffset, sizeof time);
            sawServerTime(time);
            if (ge->event_type == XCB_INPUT_BUTTON_PRESS || ge->event_type == XCB_INPUT_BUTTON_RELEASE ||
                ge->event_type == XCB_INPUT_MOTION)
                pointerTime = time;
        }
        break;
    default:
        break;
    }

    quint32* time = madeUpTime(event);
    if (!time || *time == XCB_CURRENT_TIME)
        return false;
    if ((newest && !later(*time, newest)) || (asked && !later(*time, asked))) {
        sawServerTime(*time);
        return false;
    }
    // Later than any time seen: it may still be true (its program saw a later event than we did), so ask.
    const quint32 now = serverTime();
    if (!now)
        return false;
    asked = now;
    if (!later(*time, now)) {
        sawServerTime(*time);
        return false;
    }
    // Made up. Qt's own clock in its place changes nothing there. A request for a drag's files is answered when
    // it carries the time of the drag's last step or of its drop: the pointer's last move or release.
    const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
    if (type == XCB_SELECTION_REQUEST && request->selection == xdndSelection && pointerTime)
        *time = pointerTime;
    else
        *time = newest ? newest : now;
    return false;
}

bool X11ClockGuard::resetQtClock(std::function<void()> then) {
    // One reset at a time: a second set of markers sent within the same millisecond would carry the same times,
    // and the first set's last marker would run the waiting blocks while Qt's clock stands a quarter turn ahead
    // on the second set's way round. The reset under way serves them all.
    if (!afterReset.empty()) {
        afterReset.push_back(std::move(then));
        return true;
    }
    // Qt's clock is read from the events of any of its windows.
    QWindow* target = nullptr;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->handle()) {
            target = window;
            break;
        }
    const quint32 now = target ? serverTime() : 0;
    if (!now)
        return false;
    const auto id = xcb_window_t(target->winId());
    // Qt's clock moves only forward, and forward means within half a turn of it: a quarter turn at a time
    // reaches any time from wherever the clock stands.
    constexpr quint32 quarter = 1u << 30;
    for (const quint32 step : std::array<quint32, 4>{now + quarter, now + 2 * quarter, now + 3 * quarter, now}) {
        std::array<char, 32> buffer{};
        xcb_property_notify_event_t event{};
        event.response_type = XCB_PROPERTY_NOTIFY;
        event.window = id;
        event.atom = marker;
        event.time = step;
        event.state = XCB_PROPERTY_NEW_VALUE;
        std::memcpy(buffer.data(), &event, sizeof event);
        // With no event mask, the event goes to the window's own program: Qt.
        xcb_send_event(qt, 0, id, XCB_EVENT_MASK_NO_EVENT, buffer.data());
    }
    xcb_flush(qt);
    resetTime = now;
    afterReset.push_back(std::move(then));
    QTimer::singleShot(resetTimeoutMs, this, [this, now] {
        if (resetTime != now || afterReset.empty())
            return;
        auto blocks = std::move(afterReset);
        afterReset.clear();
        for (const auto& block : blocks)
            block();
    });
    return true;
}
