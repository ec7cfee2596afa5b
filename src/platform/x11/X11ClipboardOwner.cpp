#include "platform/ClipboardOwner.h"

#include "platform/x11/X11ClockGuard.h"
#include "platform/x11/XcbReply.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPointer>

#include <xcb/xcb.h>

namespace {

// Another copy of what is on the clipboard: the clipboard deletes what it holds once given something else. Its
// marks go with it, so that what is added to a copy later still finds it.
QMimeData* copyOf(const QMimeData& data) {
    auto* copy = new QMimeData;
    for (const QString& format : data.formats())
        copy->setData(format, data.data(format));
    if (data.hasImage())
        copy->setImageData(data.imageData());
    for (const QByteArray& name : data.dynamicPropertyNames())
        copy->setProperty(name.constData(), data.property(name.constData()));
    return copy;
}

// Counts the puts, so that a retry never replaces what a later put left.
quint64 putCount = 0;
// Counts every change of the clipboard this process hears of: our puts, and other programs' copies.
quint64 changeCount = 0;

void watchChanges() {
    static bool watching = false;
    if (watching || !qGuiApp)
        return;
    watching = true;
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, qGuiApp, [](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++changeCount;
    });
}

} // namespace

ClipboardOwner::Holder ClipboardOwner::holder() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Elsewhere (the tests' offscreen screens) nothing tells a refusal, and a clipboard inside the process
    // never refuses.
    if (!x11 || !x11->connection())
        return Holder::us;
    xcb_connection_t* c = x11->connection();
    static const char name[] = "CLIPBOARD";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(sizeof name - 1), name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return Holder::nobody;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return Holder::nobody;
    // Qt owns the clipboard through a window of its own connection: such a window's id lies in the range
    // the server gave that connection. The request follows Qt's own on the same connection, so it sees it.
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (owner->owner & ~setup->resource_id_mask) == setup->resource_id_base ? Holder::us : Holder::another;
}

namespace {

// Who holds the clipboard after setting it: us only when the server took this request, not when it refused it
// while an earlier one of ours still holds.
ClipboardOwner::Holder set(QMimeData* data, X11ClockGuard& guard) {
    const quint64 before = guard.clipboardTakes();
    QGuiApplication::clipboard()->setMimeData(data);
    const bool taken = guard.clipboardTakes() != before;
    const ClipboardOwner::Holder now = ClipboardOwner::holder();
    return now == ClipboardOwner::Holder::us && !taken ? ClipboardOwner::Holder::nobody : now;
}

} // namespace

quint64 ClipboardOwner::changes() {
    watchChanges();
    return changeCount;
}

void ClipboardOwner::put(QMimeData* data, QObject* context, std::function<void(Holder)> done) {
    watchChanges();
    ++changeCount;
    X11ClockGuard* guard = X11ClockGuard::installed();
    if (!guard) {
        QGuiApplication::clipboard()->setMimeData(data);
        done(holder());
        return;
    }
    const quint64 put = ++putCount;
    const Holder now = set(data, *guard);
    if (now != Holder::nobody) {
        done(now);
        return;
    }
    // Refused, with no other program in the way: the server found our time stale (older than the clipboard's
    // last change, or beyond its clock). Once more, with a fresh one.
    QMimeData* again = copyOf(*data);
    QPointer<QObject> alive(context);
    QPointer<X11ClockGuard> guarded(guard);
    const quint64 takes = guard->clipboardTakes();
    const bool reset = guard->resetQtClock([alive, guarded, again, done, put, takes] {
        if (!alive || !guarded || put != putCount) {
            delete again;
            return;
        }
        // Whoever took the clipboard meanwhile, another program or a copy of ours that went another way, made
        // the newer copy: the older one never replaces it.
        if (guarded->clipboardTakes() != takes) {
            delete again;
            const Holder holder = ClipboardOwner::holder();
            if (holder != Holder::us)
                done(holder);
            return;
        }
        done(set(again, *guarded));
    });
    if (!reset) {
        delete again;
        done(now);
    }
}
