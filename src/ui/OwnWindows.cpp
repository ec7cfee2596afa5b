#include "ui/OwnWindows.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <limits>

namespace OwnWindows {

namespace {

// Without a compositor a window capture copies the screen, so what was under our window must be
// painted again by its owner first. A terminal or browser needs a few frames for that.
constexpr int repaintMs = 150;

// On each window hidden for a grab: when it was shown again, or stillAside while the grab lasts.
constexpr char asideProperty[] = "ownWindowsShownAgainAt";
constexpr qint64 stillAside = std::numeric_limits<qint64>::max();

} // namespace

std::function<void()> hideOver(const QRect& area) {
    int wait = 0;
    std::function<void()> showAgain = hideOver(area, &wait);
    QThread::msleep(static_cast<unsigned long>(wait));
    return showAgain;
}

std::function<void()> hideOver(const QRect& area, int* repaintWait) {
    *repaintWait = 0;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return [] {};
    struct Hidden {
        QPointer<QWidget> window;
        QPoint position;
    };
    QList<Hidden> hidden;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->windowType() == Qt::Desktop)
            continue;
        // The panel icon lives docked in the panel's tray, which is part of the desktop pictured;
        // hidden, it would leave the tray and not come back.
        if (window->inherits("QSystemTrayIconSys"))
            continue;
        if (!area.isEmpty() && !window->frameGeometry().intersects(area))
            continue;
        hidden.append({window, window->pos()});
    }
    if (hidden.isEmpty())
        return [] {};
    for (const Hidden& h : std::as_const(hidden)) {
        h.window->setProperty(asideProperty, stillAside);
        h.window->hide();
    }
    // Sends the unmaps to the server; input stays queued for after the grab.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    *repaintWait = repaintMs;
    return [hidden] {
        for (const Hidden& h : hidden) {
            if (!h.window)
                continue;
            h.window->move(h.position);
            h.window->show();
            h.window->setProperty(asideProperty, QDateTime::currentMSecsSinceEpoch());
        }
    };
}

bool steppedAside(const QWidget* window, qint64 milliseconds) {
    const QVariant at = window ? window->property(asideProperty) : QVariant();
    if (!at.isValid())
        return false;
    const qint64 shownAgain = at.toLongLong();
    return shownAgain == stillAside || QDateTime::currentMSecsSinceEpoch() - shownAgain < milliseconds;
}

} // namespace OwnWindows
