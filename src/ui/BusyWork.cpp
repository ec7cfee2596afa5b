#include "ui/BusyWork.h"

#include <QGuiApplication>

BusyWork::BusyWork(QWidget* shown) {
    // The cursor change and the painting both reach the display at once: neither waits for the event loop,
    // which does not run again until the work is over.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (shown && shown->isVisible())
        shown->window()->repaint();
}

BusyWork::~BusyWork() {
    QGuiApplication::restoreOverrideCursor();
}
