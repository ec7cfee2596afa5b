#include "card/PinWindow.h"

#include "card/PinView.h"
#include "card/Thumbnail.h"
#include "platform/Desktops.h"
#include "ui/UI.h"

#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QResizeEvent>

#include <algorithm>

namespace {

Desktops*& allDesktops() {
    static Desktops* desktops = nullptr;
    return desktops;
}

std::vector<PinWindow*>& openPins() {
    static std::vector<PinWindow*> list;
    return list;
}

// Without a compositor the corners are cut by a mask that follows every resize.
class RoundMask : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            auto* window = static_cast<QWidget*>(watched);
            QPainterPath round;
            round.addRoundedRect(QRectF(window->rect()), 10, 10);
            window->setMask(QRegion(round.toFillPolygon().toPolygon()));
        }
        return false;
    }
};

} // namespace

PinWindow::PinWindow(const Shot& shot, QRect frame)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("PinWindow"));
    setWindowTitle(QStringLiteral("Pinned picture"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (UI::composited())
        setAttribute(Qt::WA_TranslucentBackground);
    else
        installEventFilter(new RoundMask(this));
    content = new PinView(shot, this);
    content->setGeometry(0, 0, frame.width(), frame.height());
    QPointer<PinWindow> self(this);
    content->onClose = [self] {
        if (self)
            self->unpin();
    };
    content->onReopen = [](const Shot& reopened, QRect place) { Thumbnail::show(reopened, place); };
    setGeometry(frame);
}

PinWindow* PinWindow::pin(const Shot& shot, QRect rect) {
    auto* window = new PinWindow(shot, rect);
    openPins().push_back(window);
    window->winId(); // the window manager is told before it first places the window
    if (Desktops* desktops = allDesktops())
        desktops->showOnAllDesktops(window->windowHandle());
    window->show();
    return window;
}

const std::vector<PinWindow*>& PinWindow::pins() {
    return openPins();
}

void PinWindow::setDesktops(Desktops* desktops) {
    allDesktops() = desktops;
}

void PinWindow::unpin() {
    hide();
    auto& list = openPins();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    deleteLater();
}

void PinWindow::resizeEvent(QResizeEvent* event) {
    content->resize(event->size());
    QWidget::resizeEvent(event);
}
