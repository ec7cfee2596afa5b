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
    if ((event->type() != QEvent::Show && event->type() != QEvent::ZOrderChange) || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // Raised by ourselves (the card over the editor it docks to): a window that never takes the keyboard has
    // nothing to ask the user's attention for.
    if (event->type() == QEvent::ZOrderChange) {
        if (widget->isWindow() && widget->isVisible() && widget->windowHandle() &&
            widget->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
            hints.askNoAttention(widget->windowHandle());
        return false;
    }
    // The window manager drops the state when a window is withdrawn, so every show sets it again; the show
    // event comes before the window is mapped.
    if (!widget->isWindow())
        return false;
    const Qt::WindowType type = widget->windowType();
    // Menus and tooltips bypass the window manager altogether.
    if (type == Qt::Popup || type == Qt::ToolTip)
        return false;
    if (widget->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus) && widget->windowHandle())
        hints.refuseFocusOffers(widget->windowHandle());
    if (qobject_cast<EditorWindow*>(widget))
        return false;
    if (QWindow* window = widget->windowHandle())
        hints.keepOffTaskbar(window);
    return false;
}
