#include "platform/x11/X11GlobalKeys.h"

#include "platform/x11/XcbReply.h"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The XKB header names a struct member "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdio>

namespace {

constexpr quint32 XK_Num_Lock = 0xff7f;
constexpr quint32 XK_Super_L = 0xffeb, XK_Super_R = 0xffec;
constexpr quint32 XK_Alt_L = 0xffe9, XK_Alt_R = 0xffea;
constexpr quint8 BadAccess = 10;

quint8 eventType(const xcb_generic_event_t* event) {
    return event->response_type & 0x7f;
}

} // namespace

X11GlobalKeys::X11GlobalKeys(const QByteArray& display, QObject* parent, bool askDetectableAutoRepeat)
    : GlobalKeys(parent) {
    c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "pictolarium: cannot open the X display; global hot keys are off.\n");
        xcb_disconnect(c);
        c = nullptr;
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    root = xcb_setup_roots_iterator(setup).data->root;
    symbols = xcb_key_symbols_alloc(c);
    readModifierMap();

    // Without this a held key arrives as release/press pairs, which look like a stream of taps.
    XcbReply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
        c, xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    if (askDetectableAutoRepeat && xkb && xkb->supported) {
        const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        XcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
            c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
        detectable = flags && (flags->value & flag);
    }
    // A client that speaks XKB is told of layout switches (setxkbmap, the session applying the
    // user's layout) by XKB's events, not always by the core MappingNotify.
    if (xkb && xkb->supported) {
        if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xkb_id); ext && ext->present) {
            xkbEvent = ext->first_event;
            const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
            const uint16_t parts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
            xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
            xcb_flush(c);
        }
    }

    notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &X11GlobalKeys::readEvents);
}

X11GlobalKeys::~X11GlobalKeys() {
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (c)
        xcb_disconnect(c); // the server drops our grabs with the connection
}

bool X11GlobalKeys::connected() const {
    return c && !xcb_connection_has_error(c);
}

void X11GlobalKeys::readModifierMap() {
    superMask = XCB_MOD_MASK_4;
    altMask = XCB_MOD_MASK_1;
    numLockMask = XCB_MOD_MASK_2;
    XcbReply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!map)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    quint16 super = 0, alt = 0, numLock = 0;
    // Shift, Lock and Control are fixed; Super, Alt and NumLock sit on whichever of Mod1..Mod5 the
    // keyboard map puts them.
    for (int mod = 3; mod < 8; ++mod) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[mod * perModifier + i];
            if (!code)
                continue;
            for (int column = 0; column < 4; ++column) {
                const quint32 sym = xcb_key_symbols_get_keysym(symbols, code, column);
                if (sym == XK_Super_L || sym == XK_Super_R)
                    super |= quint16(1u << mod);
                else if (sym == XK_Alt_L || sym == XK_Alt_R)
                    alt |= quint16(1u << mod);
                else if (sym == XK_Num_Lock)
                    numLock |= quint16(1u << mod);
            }
        }
    }
    if (super)
        superMask = super;
    if (alt)
        altMask = alt;
    if (numLock)
        numLockMask = numLock;
}

quint16 X11GlobalKeys::maskOf(quint32 modifiers) const {
    quint16 mask = 0;
    if (modifiers & Super)
        mask |= superMask;
    if (modifiers & Shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Alt)
        mask |= altMask;
    if (modifiers & Control)
        mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

QList<quint16> X11GlobalKeys::lockVariants() const {
    // A grab matches the modifier state exactly, so CapsLock and NumLock need grabs of their own.
    return {0, XCB_MOD_MASK_LOCK, numLockMask, quint16(XCB_MOD_MASK_LOCK | numLockMask)};
}

QList<quint8> X11GlobalKeys::keycodesOf(quint32 sym) const {
    QList<quint8> result;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, sym)) {
        for (xcb_keycode_t* code = codes; *code != XCB_NO_SYMBOL; ++code)
            if (!result.contains(*code))
                result.append(*code);
        std::free(codes);
    }
    return result;
}

bool X11GlobalKeys::grabKeys(const QList<quint8>& keycodes, quint16 mask) {
    QList<xcb_void_cookie_t> cookies;
    for (quint8 code : keycodes)
        for (quint16 lock : lockVariants())
            cookies.append(
                xcb_grab_key_checked(c, 1, root, mask | lock, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    for (const xcb_void_cookie_t& cookie : std::as_const(cookies)) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        if (error) {
            refused = true;
            if (error->error_code != BadAccess)
                std::fprintf(stderr, "pictolarium: key grab failed with X error %d.\n", int(error->error_code));
        }
    }
    // Replies may have pulled key events into xcb's queue, where the socket notifier cannot see them.
    QTimer::singleShot(0, this, &X11GlobalKeys::readEvents);
    if (refused) // ungrabbing also covers the variants another client holds; the server only drops our own
        ungrabKeys(keycodes, mask, numLockMask);
    return !refused;
}

quint32 X11GlobalKeys::grab(quint32 sym, quint32 modifiers) {
    if (!connected())
        return 0;
    Grab grab;
    grab.mask = maskOf(modifiers);
    grab.numLock = numLockMask;
    grab.keysym = sym;
    grab.modifiers = modifiers;
    grab.keycodes = keycodesOf(sym);
    if (grab.keycodes.isEmpty())
        return 0;
    // The server lets a client grab a combination it holds already, and one ungrab would then end
    // both: a combination this process holds is refused like one another program holds.
    for (const Grab& held : std::as_const(grabs))
        if (held.mask == grab.mask)
            for (quint8 code : std::as_const(grab.keycodes))
                if (held.keycodes.contains(code))
                    return 0;
    if (!grabKeys(grab.keycodes, grab.mask))
        return 0;
    const quint32 handle = nextHandle++;
    grabs.insert(handle, grab);
    return handle;
}

void X11GlobalKeys::regrabAll() {
    regrabPending = false;
    if (!connected())
        return;
    for (auto it = grabs.begin(); it != grabs.end(); ++it)
        ungrabKeys(it->keycodes, it->mask, it->numLock);
    for (auto it = grabs.begin(); it != grabs.end(); ++it) {
        it->mask = maskOf(it->modifiers);
        it->numLock = numLockMask;
        it->keycodes = keycodesOf(it->keysym);
        // The handle stays: its owner keeps listening. A key the new map no longer has, or one
        // another program took meanwhile, simply stays silent until the map changes again.
        if (it->keycodes.isEmpty() || !grabKeys(it->keycodes, it->mask)) {
            std::fprintf(stderr, "pictolarium: a hot key could not be grabbed again after the keyboard map changed.\n");
            it->keycodes.clear();
        }
    }
    // A key held through the change (a program that types remaps a spare key for a moment) still has
    // its release to come: forgetting its press would turn a tap into a hold. Only presses on keys the
    // new map moved elsewhere cannot be matched any more.
    for (auto d = down.begin(); d != down.end();) {
        const auto grab = grabs.constFind(d.value());
        d = grab != grabs.cend() && grab->keycodes.contains(d.key()) ? std::next(d) : down.erase(d);
    }
}

void X11GlobalKeys::ungrabKeys(const QList<quint8>& keycodes, quint16 mask, quint16 numLock) {
    const quint16 variants[] = {0, XCB_MOD_MASK_LOCK, numLock, quint16(XCB_MOD_MASK_LOCK | numLock)};
    for (quint8 code : keycodes)
        for (quint16 lock : variants)
            xcb_ungrab_key(c, code, root, mask | lock);
    xcb_flush(c);
}

void X11GlobalKeys::ungrab(quint32 handle) {
    const auto it = grabs.constFind(handle);
    if (it == grabs.cend())
        return;
    if (connected())
        ungrabKeys(it->keycodes, it->mask, it->numLock);
    grabs.erase(it);
    for (auto d = down.begin(); d != down.end();)
        d = d.value() == handle ? down.erase(d) : std::next(d);
}

quint32 X11GlobalKeys::keysym(quint32 keycode, int column) const {
    if (!symbols || keycode > 255)
        return 0;
    return xcb_key_symbols_get_keysym(symbols, xcb_keycode_t(keycode), column);
}

void X11GlobalKeys::catchUp() {
    if (!c || xcb_connection_has_error(c))
        return;
    // A round trip: the server sends its reply after every event it sent before, so they are all
    // in our queue once the reply is.
    XcbReply<xcb_get_input_focus_reply_t> reply{xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)};
    readEvents();
}

void X11GlobalKeys::readEvents() {
    if (!c)
        return;
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if (eventType(event.get()) == XCB_KEY_RELEASE && !detectable) {
            // The server refused detectable auto-repeat: a repeat is a release followed by a press of
            // the same key with the same time stamp, sent together.
            XcbReply<xcb_generic_event_t> next{xcb_poll_for_event(c)};
            const auto* release = reinterpret_cast<const xcb_key_release_event_t*>(event.get());
            if (next && eventType(next.get()) == XCB_KEY_PRESS) {
                const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(next.get());
                if (press->detail == release->detail && press->time == release->time)
                    continue;
            }
            handle(event.get());
            if (next)
                handle(next.get());
            continue;
        }
        handle(event.get());
    }
    if (xcb_connection_has_error(c) && notifier) {
        std::fprintf(stderr, "pictolarium: the X connection for hot keys was lost.\n");
        notifier->setEnabled(false);
    }
}

void X11GlobalKeys::handle(xcb_generic_event_t* event) {
    switch (eventType(event)) {
    case XCB_KEY_PRESS: {
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (down.contains(press->detail))
            return; // auto-repeat of a key already reported
        const quint16 relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | superMask | altMask;
        const quint16 state = press->state & relevant;
        for (auto it = grabs.cbegin(); it != grabs.cend(); ++it) {
            if (it->mask == state && it->keycodes.contains(press->detail)) {
                down.insert(press->detail, it.key());
                emit pressed(it.key(), press->time);
                return;
            }
        }
        return;
    }
    case XCB_KEY_RELEASE: {
        const auto* release = reinterpret_cast<const xcb_key_release_event_t*>(event);
        const quint32 id = down.take(release->detail);
        if (id)
            emit released(id, release->time);
        return;
    }
    default:
        if (xkbEvent && eventType(event) == xkbEvent) {
            // The whole map may be new: read it afresh rather than patch it.
            xcb_key_symbols_free(symbols);
            symbols = xcb_key_symbols_alloc(c);
            readModifierMap();
            scheduleRegrab();
        }
        return;
    case XCB_MAPPING_NOTIFY:
        xcb_refresh_keyboard_mapping(symbols, reinterpret_cast<xcb_mapping_notify_event_t*>(event));
        readModifierMap();
        if (reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER)
            scheduleRegrab();
        return;
    }
}

void X11GlobalKeys::scheduleRegrab() {
    // A layout switch sends several notices at once: grab again once, after the last.
    if (regrabPending)
        return;
    regrabPending = true;
    QTimer::singleShot(0, this, &X11GlobalKeys::regrabAll);
}
