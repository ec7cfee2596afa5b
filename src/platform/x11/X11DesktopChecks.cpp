#include "platform/x11/X11DesktopChecks.h"

#include "platform/x11/XcbReply.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QtGlobal>

#include <xcb/xcb.h>

namespace {

// A short-lived connection to the display the application runs on, closed when it goes.
class Connection {
public:
    Connection() {
        if (QGuiApplication::platformName() != u"xcb")
            return;
        c = xcb_connect(nullptr, &screenNumber);
        if (c && xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            c = nullptr;
        }
    }
    ~Connection() {
        if (c)
            xcb_disconnect(c);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return c; }
    int screen() const { return screenNumber; }
    xcb_window_t root() const {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; it.rem && i < screenNumber; ++i)
            xcb_screen_next(&it);
        return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
    }

private:
    xcb_connection_t* c = nullptr;
    int screenNumber = 0;
};

} // namespace

bool X11DesktopChecks::wayland() const {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool X11DesktopChecks::screenReadable() const {
    Connection c;
    if (!c.get())
        return false;
    const xcb_window_t root = c.root();
    if (root == XCB_WINDOW_NONE)
        return false;
    XcbReply<xcb_get_image_reply_t> pixel(xcb_get_image_reply(
        c.get(), xcb_get_image(c.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, 1, 1, ~0u), nullptr));
    return pixel && xcb_get_image_data_length(pixel.get()) > 0;
}

namespace {

// Panels that show StatusNotifier items instead of docking windows, as Qt's tray icon uses them.
bool statusNotifierHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher).value())
        return false;
    QDBusInterface iface(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return iface.isValid() && iface.property("IsStatusNotifierHostRegistered").toBool();
}

} // namespace

bool X11DesktopChecks::trayPresent() const {
    if (statusNotifierHost())
        return true;
    Connection c;
    if (!c.get())
        return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(c.screen());
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c.get(), xcb_intern_atom(c.get(), 1, uint16_t(name.size()), name.constData()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c.get(), xcb_get_selection_owner(c.get(), atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}
