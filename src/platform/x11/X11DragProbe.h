#pragma once
// Drags of other programs as the X server sees them, on a connection of the probe's own: the pointer
// from QueryPointer, new drags from XFixes owner changes of the XdndSelection, and the dragged files
// asked of the drag's owner as "text/uri-list".
//
// Owners may refuse a request whose time is not one they expect: Qt answers only for the time of the
// last position it sent to a drop target, which is the time of a recent pointer motion or key press.
// So the probe keeps the times of the motions and keys seen while the button is down (XInput raw
// events) and asks with the owner's own time, each of those times and the current time all at once;
// the first request answered gives the files.

#include "platform/DragProbe.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <deque>

#include <xcb/xcb.h>

class X11DragProbe final : public DragProbe {
public:
    // Nothing when the display can't be reached or lacks XFixes.
    static std::unique_ptr<X11DragProbe> open(const QByteArray& display = {});
    ~X11DragProbe() override;

    Pointer pointer() override;
    qint64 changeCount() override;
    // Asks the owner once per drag (again after 200 ms while it names no files); an answer arrives on a
    // later call. No answer within 200 ms reads as no files, and the next call asks again. A transfer in increments is
    // dropped, never waited on.
    std::optional<QList<QUrl>> fileURLs() override;
    qint64 now() override;
    // Relative warps, so a hand moving the mouse meanwhile loses nothing.
    void nudgePointer() override;

    static constexpr qint64 answerTimeoutMs = 200;

private:
    X11DragProbe(xcb_connection_t* connection, quint32 root, quint8 xfixesEvent, int xiOpcode);
    void drain();
    void watchMotion(bool on);
    void handle(const xcb_generic_event_t* event);
    void readSelection(quint32 property);
    void readModifierMap();

    xcb_connection_t* connection;
    quint32 root;
    quint32 window = 0; // receives the owner's answers
    quint8 xfixesSelectionNotify;
    int xiOpcode; // -1 without XInput 2
    quint32 xdndSelection = 0, uriList = 0, incr = 0, property = 0;
    quint16 altMask = 0, superMask = 0;
    double pixelRatio = 1;

    qint64 count = 0;
    quint32 ownedSince = 0; // server time of the last owner change; 0 is CurrentTime
    qint64 askedFor = -1;   // the count whose files were asked for, while no answer came
    qint64 askedAt = 0;
    int unanswered = 0; // requests of this drag still to be answered
    bool motionWatched = false;
    std::deque<quint32> motionTimes; // of motions and keys, newest first
    qint64 answeredFor = -1;
    qint64 answeredAt = 0;
    QList<QUrl> answer;
    QElapsedTimer clock;
};
