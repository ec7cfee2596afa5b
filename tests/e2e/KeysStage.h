#pragma once
// A desktop for following the keyboard: a window manager of a chosen kind (or none), a panel with a task list and
// a tray (where there is a window manager), the program, and three terminals that log every byte typed into them.
// Beside our windows it puts plain ones of another program, alike for the window manager, that close on Escape, on a
// click where our window has its close button, or when the window manager closes them. What a plain window does with
// the keyboard is the window manager's (or the X server's) doing, never ours: that is what ours are held to.

#include "Desktop.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

class QProcess;

enum class Manager { Openbox, FollowMouse, None, IceWm, Fluxbox, Jwm };
const char* managerName(Manager manager);

// What a terminal logged; empty when it cannot be read.
QByteArray logged(const QString& log);

class KeysStage {
public:
    KeysStage(Manager manager, const QStringList& hiddenTools);

    Desktop desktop;
    const Manager manager;
    QString error;
    // Logs of the terminals A, B and C, top to bottom on the left of the screen.
    QString logs[3];
    quint32 terminals[3] = {};

    // The window manager, the panel, the program and the terminals; false with `error` set.
    bool start();
    bool hasManager() const { return manager != Manager::None; }
    // The program again, after something of ours stayed open that a row could not close.
    bool restartApp();
    // Null with no window manager.
    QPoint trayIcon() const { return icon; }

    // The window the keyboard is on as the X server has it (the top-level one); 0 when it follows the pointer.
    quint32 focused();
    // With no window manager, how a program takes the keyboard (the focus returning to the root, and so to the
    // pointer, when the window goes); 0 gives it to whatever the pointer is on.
    void setFocus(quint32 window);
    // The task list's buttons from left to right, the centre of each; the terminals come first, in their order.
    QList<QPoint> taskButtons();
    QPoint terminalCentre(int index);

    // A plain window of another program where ours was (see tools/StandIn.cpp): it closes on Escape, on a click
    // in `button` (window coordinates; none when null) and when the window manager closes it, and has the
    // properties given as `properties()` gave them. Its window once shown, 0 if none came.
    quint32 openStandIn(const QRect& where, const QRect& button, const QStringList& properties, QProcess** process);
    // The properties of a window of ours that tell the window manager how to treat it (its type, states, desktop
    // and hints), ready for a stand-in; the window it is transient for apart, since a stand-in is transient for
    // another's stand-in. Transient for the program's hidden leader window, it is marked so, and the stand-in is
    // transient for a leader of its own.
    QStringList properties(quint32 window, quint32* transientFor);
    QString transientSpec(quint32 parent);
    quint32 rootWindow();

    // Empties the logs.
    void clearLogs();

private:
    QPoint icon;
    int standIns = 0;
};

// A redacted picture (an address and a card number, see Desktop::writeSecretsPicture) under review on its enlarged
// card, with a key-logging terminal holding the keyboard: the program's pill has redact and rename, the format
// button and share.
struct CardUnderReview {
    quint32 terminal = 0;
    quint32 card = 0;
    // What the terminal got.
    QString log;
    QString redacted;
    // The card's window once enlarged, and the picture inside it on the screen.
    QRect large;
    QRect picture;
    // A point of the 900 × 400 picture, on the screen.
    QPoint at(int x, int y) const;
};
// Starts the program on `desktop` (one without a tray) and brings a card under review; gtest's fatal failures
// when it cannot.
void openCardUnderReview(Desktop& desktop, CardUnderReview& review);
