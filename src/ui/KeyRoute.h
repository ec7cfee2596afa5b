#pragma once
// How keys reach our windows. Most of our windows never take the keyboard focus (the card, toasts, the tour's
// hints): the keys they answer to are grabbed screen-wide while the pointer rests on them. A window that takes
// typing (a text field, a dialog, the basket, the preview) asks the window manager for the focus through here
// instead, and while one of ours holds the focus, or has asked for it and still shows, no such grab may be
// active: its keys go to it and to nothing else.

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QKeyEvent;
class QMenu;
class QWidget;
class QWindow;
class PointerWatch;
class WindowFocus;

class KeyRoute : public QObject {
    Q_OBJECT
public:
    static KeyRoute& instance();
    // How a window asks the window manager for the focus when the application's own request is declined (a tray
    // program is seldom in front); set once at start.
    static void setWindowFocus(WindowFocus* focus);
    // Presses anywhere on the screen: a click in another program's window is the user going there, even into
    // the one that had the keyboard all along. Set once at start; none when unset.
    static void setPointerWatch(std::unique_ptr<PointerWatch> watch);

    // Raises the window and makes it the active one. Until it hides or goes, grabs of windows that never take
    // the focus stay off, even before the window manager has handed it the focus.
    //
    // Every window of ours that can take the keyboard (whether through here or by the window manager's doing)
    // remembers who had it when the window showed, one of our windows or another program's; when it hides with
    // the keyboard, the keyboard goes back there, unless another window of ours has claimed it meanwhile.
    static void takeKeys(QWidget* window);

    // The user's action that a window opening later answers (a tool tapped whose picture is still being read):
    // noted when the action happens.
    struct Asked {
        quint64 at = 0;
        quint32 active = 0;
    };
    static Asked userAction();
    // Whether the user has gone to another program since the action: a window answering it opens without taking
    // the keyboard then, so that no key meant for that program reaches it.
    static bool leftSince(const Asked& asked);
    // A key the user typed went to another program, as a window of ours that sees every key press tells: the
    // user is at work there, which counts as having gone there.
    static void typedElsewhere();
    // Shows a window that comes after the user has gone elsewhere without taking the keyboard. A window manager
    // that hands a new window the keyboard all the same (as some do whatever the window asks) is answered by
    // handing it back to whoever has it now; until then, or until the user clicks into the window, no key
    // reaches it.
    static void showAside(QWidget* window);
    // Whether a window of ours holds the keyboard, has asked for it and shows, or is a modal dialog.
    static bool ownWindowHasKeys();
    // The user turned from the window to another program (a click in that program's window): when the window,
    // or a window of ours that belongs to it, hides, the keyboard stays where the user put it rather than going
    // back to whoever had it before.
    static void turnedAway(QWidget* window);
    // Whether the keyboard is on its way to the window: a window of ours that had it hid a moment ago and its
    // hand-back has not run yet, or the window was asked to take it and the window manager has not answered.
    // A window that closes itself on losing the keyboard waits while this holds.
    static bool comingBack(const QWidget* window);
    // A window that goes when the user turns to another program calls this as it loses the keyboard: `leave`
    // runs once the loss has settled and is the user's, not a moment's. Not when the window shows no more, has
    // the keyboard again or another window of ours has it, nor when a screen grab stepped it aside in the last
    // `graceMs` or `excused` says the loss is no leaving (a desktop switch); while the keyboard is on its way back
    // (comingBack) it waits for it.
    static void whenKeysLost(QWidget* window, qint64 graceMs, std::function<bool()> excused,
                             std::function<void()> leave);

    // A window that stays above the others (the tour) while it shows: every window of ours that shows while it
    // does stands on it rather than opening under it. A modal dialog already up is stood on it at once.
    static void setFront(QWidget* window);
    // Makes a window of ours transient for the front window, and as high, until it shows again once hidden;
    // nothing when no front window shows. Done for every window as it shows; a caller may do it earlier.
    static void standDialog(QWidget* dialog);

    // Whether a key press is an item's key though its QKeySequence does not say so: a global shortcut, whose
    // key Qt names by what it types with the modifiers held (Shift+1 is "!"), not by the key.
    using KeyOf = std::function<bool(const QAction* item, const QKeyEvent& press)>;
    // A menu holds the keyboard while it is open: the shortcuts it shows beside its items (Ctrl+Q beside Quit,
    // and those `keyOf` knows) still work then, closing the menu first.
    static void passShortcuts(QMenu* menu, KeyOf keyOf = {});

signals:
    // ownWindowHasKeys() may have changed.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    KeyRoute();
    ~KeyRoute() override;
    void forget(QObject* window);
    // A window that stood on the front window, or on a waiting dialog, as it last showed shows again: its own
    // stacking back.
    void stepDown(QWidget* window);
    // Claims the keyboard for the window and asks for it, without taking note of who has it now.
    void claim(QWidget* window);
    // The window manager made another window active: one of another program's is where the keyboard goes back
    // to when the user, having come back to ours, closes it.
    // `hiding`, a window of ours hiding now, counts as shown.
    void activeChanged(quint32 active, const QWidget* hiding = nullptr);
    // A window of ours hides with the keyboard after the user went to another program since it showed.
    void cameBack(const QWidget* hiding);

    // Who had the keyboard when a window of ours showed: a window of ours, or another program's window (by its
    // X id), or nobody we know of.
    struct Before {
        QPointer<QWidget> window;
        QPointer<QWidget> ours;
        quint32 other = 0;
        quint64 at = 0;
        // The user chose another program while the window showed: nothing is given back.
        bool left = false;
    };
    Before holderFor(QWidget* window) const;
    void remember(QWidget* window);
    // The window hid while it had the keyboard: back to whoever had it before, unless the user has chosen
    // another program meanwhile.
    void giveBack(QWidget* window);
    // Whether the keyboard, as the X server has it now, is in another program's window: the user's choice,
    // made while the window hiding showed, which the toolkit may not have heard of yet.
    bool takenElsewhere(QWidget* hiding) const;

    // How a window stood before it was stood on the front window.
    struct Stood {
        QPointer<QWidget> window;
        bool onTop = false;
        QPointer<QWindow> parent;
    };

    // The windows that asked for the keyboard and still show, each with when it last asked.
    struct Claim {
        QPointer<QWidget> window;
        quint64 at = 0;
    };
    QList<Claim> claims;
    // Hand-backs queued and not yet run; the window last asked to take the keyboard, and when.
    int pendingGiveBacks = 0;
    QPointer<QWidget> asking;
    QElapsedTimer askedAt;
    QList<Before> before;
    // Orders claims and the notes of who had the keyboard: a claim made after a window showed outranks what
    // that window noted.
    quint64 clock = 0;
    QList<Stood> stood;
    QPointer<QWidget> front;
    bool frontHadKeys = false;
    // The window of ours that has the keyboard, or had it last while a menu was open; null while another
    // program has it.
    QPointer<QWindow> keyWindow;
    QPointer<QWindow> focused;
    WindowFocus* focus = nullptr;
    std::unique_ptr<PointerWatch> presses;
    // The window the window manager made active last (none is never noted), the last of another program's,
    // and when the user last went to another program.
    // The window shown aside, and whoever had the keyboard as it showed, for a moment after it shows.
    QPointer<QWidget> shownAside;
    quint32 asideHolder = 0;
    QElapsedTimer asideSince;
    bool keptAside(const QWidget* window) const;
    quint32 lastActive = 0;
    quint32 lastOther = 0;
    quint64 leftAt = 0;
    // The user's last press or key anywhere, and the last window of ours that hid with the keyboard: another
    // program made active after such a hide, with nothing done by the user since, is the window manager
    // handing the keyboard on by itself while one of ours gives way to the next, not the user going there.
    bool otherChosen = false;
    quint64 inputAt = 0;
    quint64 handedOverAt = 0;
    QElapsedTimer handedOver;
    bool handingOver() const;
};
