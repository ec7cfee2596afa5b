#include "card/EscapeKeyGrab.h"

#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <vector>

namespace {

constexpr xcb_keysym_t escapeKeysym = 0xff1b;

// Without a display there is nothing to grab.
class NoEscapeKeyGrab final : public EscapeKeyGrab {
public:
    bool setActive(bool) override { return false; }
    bool isActive() const override { return false; }
};

class X11EscapeKeyGrab final : public EscapeKeyGrab {
public:
    static std::unique_ptr<EscapeKeyGrab> open() {
        int screenNumber = 0;
        xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
        if (!c || xcb_connection_has_error(c)) {
            if (c)
                xcb_disconnect(c);
            return nullptr;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem) {
            xcb_disconnect(c);
            return nullptr;
        }
        std::vector<xcb_keycode_t> codes = escapeKeycodes(c);
        if (codes.empty()) {
            xcb_disconnect(c);
            return nullptr;
        }
        return std::unique_ptr<EscapeKeyGrab>(new X11EscapeKeyGrab(c, it.data->root, std::move(codes)));
    }

    ~X11EscapeKeyGrab() override {
        setActive(false);
        delete notifier;
        xcb_disconnect(connection);
    }

    bool setActive(bool on) override {
        if (on == grabbed)
            return grabbed;
        if (xcb_connection_has_error(connection))
            return false;
        if (!on) {
            for (xcb_keycode_t code : codes)
                for (uint16_t mods : lockVariants())
                    xcb_ungrab_key(connection, code, root, mods);
            xcb_flush(connection);
            grabbed = false;
            return true;
        }
        // Caps Lock and Num Lock must not keep Escape from reaching us, so each is grabbed with and without.
        std::vector<xcb_void_cookie_t> cookies;
        for (xcb_keycode_t code : codes)
            for (uint16_t mods : lockVariants())
                cookies.push_back(
                    xcb_grab_key_checked(connection, 1, root, mods, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        bool refused = false;
        for (xcb_void_cookie_t cookie : cookies)
            if (XcbReply<xcb_generic_error_t> error{xcb_request_check(connection, cookie)})
                refused = true;
        grabbed = true;
        if (refused) {
            // Someone else holds Escape: give back whatever we did get, so nothing is half grabbed.
            setActive(false);
            return false;
        }
        return true;
    }

    bool isActive() const override { return grabbed; }

private:
    X11EscapeKeyGrab(xcb_connection_t* c, xcb_window_t rootWindow, std::vector<xcb_keycode_t> escapeCodes)
        : connection(c), root(rootWindow), codes(std::move(escapeCodes)) {
        notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
    }

    static std::vector<uint16_t> lockVariants() {
        return {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, uint16_t(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)};
    }

    static std::vector<xcb_keycode_t> escapeKeycodes(xcb_connection_t* c) {
        const xcb_setup_t* setup = xcb_get_setup(c);
        const int first = setup->min_keycode, count = setup->max_keycode - setup->min_keycode + 1;
        XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, xcb_keycode_t(first), uint8_t(count)), nullptr));
        std::vector<xcb_keycode_t> found;
        if (!mapping || mapping->keysyms_per_keycode == 0)
            return found;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
        const int per = mapping->keysyms_per_keycode;
        for (int i = 0; i < length; ++i)
            if (syms[i] == escapeKeysym) {
                const xcb_keycode_t code = xcb_keycode_t(first + i / per);
                if (found.empty() || found.back() != code)
                    found.push_back(code);
            }
        return found;
    }

    void readEvents() {
        if (xcb_connection_has_error(connection)) {
            notifier->setEnabled(false);
            return;
        }
        int presses = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            XcbReply<xcb_generic_event_t> owned(event);
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
                ++presses;
        }
        // A receiver may close the card, and with it this grab.
        QPointer<QObject> self(this);
        for (int i = 0; i < presses && self; ++i)
            emit pressed();
    }

    xcb_connection_t* connection;
    xcb_window_t root;
    std::vector<xcb_keycode_t> codes;
    QSocketNotifier* notifier = nullptr;
    bool grabbed = false;
};

} // namespace

EscapeKeyGrab::EscapeKeyGrab(QObject* parent) : QObject(parent) {}

EscapeKeyGrab::~EscapeKeyGrab() = default;

std::unique_ptr<EscapeKeyGrab> EscapeKeyGrab::create() {
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        if (std::unique_ptr<EscapeKeyGrab> grab = X11EscapeKeyGrab::open())
            return grab;
    return std::make_unique<NoEscapeKeyGrab>();
}
