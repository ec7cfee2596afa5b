#include "app/UtilityWindows.h"

#include "editors/EditorWindow.h"
#include "platform/WindowHints.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

UtilityWindows::UtilityWindows(WindowHints& hints, QObject* parent) : QObject(parent), hints(hints) {
    qApp->installEventFilter(this);
}

bool UtilityWindows::eventFilter(QObject* watched, QEvent* event) {
    // The window manager drops the state when a window is withdrawn, so every show sets it again; the show
    // event comes before the window is mapped.
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow() || qobject_cast<EditorWindow*>(widget))
        return false;
    const Qt::WindowType type = widget->windowType();
    // Menus and tooltips bypass the window manager altogether.
    if (type == Qt::Popup || type == Qt::ToolTip)
        return false;
    if (QWindow* window = widget->windowHandle())
        hints.keepOffTaskbar(window);
    return false;
}
