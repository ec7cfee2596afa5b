#pragma once
// How keys reach our windows. Most of our windows never take the keyboard focus (the card, toasts, the tour's
// hints): the keys they answer to are grabbed screen-wide while the pointer rests on them. A window that takes
// typing (a text field, a dialog, the basket, the preview) asks the window manager for the focus through here
// instead, and while one of ours holds the focus, or has asked for it and still shows, no such grab may be
// active: its keys go to it and to nothing else.

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QKeyEvent;
class QMenu;
class QWidget;
class WindowFocus;

class KeyRoute : public QObject {
    Q_OBJECT
public:
    static KeyRoute& instance();
    // How a window asks the window manager for the focus when the application's own request is declined (a tray
    // program is seldom in front); set once at start.
    static void setWindowFocus(WindowFocus* focus);

    // Raises the window and makes it the active one. Until it hides or goes, grabs of windows that never take
    // the focus stay off, even before the window manager has handed it the focus.
    static void takeKeys(QWidget* window);
    // Whether a window of ours holds the keyboard, has asked for it and shows, or is a modal dialog.
    static bool ownWindowHasKeys();

    // A window that stays above the others (the tour) while it shows: our dialogs stand on it rather than open
    // under it, and it has the keyboard back when they close. A modal dialog already up is stood on it at once.
    static void setFront(QWidget* window);
    // Before a dialog of ours shows: makes it transient for the front window, and as high.
    static void standDialog(QWidget* dialog);
    // After a dialog closed: the keyboard back to the front window, if one shows.
    static void backToFront();

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
    void forget(QObject* window);

    QList<QPointer<QWidget>> claims;
    QPointer<QWidget> front;
    WindowFocus* focus = nullptr;
};
