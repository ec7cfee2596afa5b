#include "platform/x11/X11DragProbe.h"

#include "platform/UriList.h"
#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr xcb_keysym_t altL = 0xffe9, altR = 0xffea, superL = 0xffeb, superR = 0xffec;
// Four million bytes: a list of many thousands of files; longer lists are cut at a line.
constexpr uint32_t maxListWords = 1 << 20;
// Motions and key presses kept to ask with: about a second of steady movement.
constexpr size_t keptMotions = 48;

} // namespace

std::unique_ptr<X11DragProbe> X11DragProbe::open(const QByteArray& display) {
    const XcbConnection x = xcbConnect(display);
    xcb_connection_t* c = x.connection;
    if (!c)
        return nullptr;
    auto fail = [c]() -> std::unique_ptr<X11DragProbe> {
        xcb_disconnect(c);
        return nullptr;
    };
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!ext || !ext->present)
        return fail();
    XcbReply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    if (!version || version->major_version < 1)
        return fail();
    int xiOpcode = -1;
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    if (xi && xi->present) {
        XcbReply<xcb_input_xi_query_version_reply_t> xiVersion(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        if (xiVersion && xiVersion->major_version >= 2)
            xiOpcode = xi->major_opcode;
    }
    return std::unique_ptr<X11DragProbe>(
        new X11DragProbe(c, x.screen->root, quint8(ext->first_event + XCB_XFIXES_SELECTION_NOTIFY), xiOpcode));
}

X11DragProbe::X11DragProbe(xcb_connection_t* c, quint32 rootWindow, quint8 xfixesEvent, int xi)
    : connection(c), root(rootWindow), xfixesSelectionNotify(xfixesEvent), xiOpcode(xi) {
    clock.start();
    if (qGuiApp && qGuiApp->primaryScreen())
        pixelRatio = qGuiApp->primaryScreen()->devicePixelRatio();

    const std::array<const char*, 4> names{"XdndSelection", "text/uri-list", "INCR", "_PICTOLARIUM_DRAG_FILES"};
    std::array<xcb_intern_atom_cookie_t, 4> cookies{};
    for (size_t i = 0; i < names.size(); ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(strlen(names[i])), names[i]);
    std::array<quint32*, 4> atoms{&xdndSelection, &uriList, &incr, &property};
    for (size_t i = 0; i < names.size(); ++i) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        *atoms[i] = reply ? reply->atom : quint32(XCB_ATOM_NONE);
    }

    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(c, root, xdndSelection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    readModifierMap();
    xcb_flush(c);
}

X11DragProbe::~X11DragProbe() {
    xcb_disconnect(connection);
}

qint64 X11DragProbe::now() {
    return clock.elapsed();
}

void X11DragProbe::drain() {
    if (xcb_connection_has_error(connection))
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        XcbReply<xcb_generic_event_t> owned(event);
        handle(event);
    }
}

void X11DragProbe::handle(const xcb_generic_event_t* event) {
    const quint8 type = event->response_type & 0x7f;
    if (type == xfixesSelectionNotify) {
        ++count;
        // Owners answer only for the drag they run: Qt, for one, compares the request's time with the
        // time it took the selection.
        ownedSince = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event)->selection_timestamp;
    } else if (type == XCB_SELECTION_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
        if (notify->requestor != window || notify->selection != xdndSelection || askedFor < 0)
            return;
        if (askedFor != count) {
            askedFor = -1;
            return;
        }
        if (notify->property == XCB_ATOM_NONE && --unanswered > 0)
            return; // refused at that time; another request may be taken
        answeredFor = askedFor;
        answeredAt = now();
        answer.clear();
        if (notify->property != XCB_ATOM_NONE)
            readSelection(notify->property);
        askedFor = -1;
    } else if (type == XCB_GE_GENERIC && xiOpcode >= 0) {
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (ge->extension != xiOpcode ||
            (ge->event_type != XCB_INPUT_RAW_MOTION && ge->event_type != XCB_INPUT_RAW_KEY_PRESS &&
             ge->event_type != XCB_INPUT_RAW_KEY_RELEASE))
            return;
        // The raw events share their layout and their time with the events the drag's owner is sent.
        const quint32 time = reinterpret_cast<const xcb_input_raw_motion_event_t*>(event)->time;
        if (motionTimes.empty() || motionTimes.front() != time)
            motionTimes.push_front(time);
        if (motionTimes.size() > keptMotions)
            motionTimes.pop_back();
    } else if (type == XCB_MAPPING_NOTIFY) {
        readModifierMap();
    }
}

void X11DragProbe::readSelection(quint32 prop) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 1, window, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, maxListWords),
        nullptr));
    // Deleting the property above is also what would start a transfer in increments; we never read its
    // pieces, and the owner gives up on its own.
    if (!reply || reply->type == incr || reply->format != 8)
        return;
    QByteArray data(static_cast<const char*>(xcb_get_property_value(reply.get())),
                    xcb_get_property_value_length(reply.get()));
    if (reply->bytes_after > 0) // cut: the last line may be half a name
        data.truncate(data.lastIndexOf('\n') + 1);
    answer = UriList::localFiles(data);
}

void X11DragProbe::readModifierMap() {
    // Alt and Super sit on whichever ModN the keyboard map gives them; Mod1 and Mod4 when it names neither.
    altMask = XCB_MOD_MASK_1;
    superMask = XCB_MOD_MASK_4;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_keycode_t first = setup->min_keycode;
    const uint8_t countCodes = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    auto modCookie = xcb_get_modifier_mapping(connection);
    auto keyCookie = xcb_get_keyboard_mapping(connection, first, countCodes);
    XcbReply<xcb_get_modifier_mapping_reply_t> mods(xcb_get_modifier_mapping_reply(connection, modCookie, nullptr));
    XcbReply<xcb_get_keyboard_mapping_reply_t> keys(xcb_get_keyboard_mapping_reply(connection, keyCookie, nullptr));
    if (!mods || !keys || keys->keysyms_per_keycode == 0)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mods.get());
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keys.get());
    const int symCount = xcb_get_keyboard_mapping_keysyms_length(keys.get());
    const int perCode = keys->keysyms_per_keycode;
    quint16 altBits = 0, superBits = 0;
    for (int mod = 3; mod < 8; ++mod) { // Mod1 … Mod5
        for (int k = 0; k < mods->keycodes_per_modifier; ++k) {
            const xcb_keycode_t code = codes[mod * mods->keycodes_per_modifier + k];
            if (code < first)
                continue;
            for (int s = 0; s < perCode; ++s) {
                const int index = (code - first) * perCode + s;
                if (index >= symCount)
                    break;
                const xcb_keysym_t sym = syms[index];
                if (sym == altL || sym == altR)
                    altBits |= quint16(1 << mod);
                if (sym == superL || sym == superR)
                    superBits |= quint16(1 << mod);
            }
        }
    }
    if (altBits)
        altMask = altBits;
    if (superBits)
        superMask = superBits;
}

DragProbe::Pointer X11DragProbe::pointer() {
    Pointer result;
    drain();
    XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    if (!reply)
        return result;
    const uint16_t mask = reply->mask;
    result.buttonDown = mask & XCB_KEY_BUT_MASK_BUTTON_1;
    watchMotion(result.buttonDown);
    if (mask & XCB_MOD_MASK_SHIFT)
        result.modifiers |= shift;
    if (mask & XCB_MOD_MASK_CONTROL)
        result.modifiers |= control;
    if (mask & altMask)
        result.modifiers |= alt;
    if (mask & superMask)
        result.modifiers |= super;
    result.position = QPoint(int(reply->root_x / pixelRatio), int(reply->root_y / pixelRatio));
    // Owner changes that came in while we waited for the reply.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
        XcbReply<xcb_generic_event_t> owned(event);
        handle(event);
    }
    return result;
}

qint64 X11DragProbe::changeCount() {
    drain();
    return count;
}

std::optional<QList<QUrl>> X11DragProbe::fileURLs() {
    drain();
    if (xcb_connection_has_error(connection))
        return QList<QUrl>();
    // A refusal may turn into an answer once the drag has moved on (its owner's time with it): ask again
    // now and then, never on every call.
    if (answeredFor == count && (!answer.isEmpty() || now() - answeredAt < answerTimeoutMs))
        return answer;
    if (askedFor == count) {
        if (now() - askedAt <= answerTimeoutMs)
            return std::nullopt;
        askedFor = -1;
        return QList<QUrl>();
    }
    askedFor = count;
    askedAt = now();
    // All at once, so the owner answers them in one go; each answer carries the time it was asked with.
    std::vector<quint32> times{ownedSince};
    for (const quint32 time : motionTimes)
        if (time > ownedSince)
            times.push_back(time);
    times.push_back(XCB_CURRENT_TIME);
    unanswered = int(times.size());
    xcb_delete_property(connection, window, property);
    for (const quint32 time : times)
        xcb_convert_selection(connection, window, xdndSelection, uriList, property, time);
    xcb_flush(connection);
    return std::nullopt;
}

void X11DragProbe::nudgePointer() {
    XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    if (!reply)
        return;
    // Away from the left edge, where a step to the left would be cut short and the way back would not.
    const int16_t dx = reply->root_x > 0 ? -1 : 1;
    xcb_warp_pointer(connection, XCB_NONE, XCB_NONE, 0, 0, 0, 0, dx, 0);
    xcb_warp_pointer(connection, XCB_NONE, XCB_NONE, 0, 0, 0, 0, int16_t(-dx), 0);
    xcb_flush(connection);
}

void X11DragProbe::watchMotion(bool on) {
    // Motions and keys matter only while a button is down; watching them always would wake us for nothing.
    if (xiOpcode < 0 || on == motionWatched)
        return;
    motionWatched = on;
    if (!on)
        motionTimes.clear();
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL, 1},
           on ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS |
                         XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE)
              : 0u};
    xcb_input_xi_select_events(connection, root, 1, &mask.head);
    xcb_flush(connection);
}
