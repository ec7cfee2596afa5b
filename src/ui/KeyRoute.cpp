#include "ui/KeyRoute.h"

#include "platform/WindowFocus.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// How long the window manager is given to hand over the focus on the application's own request.
constexpr int askAgainMs = 150;

// The enabled item of the menu or its submenus whose shortcut is this key; null if none.
QAction* itemFor(const QMenu* menu, const QKeySequence& pressed) {
    for (QAction* action : menu->actions()) {
        if (!action->isEnabled() || !action->isVisible())
            continue;
        if (const QMenu* sub = action->menu()) {
            if (QAction* found = itemFor(sub, pressed))
                return found;
        } else if (!action->shortcut().isEmpty() && action->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            return action;
        }
    }
    return nullptr;
}

class MenuShortcuts : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        // Plain keys move through the menu and pick items by their letters.
        if (!held || key->key() == Qt::Key_unknown)
            return false;
        auto* menu = static_cast<QMenu*>(parent());
        QAction* action = itemFor(menu, QKeySequence(key->keyCombination()));
        if (!action)
            return false;
        // Every open level closes, as a click on the item would close them.
        for (int level = 0; level < 8 && QApplication::activePopupWidget(); ++level)
            QApplication::activePopupWidget()->close();
        menu->close();
        Q_UNUSED(watched);
        action->trigger();
        return true;
    }
};

} // namespace

KeyRoute::KeyRoute() {
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &KeyRoute::changed);
}

KeyRoute& KeyRoute::instance() {
    static KeyRoute* route = new KeyRoute; // lives as long as the process; its parent would be the application
    return *route;
}

void KeyRoute::setWindowFocus(WindowFocus* windowFocus) {
    instance().focus = windowFocus;
}

void KeyRoute::takeKeys(QWidget* window) {
    if (!window)
        return;
    KeyRoute& route = instance();
    window = window->window();
    bool known = false;
    for (const QPointer<QWidget>& claim : std::as_const(route.claims))
        known = known || claim == window;
    if (!known) {
        route.claims.append(window);
        window->installEventFilter(&route);
        connect(window, &QObject::destroyed, &route, &KeyRoute::forget);
    }
    emit route.changed();
    window->raise();
    window->activateWindow();
    // Openbox keeps the keyboard from a program that is not in front: then ask as a pager would, at once when
    // another program has the keyboard now, else once the window manager has had time to answer.
    QPointer<QWidget> asked(window);
    if (!QGuiApplication::focusWindow() && route.focus) {
        route.focus->activate(quint32(window->winId()));
        return;
    }
    QTimer::singleShot(askAgainMs, &route, [asked] {
        if (!asked || !asked->isVisible() || asked->isActiveWindow())
            return;
        if (WindowFocus* windowFocus = instance().focus)
            windowFocus->activate(quint32(asked->winId()));
    });
}

bool KeyRoute::ownWindowHasKeys() {
    // A window that never takes the focus, or no longer shows, is not holding it, whatever the platform says.
    const QWindow* focused = QGuiApplication::focusWindow();
    if ((focused && focused->isVisible() && !focused->flags().testFlag(Qt::WindowDoesNotAcceptFocus)) ||
        QApplication::activeModalWidget())
        return true;
    for (const QPointer<QWidget>& claim : std::as_const(instance().claims))
        if (claim && claim->isVisible())
            return true;
    return false;
}

bool KeyRoute::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide)
        forget(watched);
    return QObject::eventFilter(watched, event);
}

void KeyRoute::forget(QObject* window) {
    const qsizetype before = claims.size();
    claims.removeIf([window](const QPointer<QWidget>& claim) { return !claim || claim == window; });
    if (claims.size() != before)
        emit changed();
}

void KeyRoute::setFront(QWidget* window) {
    instance().front = window;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && window && modal != window) {
        standDialog(modal);
        takeKeys(modal);
    }
}

void KeyRoute::standDialog(QWidget* dialog) {
    QWidget* on = instance().front;
    if (!dialog || !on || !on->isVisible() || dialog == on)
        return;
    dialog->winId();
    QWindow* handle = dialog->windowHandle();
    if (!handle)
        return;
    // Above a window that stays on top the dialog must stay on top too, or the window manager keeps it under.
    // Set on the window itself: changing a shown widget's flags would hide it.
    handle->setFlag(Qt::WindowStaysOnTopHint, on->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    handle->setTransientParent(on->windowHandle());
    dialog->raise();
}

void KeyRoute::backToFront() {
    if (QWidget* on = instance().front; on && on->isVisible())
        takeKeys(on);
}

void KeyRoute::passShortcuts(QMenu* menu) {
    if (!menu)
        return;
    auto* filter = new MenuShortcuts(menu);
    menu->installEventFilter(filter);
    // Submenus get the keys while they are the open level.
    for (QMenu* sub : menu->findChildren<QMenu*>())
        sub->installEventFilter(filter);
}
