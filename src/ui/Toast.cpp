#include "ui/Toast.h"

#include "platform/Dispatch.h"
#include "ui/MessagePill.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kHeight = 32;
constexpr int kPadding = 13;
constexpr int kLift = 14;
// Kept between a toast and the edges of its screen.
constexpr int kMargin = 8;

// The only toast there is. A replaced one is deleted, which also cancels its pending fade.
QPointer<QWidget>& slot() {
    static QPointer<QWidget> window;
    return window;
}

// The id of the toast in the slot, and the last one given.
Toast::Id& slotId() {
    static Toast::Id id = 0;
    return id;
}
Toast::Id nextId() {
    static Toast::Id last = 0;
    return ++last;
}

void dispose(QWidget* window) {
    if (!window)
        return;
    window->hide();
    window->deleteLater();
}

QWidget* makeWindow(const QString& text, int maxWidth) {
    return MessagePill::make(text, kHeight, kPadding, QStringLiteral("Pictolarium Toast"), QStringLiteral("toast"),
                             maxWidth);
}

// The usable part of the screen the point is on (the nearest screen's when it is on none).
QRect screenArea(QPoint at) {
    const QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen) {
        qint64 best = -1;
        for (const QScreen* s : QGuiApplication::screens()) {
            const QRect r = s->geometry();
            const qint64 dx = std::max({0, r.left() - at.x(), at.x() - r.right()});
            const qint64 dy = std::max({0, r.top() - at.y(), at.y() - r.bottom()});
            if (best < 0 || dx * dx + dy * dy < best) {
                best = dx * dx + dy * dy;
                screen = s;
            }
        }
    }
    return screen ? screen->availableGeometry() : QRect();
}

void fadeOut(QWidget* window) {
    auto* fade = new QPropertyAnimation(window, "windowOpacity", window);
    fade->setDuration(Toast::fadeOutMs);
    fade->setStartValue(window->windowOpacity());
    fade->setEndValue(0.0);
    // Ordered out when the fade ends, whether or not the opacity was ever visible.
    QObject::connect(fade, &QPropertyAnimation::finished, window, [window] { window->hide(); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

Toast::Id Toast::show(const QString& text, QPoint at, double duration) {
    // Windows live on the main thread; a report from a worker is carried over rather than crash.
    if (!Dispatch::isMainThread()) {
        Dispatch::main([text, at, duration] { show(text, at, duration); });
        return 0;
    }
    QWidget* previous = slot();
    slot() = nullptr;
    dispose(previous);

    const QRect area = screenArea(at);
    QWidget* window = makeWindow(text, area.isEmpty() ? 0 : area.width() - 2 * kMargin);
    // Centred on the point, its bottom edge kLift above it, and moved in to stay on the screen.
    QPoint place(at.x() - window->width() / 2, at.y() - kLift - window->height());
    if (!area.isEmpty()) {
        place.setX(std::clamp(place.x(), area.left() + kMargin,
                              std::max(area.left() + kMargin, area.right() + 1 - kMargin - window->width())));
        place.setY(std::clamp(place.y(), area.top() + kMargin,
                              std::max(area.top() + kMargin, area.bottom() + 1 - kMargin - window->height())));
    }
    window->move(place);
    window->setWindowOpacity(0.0);
    window->show();
    auto* fadeIn = new QPropertyAnimation(window, "windowOpacity", window);
    fadeIn->setObjectName(QStringLiteral("fadeIn"));
    fadeIn->setDuration(fadeInMs);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    fadeIn->start(QAbstractAnimation::DeleteWhenStopped);
    slot() = window;
    const Id id = slotId() = nextId();

    const int ms = std::isfinite(duration) && duration > 0 ? int(std::lround(std::min(duration, 86400.0) * 1000)) : 0;
    QPointer<QPropertyAnimation> fadeInGuard(fadeIn);
    // Tied to the window: a toast replaced meanwhile was deleted and its timer dies with it.
    Dispatch::after(ms, window, [window, fadeInGuard] {
        if (slot() != window)
            return;
        if (fadeInGuard)
            fadeInGuard->stop();
        fadeOut(window);
    });
    return id;
}

void Toast::hide() {
    if (!Dispatch::isMainThread()) {
        Dispatch::main([] { hide(); });
        return;
    }
    QWidget* window = slot();
    if (!window)
        return;
    slot() = nullptr;
    dispose(window);
}

void Toast::hide(Id toast) {
    if (!Dispatch::isMainThread()) {
        Dispatch::main([toast] { hide(toast); });
        return;
    }
    if (toast != 0 && toast == slotId())
        hide();
}

QWidget* Toast::current() {
    return slot();
}
