#pragma once
// Keeps Qt's idea of the X server's clock true. Qt stamps every selection it takes (the clipboard, a drag's
// selection) with the newest time it has read in an event, and the server refuses a stamp later than its own
// clock. Some of those times are made up by other programs: the time of a selection request or of its answer,
// a window manager's focus offer, any event a program sends. One made-up time beyond the server's clock, and
// every later request of ours is refused until the clock catches up: days, for a wild one (a file manager asks
// for the files of a drag with the calendar's seconds). The guard sees every event before Qt does and puts Qt's
// own clock in place of a time that lies beyond the server's. It can also set Qt's clock afresh, for a request that was
// refused.

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>
#include <vector>

#include <xcb/xcb.h>

class X11ClockGuard final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Installs the guard on the application once, and returns it; null off X11 or when the server can't be
    // reached on a connection of the guard's own. It goes with the application.
    static X11ClockGuard* install();
    // The guard installed, or null.
    static X11ClockGuard* installed();
    ~X11ClockGuard() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The server's time now, asked on the guard's own connection; 0 when the display went away.
    quint32 serverTime();
    // How often the clipboard was taken (by anyone) up to now, as the server tells it; a request it refused
    // leaves the count as it was. Stays 0 without XFixes.
    quint64 clipboardTakes();
    // Sets Qt's clock to the server's time now, wherever it stands, and runs `then` once Qt has read it (never
    // when the guard goes first). False, with nothing to run, when Qt has no window to read it through.
    bool resetQtClock(std::function<void()> then);

    // Whether server time a lies after b; the clock wraps after 49 days, so "after" means within half a turn.
    static bool later(quint32 a, quint32 b) { return qint32(a - b) > 0; }

private:
    X11ClockGuard(xcb_connection_t* qt, xcb_connection_t* own, xcb_window_t window);
    quint32* madeUpTime(xcb_generic_event_t* event) const;
    void sawServerTime(quint32 time);

    xcb_connection_t* qt;
    xcb_connection_t* own;
    xcb_window_t window; // of our own connection: its property changes tell the time
    xcb_atom_t marker = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE, wmTakeFocus = XCB_ATOM_NONE, xdndSelection = XCB_ATOM_NONE;
    int xiOpcode = -1;
    int xfixesNotify = -1; // the event number of XFixes' selection notice
    quint64 takes = 0;
    // The newest true time on an event Qt read, so Qt's clock as far as the guard can tell; 0 before the first.
    quint32 newest = 0;
    quint32 asked = 0;       // the server's time when last asked
    quint32 pointerTime = 0; // of the pointer's last move, press or release that Qt read
    quint32 resetTime = 0;
    std::vector<std::function<void()>> afterReset;
};
