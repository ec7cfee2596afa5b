#include "app/Toast.h"

#include "app/Pill.h"
#include "app/UI.h"
#include "platform/Dispatch.h"
#include "platform/x11/Compositor.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainterPath>
#include <QPointer>
#include <QPropertyAnimation>
#include <QRegion>
#include <QWidget>

#include <cmath>

namespace {

constexpr int kHeight = 32;
constexpr int kPadding = 13;
constexpr int kLift = 14;

// The only toast there is. A replaced one is deleted, which also cancels its pending fade.
QPointer<QWidget>& slot() {
    static QPointer<QWidget> window;
    return window;
}

void dispose(QWidget* window) {
    if (!window)
        return;
    window->hide();
    window->deleteLater();
}

// A rounded region a pixel at a time: without a compositor the window's clear corners would
// show black, so the window itself is cut to the pill's outline.
QRegion roundedRegion(const QSize& size, double radius) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

QWidget* makeWindow(const QString& text) {
    const bool composited = Compositor::active();
    // Unmanaged (override-redirect): a window manager's frame around the toast would catch the
    // clicks that the toast itself lets through, and could hand it the focus.
    auto* window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                            Qt::BypassWindowManagerHint);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setFocusPolicy(Qt::NoFocus);
    window->setObjectName(QStringLiteral("toast"));
    window->setWindowTitle(QStringLiteral("Pictolarium Toast"));

    auto* label = new QLabel(text);
    label->setFont(UI::font(12, QFont::Medium));
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The label's fitted size: its text's advance, whole pixels.
    const QFontMetricsF metrics(label->font());
    const int labelWidth = int(std::ceil(metrics.horizontalAdvance(text)));
    const int labelHeight = int(std::ceil(metrics.height()));
    const int w = labelWidth + 2 * kPadding;

    auto* pill = new Pill(QRect(0, 0, w, kHeight), window);
    label->setParent(pill);
    label->setGeometry(kPadding, (kHeight - labelHeight) / 2, labelWidth, labelHeight);
    window->resize(w, kHeight);
    if (!composited)
        window->setMask(roundedRegion(window->size(), pill->cornerRadius()));
    return window;
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

void Toast::show(const QString& text, QPoint at, double duration) {
    // Windows live on the main thread; a report from a worker is carried over rather than crash.
    if (!Dispatch::isMainThread()) {
        Dispatch::main([text, at, duration] { show(text, at, duration); });
        return;
    }
    QWidget* previous = slot();
    slot() = nullptr;
    dispose(previous);

    QWidget* window = makeWindow(text);
    // Centred on the point, its bottom edge kLift above it; not clamped to the screen.
    window->move(at.x() - window->width() / 2, at.y() - kLift - kHeight);
    window->setWindowOpacity(0.0);
    window->show();
    auto* fadeIn = new QPropertyAnimation(window, "windowOpacity", window);
    fadeIn->setObjectName(QStringLiteral("fadeIn"));
    fadeIn->setDuration(fadeInMs);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    fadeIn->start(QAbstractAnimation::DeleteWhenStopped);
    slot() = window;

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

QWidget* Toast::current() {
    return slot();
}
