#include "platform/PointerWatch.h"

#include "platform/x11/XInputPointerWatch.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

namespace {

// Without X there is no way to see another application's clicks. Turning to another
// application takes the focus from this one, which is the nearest thing we can observe.
class FocusPointerWatch final : public PointerWatch {
public:
    FocusPointerWatch() {
        qApp->installEventFilter(this);
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationInactive)
                emit pressed(PointerPress{QCursor::pos(), false, false});
        });
    }

    bool seesOtherApplications() const override { return false; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Widgets get the event after their window: watching windows only reports each press once.
        if (event->type() == QEvent::MouseButtonPress && qobject_cast<QWindow*>(watched)) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            emit pressed(PointerPress{mouse->globalPosition().toPoint(), true, true});
        }
        return false;
    }
};

} // namespace

PointerWatch::PointerWatch(QObject* parent) : QObject(parent) {}

PointerWatch::~PointerWatch() = default;

std::unique_ptr<PointerWatch> PointerWatch::create() {
    if (QGuiApplication::platformName() == u"xcb") {
        if (auto watch = XInputPointerWatch::open())
            return watch;
    }
    return std::make_unique<FocusPointerWatch>();
}
