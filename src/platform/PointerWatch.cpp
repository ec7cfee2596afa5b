#include "platform/PointerWatch.h"

#include "platform/FocusPointerWatch.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

PointerWatch::PointerWatch(QObject* parent) : QObject(parent) {}

PointerWatch::~PointerWatch() = default;

FocusPointerWatch::FocusPointerWatch() {
    // Turning to another application takes the focus from this one, which is the nearest thing to
    // a click elsewhere that can be observed.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationInactive)
            emit pressed(PointerPress{QCursor::pos(), false, false});
    });
}

bool FocusPointerWatch::eventFilter(QObject* watched, QEvent* event) {
    // Widgets get the event after their window: watching windows only reports each press once.
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QWindow*>(watched)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        emit pressed(PointerPress{mouse->globalPosition().toPoint(), true, true});
    }
    return false;
}
