#include "platform/x11/XcbConnect.h"

XcbConnection xcbConnect(const QByteArray& display) {
    XcbConnection result;
    xcb_connection_t* c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &result.screenNumber);
    if (!c)
        return {};
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return {};
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < result.screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return {};
    }
    result.connection = c;
    result.screen = it.data;
    return result;
}
