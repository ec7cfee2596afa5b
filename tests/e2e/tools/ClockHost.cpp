// Copies to the clipboard as the program does after another program, on its own connection: request <ms> asked
// for our clipboard with a time that far beyond the server's clock; unguarded <ms> did so while the clock guard
// looked away, spoiling Qt's clock; took (holds) took the clipboard after our last event and went (keeps it).
// Prints "holder us|another|nobody" and "retried yes|no": whether the answer came only after a retry. After
// request or unguarded, a third word makes a newer copy while the retry of the refused one waits: twice copies
// again the same way (and prints "holds" and what the clipboard holds then), newer lets the other program take
// the clipboard.

#include "platform/ClipboardOwner.h"
#include "platform/x11/X11ClockGuard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || QGuiApplication::platformName() != u"xcb")
        return 2;
    const QString mode = args[1];
    QWindow window;
    window.create();
    X11ClockGuard* guard = X11ClockGuard::install();
    xcb_connection_t* other = xcb_connect(nullptr, nullptr); // the other program's own connection
    if (!guard || xcb_connection_has_error(other))
        return 2;
    const xcb_window_t otherWindow = xcb_generate_id(other);
    xcb_create_window(other, XCB_COPY_FROM_PARENT, otherWindow,
                      xcb_setup_roots_iterator(xcb_get_setup(other)).data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const auto intern = [other](const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, void (*)(void*)> reply(
            xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, strlen(name), name), nullptr), std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    const xcb_atom_t clipboard = intern("CLIPBOARD"), targets = intern("TARGETS");

    const auto text = [](const char* words) {
        auto* data = new QMimeData;
        data->setText(QString::fromLatin1(words));
        return data;
    };
    const QString newer = args.value(3);
    const auto copy = [&, text] {
        auto returned = std::make_shared<bool>(false);
        const auto put = [returned, text, newer](const char* words) {
            ClipboardOwner::put(text(words), qApp, [returned, newer](ClipboardOwner::Holder holder) {
                const char* names[] = {"us", "another", "nobody"};
                std::printf("holder %s\nretried %s\n", names[int(holder)], *returned ? "yes" : "no");
                if (newer == u"twice")
                    std::printf("holds %s\n", qPrintable(QGuiApplication::clipboard()->text()));
                std::fflush(stdout);
                QTimer::singleShot(0, qApp, [] { qApp->quit(); });
            });
        };
        put("second");
        *returned = true;
        if (newer == u"twice") {
            put("third");
        } else if (newer == u"newer") {
            xcb_set_selection_owner(other, otherWindow, clipboard, XCB_CURRENT_TIME);
            std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
        }
    };

    if (mode == u"took" || mode == u"holds") {
        // Our clock set by an event of our own (a title given), then the other program's take, later than it.
        window.setTitle(QStringLiteral("clock"));
        QTimer::singleShot(200, &app, [&] {
            usleep(20000);
            xcb_set_selection_owner(other, otherWindow, clipboard, XCB_CURRENT_TIME);
            if (mode == u"took")
                xcb_destroy_window(other, otherWindow);
            std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
            copy();
        });
        return app.exec();
    }

    // Ours to be asked for first.
    QGuiApplication::clipboard()->setMimeData(text("first"));
    if (ClipboardOwner::holder() != ClipboardOwner::Holder::us)
        return 3;
    const quint32 now = guard->serverTime();
    if (mode == u"unguarded")
        app.removeNativeEventFilter(guard);
    xcb_convert_selection(other, otherWindow, clipboard, targets, targets, now + args.value(2).toUInt());
    xcb_flush(other);
    // Once Qt has answered, the guard looks again, and we copy.
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, &app, [&, poll] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(other)) {
            const bool answered = (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
            std::free(event);
            if (answered) {
                poll->stop();
                app.installNativeEventFilter(guard);
                copy();
                return;
            }
        }
    });
    poll->start(10);
    QTimer::singleShot(5000, &app, [] { std::exit(4); });
    return app.exec();
}
