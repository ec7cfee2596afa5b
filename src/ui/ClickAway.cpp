#include "ui/ClickAway.h"

#include "platform/Dispatch.h"
#include "platform/FocusPointerWatch.h"
#include "ui/KeyRoute.h"

ClickAway::ClickAway(QWidget* watched, std::unique_ptr<PointerWatch> watch)
    : monitor(watch ? std::move(watch) : std::make_unique<FocusPointerWatch>()), window(watched) {
    connect(monitor.get(), &PointerWatch::pressed, this, &ClickAway::pressed);
}

ClickAway::~ClickAway() = default;

void ClickAway::pressed(const PointerPress& press) {
    // Clicks in our own windows (an editor, a menu of this window) never dismiss it.
    if (press.ownWindow)
        return;
    // Decided a moment later on the main queue, after whatever the press itself set off.
    QPointer<QWidget> target = window;
    Dispatch::after(0, this, [target, press] {
        if (!target || !target->isVisible())
            return;
        if (press.positionKnown && target->frameGeometry().contains(press.position))
            return;
        // The click chose that program's window; the window manager may not have handed it the keyboard yet.
        if (press.otherWindow)
            KeyRoute::turnedAway(target);
        target->close();
    });
}
