#include "ui/KeyRoute.h"

#include "platform/PointerWatch.h"
#include "platform/WindowFocus.h"
#include "ui/OwnWindows.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// How long the window manager is given to hand over the focus on the application's own request.
constexpr int askAgainMs = 150;

// The enabled item of the menu or its submenus whose shortcut is this key; null if none.
QAction* itemFor(const QMenu* menu, const QKeyEvent& key, const KeyRoute::KeyOf& keyOf) {
    const QKeySequence pressed(key.keyCombination());
    for (QAction* action : menu->actions()) {
        if (!action->isEnabled() || !action->isVisible())
            continue;
        if (const QMenu* sub = action->menu()) {
            if (QAction* found = itemFor(sub, key, keyOf))
                return found;
        } else if ((!action->shortcut().isEmpty() && action->shortcut().matches(pressed) == QKeySequence::ExactMatch) ||
                   (keyOf && keyOf(action, key))) {
            return action;
        }
    }
    return nullptr;
}

class MenuShortcuts : public QObject {
public:
    MenuShortcuts(QMenu* menu, KeyRoute::KeyOf keyOf) : QObject(menu), keyOf(std::move(keyOf)) {
        settle.setSingleShot(true);
        settle.setInterval(repeatGapMs);
        connect(&settle, &QTimer::timeout, this, &MenuShortcuts::run);
    }

protected:
    // The item runs once its key is up, with the menu holding the keyboard until then: run at the press, the
    // key's repeats would reach the screen-wide grab of the same shortcut once the menu let go, which takes
    // them for a new press and then for a hold.
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The menu is only cast once a key has come: while it is being destroyed it is a menu no longer, and
        // events still pass through here.
        if (event->type() == QEvent::Hide && watched == parent()) {
            pending = nullptr;
            settle.stop();
        }
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (pending && sameKey(*key)) {
            // A repeat comes as a release and a press at once, and Qt does not always tell: the item waits
            // for a release no press follows.
            if (event->type() == QEvent::KeyPress)
                settle.stop();
            else if (!key->isAutoRepeat())
                settle.start();
            return true;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        // Plain keys move through the menu and pick items by their letters.
        if (!held || key->key() == Qt::Key_unknown)
            return false;
        QAction* action = itemFor(static_cast<QMenu*>(parent()), *key, keyOf);
        if (!action)
            return false;
        pending = action;
        pendingCode = key->nativeScanCode();
        pendingKey = key->key();
        return true;
    }

private:
    // Longer than the server takes between a repeat's release and its press, shorter than a person takes to let
    // a key up and press it again.
    static constexpr int repeatGapMs = 60;

    // By the key's position: its modifiers may come up first, and with them what Qt names it.
    bool sameKey(const QKeyEvent& key) const {
        return pendingCode ? key.nativeScanCode() == pendingCode : key.key() == pendingKey;
    }

    void run() {
        const QPointer<QAction> action = pending;
        pending = nullptr;
        // Every open level closes, as a click on the item would close them.
        for (int level = 0; level < 8 && QApplication::activePopupWidget(); ++level)
            QApplication::activePopupWidget()->close();
        static_cast<QMenu*>(parent())->close();
        if (action)
            action->trigger();
    }

    KeyRoute::KeyOf keyOf;
    QPointer<QAction> pending;
    quint32 pendingCode = 0;
    int pendingKey = 0;
    QTimer settle;
};

// Windows that are stood on the front window while it shows. Menus and tooltips, and windows the window manager
// never sees (a toast, the format wheel, the panel icon docked in the tray) stand above everything anyway.
bool standsOnFront(const QWidget* window) {
    const Qt::WindowType type = window->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
        return false;
    if (window->windowFlags() & (Qt::BypassWindowManagerHint | Qt::X11BypassWindowManagerHint))
        return false;
    return !window->inherits("QSystemTrayIconSys");
}

// Windows that can hold the keyboard: those stood on the front window, less those that never take the focus.
bool takesKeys(const QWidget* window) {
    return standsOnFront(window) &&
           !(window->windowFlags() & (Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput));
}

// Our top-level window of that handle or X window; null if none is ours.
QWidget* ownWindow(const QWindow* handle, quint32 id = 0) {
    if (!handle && !id)
        return nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if ((handle && window->windowHandle() == handle) || (id && window->internalWinId() == WId(id)))
            return window;
    return nullptr;
}

// The dialog waiting for an answer that blocks the window, or the window itself when none does.
QWidget* blockedBy(QWidget* window) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == window || !modal->isVisible())
        return window;
    const QWindow* handle = window->windowHandle();
    const QWindow* modalHandle = modal->windowHandle();
    if (!handle || !modalHandle || modalHandle->isAncestorOf(handle, QWindow::IncludeTransients))
        return window;
    if (modal->windowModality() == Qt::ApplicationModal)
        return modal;
    // Modal to its own window only: that window and those it is transient for are blocked.
    const QWindow* owner = modalHandle->transientParent();
    for (int depth = 0; owner && depth < 8; ++depth, owner = owner->transientParent())
        if (owner == handle)
            return modal;
    return window;
}

} // namespace

KeyRoute::KeyRoute() {
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &KeyRoute::changed);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* now) {
        // A menu has the keyboard only while it is open, and closing it leaves no window focused for a moment:
        // neither means the keyboard went to another program.
        const auto isMenu = [](const QWindow* w) { return w && w->type() == Qt::Popup; };
        // Handed the keyboard as it mapped, which the user did not ask for: back to who had it.
        if (now && shownAside && now == shownAside->windowHandle() && keptAside(shownAside) && focus && asideHolder &&
            !ownWindow(nullptr, asideHolder))
            focus->activate(asideHolder);
        if (now && !isMenu(now))
            keyWindow = now;
        else if (!now && !isMenu(focused))
            keyWindow = nullptr;
        focused = now;
    });
    // Every window's show and hide: a claim ends with its window, and a window opened while the front window
    // shows (by the panel menu, a card or a dialog) must not open under it.
    qApp->installEventFilter(this);
}

KeyRoute::~KeyRoute() = default;

KeyRoute& KeyRoute::instance() {
    static KeyRoute* route = new KeyRoute; // lives as long as the process; its parent would be the application
    return *route;
}

void KeyRoute::setWindowFocus(WindowFocus* windowFocus) {
    KeyRoute& route = instance();
    if (route.focus && route.focus != windowFocus)
        route.focus->watchActive({});
    route.focus = windowFocus;
    route.lastActive = route.lastOther = 0;
    if (windowFocus)
        windowFocus->watchActive([](quint32 active) { instance().activeChanged(active); });
}

void KeyRoute::setPointerWatch(std::unique_ptr<PointerWatch> watch) {
    KeyRoute& route = instance();
    route.presses = std::move(watch);
    if (!route.presses)
        return;
    connect(route.presses.get(), &PointerWatch::typed, &route, [&route](quint32) { route.inputAt = ++route.clock; });
    connect(route.presses.get(), &PointerWatch::pressed, &route, [&route](const PointerPress& press) {
        route.inputAt = ++route.clock;
        if (!press.otherWindow)
            return;
        route.leftAt = ++route.clock;
        emit route.changed();
    });
}

void KeyRoute::activeChanged(quint32 active, const QWidget* hiding) {
    // None active is the window manager between two windows, or with nothing to focus: no choice of the user's.
    if (!active)
        return;
    QWidget* ours = ownWindow(nullptr, active);
    // The window manager's own pick while ours handed over is not where the user comes back from.
    const bool fromOther = lastOther && lastActive == lastOther && otherChosen;
    lastActive = active;
    if (!ours) {
        lastOther = active;
        otherChosen = !handingOver();
        if (otherChosen)
            leftAt = ++clock;
        emit changed();
        return;
    }
    // Ours has the keyboard again: whatever the window manager picks from now on, it does for the user.
    if (ours != hiding && ours->isVisible())
        handedOver.invalidate();
    if (!fromOther || !takesKeys(ours))
        return;
    // Back from another program (a click, the task list, the window manager's switch): when ours closes, the
    // keyboard goes to the program the user came from, not to the one that had it when ours first showed.
    for (Before& b : before) {
        if (!b.window || (!b.window->isVisible() && b.window != hiding) || (b.ours && b.ours->isVisible()))
            continue;
        b.ours = nullptr;
        b.other = lastOther;
        b.left = false;
    }
}

void KeyRoute::cameBack(const QWidget* hiding) {
    // Gone to another program after the window noted who had the keyboard, and it has the keyboard again: the
    // user came back to it (a click on its button closes it at once), whether or not the window manager has
    // said so yet.
    if (!lastOther || ownWindow(nullptr, lastOther))
        return;
    for (Before& b : before)
        if (b.window == hiding && leftAt > b.at && !(b.ours && b.ours->isVisible())) {
            b.ours = nullptr;
            b.other = lastOther;
        }
}

void KeyRoute::showAside(QWidget* window) {
    if (!window)
        return;
    KeyRoute& route = instance();
    window = window->window();
    route.shownAside = window;
    route.asideHolder = route.focus ? route.focus->activeWindow() : 0;
    route.asideSince.start();
    window->setAttribute(Qt::WA_ShowWithoutActivating, true);
    window->show();
    window->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

bool KeyRoute::keptAside(const QWidget* window) const {
    // Long enough for any window manager to have handed over the keyboard as the window mapped.
    constexpr qint64 mapMs = 1500;
    return shownAside && window && window->window() == shownAside && asideSince.isValid() &&
           asideSince.elapsed() < mapMs;
}

KeyRoute::Asked KeyRoute::userAction() {
    const KeyRoute& route = instance();
    return {route.clock, route.focus ? route.focus->activeWindow() : 0};
}

bool KeyRoute::leftSince(const Asked& asked) {
    const KeyRoute& route = instance();
    if (route.leftAt > asked.at)
        return true;
    // Heard of or not yet: another program's window active now that was not then.
    const quint32 now = route.focus ? route.focus->activeWindow() : 0;
    return now && now != asked.active && !ownWindow(nullptr, now) &&
           !(route.handingOver() && route.handedOverAt > asked.at);
}

bool KeyRoute::handingOver() const {
    // Long enough for any window manager to have moved the keyboard on after one of ours unmapped.
    constexpr qint64 handOverMs = 1000;
    return handedOverAt > inputAt && handedOver.isValid() && handedOver.elapsed() < handOverMs;
}

void KeyRoute::typedElsewhere() {
    KeyRoute& route = instance();
    route.leftAt = ++route.clock;
    emit route.changed();
}

void KeyRoute::takeKeys(QWidget* window) {
    if (!window)
        return;
    KeyRoute& route = instance();
    window = window->window();
    // Asked before it shows, or without a note of its own (a window that takes no focus by itself): who has the
    // keyboard now is who gets it back.
    const bool noted = std::any_of(route.before.cbegin(), route.before.cend(),
                                   [window](const Before& b) { return b.window == window; });
    if (!window->isVisible() || !noted)
        route.remember(window);
    route.claim(window);
}

void KeyRoute::claim(QWidget* window) {
    if (window == shownAside)
        shownAside = nullptr;
    const auto it = std::find_if(claims.begin(), claims.end(), [window](const Claim& c) { return c.window == window; });
    if (it != claims.end()) {
        it->at = ++clock;
    } else {
        claims.append({window, ++clock});
        connect(window, &QObject::destroyed, this, &KeyRoute::forget);
    }
    emit changed();
    asking = window;
    askedAt.start();
    window->raise();
    window->activateWindow();
    // Openbox keeps the keyboard from a program that is not in front: then ask as a pager would, at once when
    // another program has the keyboard now, else once the window manager has had time to answer.
    QPointer<QWidget> asked(window);
    if (!QGuiApplication::focusWindow() && focus) {
        focus->activate(quint32(window->winId()));
        return;
    }
    QTimer::singleShot(askAgainMs, this, [this, asked] {
        if (!asked || !asked->isVisible() || asked->isActiveWindow())
            return;
        if (focus)
            focus->activate(quint32(asked->winId()));
    });
}

KeyRoute::Before KeyRoute::holderFor(QWidget* window) const {
    Before was{window, nullptr, 0, clock};
    const QWindow* focused = QGuiApplication::focusWindow();
    QWidget* ours = nullptr;
    if (focused && focused->type() != Qt::Popup && focused->isVisible() &&
        !focused->flags().testFlag(Qt::WindowDoesNotAcceptFocus)) {
        ours = ownWindow(focused);
    } else if (const quint32 active = focus ? focus->activeWindow() : 0) {
        // A menu open, or another program in front: the window manager knows who has the keyboard.
        ours = ownWindow(nullptr, active);
        if (!ours)
            was.other = active;
    } else {
        ours = ownWindow(keyWindow);
    }
    if (ours && ours != window && ours->isVisible() && takesKeys(ours))
        was.ours = ours;
    return was;
}

void KeyRoute::remember(QWidget* window) {
    before.removeIf([window](const Before& b) { return !b.window || b.window == window; });
    ++clock;
    before.append(holderFor(window));
}

void KeyRoute::turnedAway(QWidget* window) {
    if (!window)
        return;
    window = window->window();
    // A window of ours that belongs to it (the basket's preview) goes with it, and was turned from too: when it
    // hides with the keyboard, news of where the user went may not have come yet, and nothing is given back.
    for (Before& b : instance().before)
        if (b.window == window ||
            (b.window && b.window->parentWidget() && b.window->parentWidget()->window() == window))
            b.left = true;
}

bool KeyRoute::takenElsewhere(QWidget* hiding) const {
    if (!focus)
        return false;
    // Only a shown window can hold the keyboard, or the one hiding now (the focus falls back to its frame).
    QList<quint32> ours;
    for (const QWindow* window : QGuiApplication::topLevelWindows())
        if (window->handle() && (window->isVisible() || window == hiding->windowHandle()))
            ours.append(quint32(window->winId()));
    return focus->keyboardAt(ours, quint32(hiding->internalWinId())) == WindowFocus::Keyboard::Elsewhere;
}

void KeyRoute::giveBack(QWidget* window) {
    const auto it =
        std::find_if(before.cbegin(), before.cend(), [window](const Before& b) { return b.window == window; });
    if (it == before.cend() || it->left)
        return;
    const Before was = *it;
    const QPointer<QWidget> gone(window);
    // Once the hide has settled: whatever window of ours comes next (the dialog that opened this one, a box
    // closing back into the basket) has shown and claimed the keys by then.
    ++pendingGiveBacks;
    QTimer::singleShot(0, this, [this, was, gone] {
        --pendingGiveBacks;
        // A window that asked for the keyboard after this one showed (the tour opening over a dialog) gets it.
        const Claim* latest = nullptr;
        for (const Claim& c : std::as_const(claims))
            if (c.window && c.window != gone && c.window->isVisible() && c.at > was.at &&
                (!latest || c.at > latest->at))
                latest = &c;
        if (latest) {
            if (!latest->window->isActiveWindow())
                claim(latest->window);
            return;
        }
        // Back to whoever had it, or, when that window of ours has gone too, to whoever had it before that one.
        Before to = was;
        for (int depth = 0; depth < 8 && to.ours && !to.ours->isVisible(); ++depth) {
            const QWidget* hidden = to.ours;
            const auto next =
                std::find_if(before.cbegin(), before.cend(), [hidden](const Before& b) { return b.window == hidden; });
            // The user left that one for another program: nothing is given back.
            to = next != before.cend() && !next->left ? *next : Before{};
        }
        if (to.ours && to.ours->isVisible()) {
            // A dialog waiting for an answer blocks that window, which would take no key: the dialog gets it.
            QWidget* target = blockedBy(to.ours);
            if (!target->isActiveWindow())
                claim(target);
        } else if (to.other && focus && focus->onScreen(to.other)) {
            // Never to a window the user cannot see (minimised, or on the desktop the user left): no window
            // manager hands the keyboard there as a window closes, and asking for it would take the user there.
            focus->activate(to.other);
        }
    });
}

bool KeyRoute::comingBack(const QWidget* window) {
    const KeyRoute& route = instance();
    if (route.pendingGiveBacks > 0)
        return true;
    // Twice the time after which we ask again as a pager would: past that, the window manager has said no.
    return window && route.asking == window && window->isVisible() && !window->isActiveWindow() &&
           route.askedAt.isValid() && route.askedAt.elapsed() < 2 * askAgainMs;
}

void KeyRoute::whenKeysLost(QWidget* window, qint64 graceMs, std::function<bool()> excused,
                            std::function<void()> leave) {
    const auto kept = [graceMs, excused](const QWidget* w) {
        return OwnWindows::steppedAside(w, graceMs) || (excused && excused());
    };
    if (!window || kept(window))
        return;
    // The loss is told before the news of where the keyboard went: looked at again once that has come.
    constexpr int settleMs = 50;
    QTimer::singleShot(settleMs, window, [self = QPointer<QWidget>(window), graceMs, excused, leave, kept] {
        if (!self || !self->isVisible() || self->isActiveWindow() || kept(self))
            return;
        // Another of our own windows took the keyboard (a menu, a dialog of ours): stay.
        if (QApplication::activeWindow())
            return;
        // A window of ours closing hands the keyboard back here: not lost, on its way.
        if (comingBack(self)) {
            whenKeysLost(self, graceMs, excused, leave);
            return;
        }
        leave();
    });
}

bool KeyRoute::ownWindowHasKeys() {
    // A window that never takes the focus, or no longer shows, is not holding it, whatever the platform says.
    const QWindow* focused = QGuiApplication::focusWindow();
    if ((focused && focused->isVisible() && !focused->flags().testFlag(Qt::WindowDoesNotAcceptFocus)) ||
        QApplication::activeModalWidget())
        return true;
    for (const Claim& claim : std::as_const(instance().claims))
        if (claim.window && claim.window->isVisible())
            return true;
    return false;
}

bool KeyRoute::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (shownAside && watched->isWidgetType()) {
        const auto* widget = static_cast<QWidget*>(watched);
        if (type == QEvent::MouseButtonPress && widget->window() == shownAside) {
            // The user's own choice of the window.
            shownAside = nullptr;
        } else if ((type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::ShortcutOverride) &&
                   keptAside(widget)) {
            // Typed for the program the user went to, before the keyboard is back there: neither the window's
            // shortcuts (an override taken stops them) nor the window itself get it.
            event->accept();
            return true;
        }
    }
    if ((type != QEvent::Show && type != QEvent::Hide) || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow())
        return false;
    // Hidden for a moment out of a screen grab's way: neither a window that shows nor one that goes.
    const bool aside = OwnWindows::steppedAside(widget, 0);
    // The show event comes before the window is mapped: the window manager places it above the front window
    // from the start, and whoever has the keyboard has not lost it yet.
    if (type == QEvent::Show) {
        // Hidden for a moment (out of a screen grab's way) while it had the keyboard: it has it back.
        if (widget == front && frontHadKeys) {
            frontHadKeys = false;
            QTimer::singleShot(0, this, [this] {
                if (front && front->isVisible() && !QApplication::activeModalWidget())
                    claim(front);
            });
        }
        if (!aside && takesKeys(widget))
            remember(widget);
        // Stood on the front window or a waiting dialog when it last showed: its own stacking back first, then
        // stood on whatever stands in front now.
        stepDown(widget);
        standDialog(widget);
    } else {
        if (widget == shownAside)
            shownAside = nullptr;
        const QWindow* handle = widget->windowHandle();
        const bool hadKeys = handle && (QGuiApplication::focusWindow() == handle || (keyWindow && keyWindow == handle));
        if (widget == front)
            frontHadKeys = keyWindow && keyWindow == handle;
        // It keeps standing on the dialog it stood on until it shows again: the toolkit, hearing that the window
        // lost the keyboard, would otherwise take it for one that dialog blocks and hand the dialog the keyboard,
        // wherever the user or the hand-back below sent it.
        forget(widget);
        // Asked at once, before the window manager has heard of the hide and handed the keyboard on by itself:
        // who has it now is who the user chose. The news of the user coming back to ours may still be on its way
        // when a key closes it straight after.
        if (hadKeys && !aside) {
            handedOverAt = ++clock;
            handedOver.start();
        }
        if (hadKeys && !aside && focus)
            activeChanged(focus->activeWindow(), widget);
        if (hadKeys && !aside)
            cameBack(widget);
        if (hadKeys && !aside && takenElsewhere(widget))
            turnedAway(widget);
        if (hadKeys && !aside)
            giveBack(widget);
    }
    return false;
}

void KeyRoute::forget(QObject* window) {
    const qsizetype had = claims.size();
    claims.removeIf([window](const Claim& claim) { return !claim.window || claim.window == window; });
    if (claims.size() != had)
        emit changed();
}

void KeyRoute::setFront(QWidget* window) {
    KeyRoute& route = instance();
    route.front = window;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && window && modal != window) {
        standDialog(modal);
        route.claim(modal);
    }
}

void KeyRoute::standDialog(QWidget* dialog) {
    KeyRoute& route = instance();
    // A dialog that waits for an answer from the whole program blocks every window of ours that is not its own:
    // one that shows meanwhile (the basket, by its key) would take no click and no key, Escape included, and stay.
    // It stands on the dialog instead, which lets it through, as the dialog itself stands on the front window.
    QWidget* on = route.front;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->windowModality() == Qt::ApplicationModal &&
                                                            modal->isVisible() && dialog != modal &&
                                                            !modal->isAncestorOf(dialog))
        on = modal;
    if (!dialog || !on || !on->isVisible() || dialog == on || !standsOnFront(dialog))
        return;
    dialog->winId();
    QWindow* handle = dialog->windowHandle();
    QWindow* onHandle = on->windowHandle();
    if (!handle || !onHandle)
        return;
    const auto it =
        std::find_if(route.stood.begin(), route.stood.end(), [dialog](const Stood& s) { return s.window == dialog; });
    const bool wasOnTop = it != route.stood.end() ? it->onTop : handle->flags().testFlag(Qt::WindowStaysOnTopHint);
    if (it == route.stood.end())
        route.stood.append({dialog, wasOnTop, handle->transientParent()});
    // Above a window that stays on top the dialog must stay on top too, or the window manager keeps it under. The
    // live window's flags, not the widget's: the tour changes its level on the window alone, and changing a shown
    // widget's flags would hide it.
    handle->setFlag(Qt::WindowStaysOnTopHint, wasOnTop || onHandle->flags().testFlag(Qt::WindowStaysOnTopHint));
    // Never onto a window that already stands on it, however far down (the tour that opened while the dialog
    // waited, then made the front window): the toolkit walks a circle of windows each transient for the next
    // without end, and the program hangs as the next modal dialog opens.
    bool circle = false;
    for (const QWindow* under = onHandle; under && !circle; under = under->transientParent())
        circle = under == handle;
    if (!circle)
        handle->setTransientParent(onHandle);
    dialog->raise();
}

void KeyRoute::stepDown(QWidget* window) {
    const auto it = std::find_if(stood.begin(), stood.end(), [window](const Stood& s) { return s.window == window; });
    if (it == stood.end())
        return;
    const Stood was = *it;
    stood.erase(it);
    stood.removeIf([](const Stood& s) { return !s.window; });
    // Shown again without the front window, it opens as it always did.
    if (QWindow* handle = window->windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, was.onTop);
        handle->setTransientParent(was.parent);
    }
}

void KeyRoute::passShortcuts(QMenu* menu, KeyOf keyOf) {
    if (!menu)
        return;
    auto* filter = new MenuShortcuts(menu, std::move(keyOf));
    menu->installEventFilter(filter);
    // Submenus get the keys while they are the open level.
    for (QMenu* sub : menu->findChildren<QMenu*>())
        sub->installEventFilter(filter);
}
