#include "platform/x11/X11WindowList.h"

#include "platform/x11/XGrab.h"
#include "platform/x11/XcbConnect.h"
#include "platform/x11/XcbReply.h"

#include <QMutexLocker>

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

namespace {

// Properties larger than this are not window lists or class names anyone sets in practice.
constexpr uint32_t maxLongs = 16384;

template <typename T> QList<T> values(const xcb_get_property_reply_t* reply) {
    QList<T> result;
    if (!reply || reply->format != 32)
        return result;
    const int count = xcb_get_property_value_length(reply) / 4;
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    for (int i = 0; i < count; ++i)
        result.append(T(data[i]));
    return result;
}

} // namespace

struct X11WindowList::Atoms {
    xcb_atom_t check = 0, stacking = 0, clientList = 0, extents = 0, pid = 0, type = 0, typeNormal = 0, typeDialog = 0,
               state = 0, stateHidden = 0, opacity = 0, wmState = 0, shadow = 0;
    // Every window type the desktop standard names: the first of a window's list that is among
    // them is its type. Others (a toolkit's private types put first) are passed over.
    QList<xcb_atom_t> knownTypes;
};

X11WindowList::X11WindowList(QString display) : displayName(std::move(display)) {}

X11WindowList::~X11WindowList() {
    grabber.reset();
    if (c)
        xcb_disconnect(c);
}

bool X11WindowList::connect() {
    if (c && !xcb_connection_has_error(c))
        return true;
    // A broken connection (the server restarted) gets one fresh attempt per call.
    grabber.reset();
    if (c)
        xcb_disconnect(c);
    const XcbConnection x = xcbConnect(displayName.toLocal8Bit());
    c = x.connection;
    if (!c)
        return false;
    screen = x.screen;

    const char* names[] = {"_NET_SUPPORTING_WM_CHECK",
                           "_NET_CLIENT_LIST_STACKING",
                           "_NET_CLIENT_LIST",
                           "_NET_FRAME_EXTENTS",
                           "_NET_WM_PID",
                           "_NET_WM_WINDOW_TYPE",
                           "_NET_WM_WINDOW_TYPE_NORMAL",
                           "_NET_WM_WINDOW_TYPE_DIALOG",
                           "_NET_WM_STATE",
                           "_NET_WM_STATE_HIDDEN",
                           "_NET_WM_WINDOW_OPACITY",
                           "WM_STATE"};
    atoms = std::make_unique<Atoms>();
    xcb_atom_t* targets[] = {&atoms->check, &atoms->stacking,    &atoms->clientList, &atoms->extents,
                             &atoms->pid,   &atoms->type,        &atoms->typeNormal, &atoms->typeDialog,
                             &atoms->state, &atoms->stateHidden, &atoms->opacity,    &atoms->wmState};
    static_assert(std::size(targets) == std::size(names));
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
    for (size_t i = 0; i < std::size(names); ++i) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        *targets[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    const char* extra[] = {
        "_GTK_FRAME_EXTENTS",          "_NET_WM_WINDOW_TYPE_DESKTOP",       "_NET_WM_WINDOW_TYPE_DOCK",
        "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_MENU",          "_NET_WM_WINDOW_TYPE_UTILITY",
        "_NET_WM_WINDOW_TYPE_SPLASH",  "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
        "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_NOTIFICATION",  "_NET_WM_WINDOW_TYPE_COMBO",
        "_NET_WM_WINDOW_TYPE_DND"};
    xcb_intern_atom_cookie_t more[std::size(extra)];
    for (size_t i = 0; i < std::size(extra); ++i)
        more[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(extra[i])), extra[i]);
    for (size_t i = 0; i < std::size(extra); ++i) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, more[i], nullptr));
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        if (i == 0)
            atoms->shadow = atom;
        else
            atoms->knownTypes.append(atom);
    }
    atoms->knownTypes.append(atoms->typeNormal);
    atoms->knownTypes.append(atoms->typeDialog);
    grabber = std::make_unique<XGrab::Grabber>(c);
    return true;
}

bool X11WindowList::managerAlive() {
    // A manager that died leaves its check property on the root behind; only a check window that
    // still exists and names itself proves one is running.
    XcbReply<xcb_get_property_reply_t> root(
        xcb_get_property_reply(c, xcb_get_property(c, 0, screen->root, atoms->check, XCB_ATOM_WINDOW, 0, 1), nullptr));
    const QList<quint32> first = values<quint32>(root.get());
    if (first.isEmpty() || first.first() == XCB_WINDOW_NONE)
        return false;
    XcbReply<xcb_get_property_reply_t> self(
        xcb_get_property_reply(c, xcb_get_property(c, 0, first.first(), atoms->check, XCB_ATOM_WINDOW, 0, 1), nullptr));
    const QList<quint32> second = values<quint32>(self.get());
    return !second.isEmpty() && second.first() == first.first();
}

QList<quint32> X11WindowList::stacking(bool* fromManager) {
    *fromManager = managerAlive();
    if (*fromManager) {
        for (xcb_atom_t list : {atoms->stacking, atoms->clientList}) {
            XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
                c, xcb_get_property(c, 0, screen->root, list, XCB_ATOM_WINDOW, 0, maxLongs), nullptr));
            QList<quint32> ids = values<quint32>(reply.get());
            if (!ids.isEmpty()) {
                std::reverse(ids.begin(), ids.end()); // the manager lists bottom to top
                return ids;
            }
        }
        return {};
    }
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    QList<quint32> ids;
    for (int i = count - 1; i >= 0; --i)
        ids.append(children[i]);
    return ids;
}

QList<WindowList::Window> X11WindowList::describe(const QList<quint32>& clients, const QList<quint32>& frames) {
    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t extents, pid, wmClass, type, state, opacity, shadow;
    };
    // Every request goes out before the first answer is read: one round trip for the whole list.
    QList<Cookies> cookies;
    cookies.reserve(clients.size());
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const xcb_window_t w = clients[i];
        const xcb_window_t outer = frames.isEmpty() ? w : frames[i];
        cookies.append({xcb_get_window_attributes(c, outer), xcb_get_geometry(c, outer),
                        xcb_translate_coordinates(c, outer, screen->root, 0, 0),
                        xcb_get_property(c, 0, w, atoms->extents, XCB_ATOM_CARDINAL, 0, 4),
                        xcb_get_property(c, 0, w, atoms->pid, XCB_ATOM_CARDINAL, 0, 1),
                        xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                        xcb_get_property(c, 0, w, atoms->type, XCB_ATOM_ATOM, 0, 32),
                        xcb_get_property(c, 0, w, atoms->state, XCB_ATOM_ATOM, 0, 32),
                        xcb_get_property(c, 0, w, atoms->opacity, XCB_ATOM_CARDINAL, 0, 1),
                        xcb_get_property(c, 0, w, atoms->shadow, XCB_ATOM_CARDINAL, 0, 4)});
    }
    QList<Window> result;
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const Cookies& k = cookies[i];
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, k.attributes, nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, k.geometry, nullptr));
        XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, k.origin, nullptr));
        XcbReply<xcb_get_property_reply_t> extents(xcb_get_property_reply(c, k.extents, nullptr));
        XcbReply<xcb_get_property_reply_t> pid(xcb_get_property_reply(c, k.pid, nullptr));
        XcbReply<xcb_get_property_reply_t> wmClass(xcb_get_property_reply(c, k.wmClass, nullptr));
        XcbReply<xcb_get_property_reply_t> type(xcb_get_property_reply(c, k.type, nullptr));
        XcbReply<xcb_get_property_reply_t> state(xcb_get_property_reply(c, k.state, nullptr));
        XcbReply<xcb_get_property_reply_t> opacity(xcb_get_property_reply(c, k.opacity, nullptr));
        XcbReply<xcb_get_property_reply_t> shadow(xcb_get_property_reply(c, k.shadow, nullptr));
        // A window destroyed while we asked answers with errors: it is simply not listed.
        if (!attributes || !geometry || !origin)
            continue;
        // Input-only windows and popups that bypass the manager are never application windows.
        if (attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY || attributes->override_redirect)
            continue;

        Window w;
        w.id = clients[i];
        const int border = geometry->border_width;
        w.frame = QRect(origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
                        geometry->height + 2 * border);
        if (frames.isEmpty()) {
            const QList<quint32> e = values<quint32>(extents.get());
            if (e.size() == 4)
                w.frame.adjust(-int(e[0]), -int(e[2]), int(e[1]), int(e[3])); // left, right, top, bottom
        }
        // A window that draws its own frame paints a shadow around it, invisible but inside its
        // rectangle: what the user sees as the window (and points at) is without it.
        const QList<quint32> margins = values<quint32>(shadow.get());
        if (margins.size() == 4 && std::all_of(margins.cbegin(), margins.cend(), [](quint32 m) { return m <= 1000; })) {
            const QRect inner = w.frame.adjusted(int(margins[0]), int(margins[2]), -int(margins[1]), -int(margins[3]));
            if (!inner.isEmpty())
                w.frame = inner;
        }
        const QList<qint32> pids = values<qint32>(pid.get());
        w.pid = pids.isEmpty() ? 0 : pids.first();
        if (wmClass && wmClass->format == 8) {
            // Two NUL-terminated strings: the instance, then the class.
            const char* data = static_cast<const char*>(xcb_get_property_value(wmClass.get()));
            const int length = xcb_get_property_value_length(wmClass.get());
            const QList<QByteArray> parts = QByteArray(data, length).split('\0');
            if (parts.size() >= 2)
                w.app = entries.nameFor(QString::fromUtf8(parts[1]).trimmed(), QString::fromUtf8(parts[0]).trimmed());
        }
        const QList<quint32> types = values<quint32>(type.get());
        // The first type we know is the one the window prefers; none known means a normal window.
        const auto known = std::find_if(types.cbegin(), types.cend(), [this](quint32 t) {
            return t != XCB_ATOM_NONE && atoms->knownTypes.contains(t);
        });
        w.normal = known == types.cend() || *known == atoms->typeNormal || *known == atoms->typeDialog;
        const QList<quint32> states = values<quint32>(state.get());
        w.visible = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !states.contains(atoms->stateHidden);
        const QList<quint32> alpha = values<quint32>(opacity.get());
        if (!alpha.isEmpty())
            w.opacity = double(alpha.first()) / double(0xffffffffu);
        result.append(w);
    }
    return result;
}

QList<WindowList::Window> X11WindowList::windows() {
    QMutexLocker lock(&mutex);
    if (!connect())
        return {};
    bool fromManager = false;
    const QList<quint32> top = stacking(&fromManager);
    if (fromManager)
        return describe(top, {});

    // Without a manager the root's children are the windows; under a manager that does not speak
    // EWMH they are frames, and the application window is the child marked with WM_STATE.
    QList<xcb_query_tree_cookie_t> trees;
    QList<xcb_get_property_cookie_t> marks;
    for (quint32 w : top) {
        trees.append(xcb_query_tree(c, w));
        marks.append(xcb_get_property(c, 0, w, atoms->wmState, XCB_ATOM_ANY, 0, 0));
    }
    QList<quint32> clients;
    for (qsizetype i = 0; i < top.size(); ++i) {
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, trees[i], nullptr));
        XcbReply<xcb_get_property_reply_t> mark(xcb_get_property_reply(c, marks[i], nullptr));
        quint32 client = top[i];
        if (tree && !(mark && mark->type != XCB_ATOM_NONE)) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            QList<xcb_get_property_cookie_t> inner;
            for (int j = 0; j < count; ++j)
                inner.append(xcb_get_property(c, 0, children[j], atoms->wmState, XCB_ATOM_ANY, 0, 0));
            for (int j = 0; j < count; ++j) {
                XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, inner[j], nullptr));
                if (client == top[i] && r && r->type != XCB_ATOM_NONE)
                    client = children[j];
            }
        }
        clients.append(client);
    }
    return describe(clients, top);
}

std::optional<WindowList::Window> X11WindowList::window(quint32 id) {
    QMutexLocker lock(&mutex);
    if (!connect())
        return std::nullopt;
    QList<Window> found;
    if (managerAlive()) {
        found = describe({id}, {});
    } else {
        const xcb_window_t outer = XGrab::topLevel(c, screen->root, id);
        if (outer == XCB_WINDOW_NONE || outer == screen->root)
            return std::nullopt;
        found = describe({id}, {outer});
    }
    if (found.isEmpty() || !found.first().visible)
        return std::nullopt;
    return found.first();
}

QPoint X11WindowList::pointer() {
    QMutexLocker lock(&mutex);
    if (!connect())
        return {};
    XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr));
    return reply ? QPoint(reply->root_x, reply->root_y) : QPoint();
}

QList<QRect> X11WindowList::screens() {
    QMutexLocker lock(&mutex);
    if (!connect())
        return {};
    QList<QRect> result;
    for (const XGrab::Rect& r : XGrab::monitors(c, screen))
        result.append(QRect(r.x, r.y, r.width, r.height));
    return result;
}

namespace {

// The server leaves the top byte of a depth-24 pixel undefined, while RGB32 promises 0xff there; code that copies
// rows into a picture with alpha would otherwise see holes. Null when there is no memory for it.
QImage opaque(const XGrab::Pixels& pixels) {
    QImage image(pixels.width, pixels.height, QImage::Format_RGB32);
    for (int y = 0; !image.isNull() && y < pixels.height; ++y) {
        const auto* from = reinterpret_cast<const quint32*>(pixels.data + size_t(y) * size_t(pixels.stride));
        auto* to = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < pixels.width; ++x)
            to[x] = from[x] | 0xff000000u;
    }
    return image;
}

} // namespace

QImage X11WindowList::grab(const QRect& rect, QString* error) {
    QMutexLocker lock(&mutex);
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (!connect())
        return fail(QStringLiteral("Cannot reach the display"));
    if (!XGrab::supportedDepth(c, screen->root_depth))
        return fail(QStringLiteral("The display's colour format is not supported"));
    const XGrab::Rect whole{0, 0, screen->width_in_pixels, screen->height_in_pixels};
    const XGrab::Rect area = XGrab::Rect{rect.x(), rect.y(), rect.width(), rect.height()}.intersected(whole);
    if (area.empty())
        return fail(QStringLiteral("Nothing of it is on screen"));
    XGrab::Pixels pixels;
    std::string why;
    if (!grabber->grab(screen->root, area, pixels, why, true))
        return fail(QString::fromStdString(why));
    QImage image = opaque(pixels);
    if (image.isNull())
        return fail(QStringLiteral("Out of memory"));
    return image;
}

// Programs paint the parts of their window that others hid as soon as it has a picture of its own; a grab waits
// this long after the redirection for them to have done so.
static constexpr std::chrono::milliseconds paintTime(150);

class X11WindowList::OwnRecording : public WindowList::Recording {
public:
    OwnRecording(X11WindowList& list, quint32 id) : list(list), id(id), screenRecording(list, id) {
        QMutexLocker lock(&list.mutex);
        if (!list.connect())
            return;
        c = list.c;
        top = XGrab::topLevel(c, list.screen->root, id);
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_composite_id);
        if (top == XCB_WINDOW_NONE || !ext || !ext->present)
            return;
        XcbReply<xcb_composite_query_version_reply_t> version(
            xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 2), nullptr));
        if (!version)
            return;
        // Under a compositor every window has a picture of its own already.
        const xcb_pixmap_t probe = xcb_generate_id(c);
        XcbReply<xcb_generic_error_t> unnamed(
            xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, probe)));
        if (!unnamed) {
            xcb_free_pixmap(c, probe);
            usable = true;
            return;
        }
        XcbReply<xcb_generic_error_t> refused(
            xcb_request_check(c, xcb_composite_redirect_window_checked(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
        if (refused)
            return;
        redirected = usable = true;
        since = std::chrono::steady_clock::now();
    }

    ~OwnRecording() override {
        QMutexLocker lock(&list.mutex);
        if (redirected && c == list.c && !xcb_connection_has_error(c)) {
            xcb_composite_unredirect_window(c, top, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
            xcb_flush(c);
        }
    }

    Pixels grab(QString* error) override {
        if (!usable)
            return screenRecording.grab(error);
        auto fail = [&](const QString& why) {
            if (error)
                *error = why;
            return Pixels{};
        };
        const std::optional<Window> self = list.window(id);
        if (!self)
            return fail(QStringLiteral("Window is gone"));
        if (redirected)
            std::this_thread::sleep_until(since + paintTime);
        // A program paints a frame in several requests (a scroll is a copy, then the new lines drawn): a read
        // between them holds a page that never was. Two reads in a row that agree show the window at rest.
        QImage earlier;
        for (int read = 0; read < 4; ++read) {
            Pixels pixels = readOnce(*self, error);
            if (pixels.image.isNull() || pixels.image == earlier)
                return pixels;
            earlier = std::move(pixels.image);
        }
        return fail(QStringLiteral("The window kept changing while it was read"));
    }

private:
    Pixels readOnce(const Window& self, QString* error) {
        auto fail = [&](const QString& why) {
            if (error)
                *error = why;
            return Pixels{};
        };
        QMutexLocker lock(&list.mutex);
        if (c != list.c || xcb_connection_has_error(c))
            return fail(QStringLiteral("Cannot reach the display"));
        const XGrab::Rect origin = XGrab::geometryInRoot(c, list.screen->root, top);
        const XGrab::Rect whole{0, 0, list.screen->width_in_pixels, list.screen->height_in_pixels};
        const XGrab::Rect shown = XGrab::Rect{self.frame.x(), self.frame.y(), self.frame.width(), self.frame.height()}
                                      .intersected(whole)
                                      .intersected(origin);
        if (origin.empty() || shown.empty())
            return fail(QStringLiteral("Nothing of it is on screen"));
        // Named afresh for every grab: a window that was resized has a new picture.
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        XcbReply<xcb_generic_error_t> unnamed(
            xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, pixmap)));
        if (unnamed)
            return fail(QStringLiteral("The window's picture can't be read"));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
        XGrab::Pixels pixels;
        std::string why;
        const XGrab::Rect area{shown.x - origin.x, shown.y - origin.y, shown.width, shown.height};
        const bool read = geometry && XGrab::supportedDepth(c, geometry->depth) &&
                          area.x + area.width <= geometry->width && area.y + area.height <= geometry->height &&
                          list.grabber->grab(pixmap, area, pixels, why, true);
        xcb_free_pixmap(c, pixmap);
        if (!read)
            return fail(why.empty() ? QStringLiteral("The window's picture can't be read")
                                    : QString::fromStdString(why));
        // Opaque as the screen shows it: a window with alpha has its colours premultiplied, over black.
        QImage image = opaque(pixels);
        if (image.isNull())
            return fail(QStringLiteral("Out of memory"));
        return Pixels{image, true, {}};
    }

    X11WindowList& list;
    const quint32 id;
    ScreenRecording screenRecording; // where the window can have no picture of its own
    xcb_connection_t* c = nullptr;
    xcb_window_t top = XCB_WINDOW_NONE;
    bool usable = false, redirected = false;
    std::chrono::steady_clock::time_point since;
};

std::unique_ptr<WindowList::Recording> X11WindowList::record(quint32 id) {
    return std::make_unique<OwnRecording>(*this, id);
}
