#include "ui/OwnWindows.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QWidget>

namespace OwnWindows {

namespace {

// Without a compositor a window capture copies the screen, so what was under our window must be
// painted again by its owner first. A terminal or browser needs a few frames for that.
constexpr int repaintMs = 150;

} // namespace

std::function<void()> hideOver(const QRect& area) {
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
    for (const Hidden& h : std::as_const(hidden))
        h.window->hide();
    // Sends the unmaps to the server; input stays queued for after the grab.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(repaintMs);
    return [hidden] {
        for (const Hidden& h : hidden) {
            if (!h.window)
                continue;
            h.window->move(h.position);
            h.window->show();
        }
    };
}

} // namespace OwnWindows
