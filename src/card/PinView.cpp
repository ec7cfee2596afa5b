#include "card/PinView.h"

#include "imaging/BoundedLoad.h"
#include "ui/UI.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

PinView::PinView(const Shot& shot, QWidget* parent) : QWidget(parent), pinned(shot) {
    const QSizeF size = shot.image.deviceIndependentSize();
    aspect = std::max(1.0, size.width()) / std::max(1.0, size.height());
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

PinView::Grab PinView::edges(QPoint p) const {
    const int w = width(), h = height();
    // Across the view x grows to the right and y downwards; a grab names the edges as seen on screen.
    Grab g;
    g.x = p.x() <= band ? -1 : p.x() >= w - band ? 1 : 0;
    g.y = p.y() >= h - band ? -1 : p.y() <= band ? 1 : 0;
    if (g.x == 0 && g.y != 0)
        g.x = p.x() <= corner ? -1 : p.x() >= w - corner ? 1 : 0;
    else if (g.y == 0 && g.x != 0)
        g.y = p.y() >= h - corner ? -1 : p.y() <= corner ? 1 : 0;
    return g;
}

QRect PinView::dragged(QRect start, Grab g, QPoint delta) const {
    if (g == Grab{})
        return start.translated(delta);
    // Upwards positive, as the edges are named.
    const double dx = delta.x(), dy = -delta.y();
    const double wx = start.width() + dx * g.x;
    const double wy = (start.height() + dy * g.y) * aspect;
    double w = g.y == 0 ? wx : g.x == 0 ? wy : std::max(wx, wy);
    w = std::clamp(w, double(minWidth), double(maxWidth));
    const double h = w / aspect;
    const double left = g.x == -1  ? start.x() + start.width() - w
                        : g.x == 0 ? start.x() + start.width() / 2.0 - w / 2
                                   : start.x();
    const double top = g.y == -1  ? start.y()
                       : g.y == 0 ? start.y() + start.height() / 2.0 - h / 2
                                  : start.y() + start.height() - h;
    return QRect(int(std::lround(left)), int(std::lround(top)), int(std::lround(w)), int(std::lround(h)));
}

QRect PinView::zoomed(QRect frame, double factor) const {
    const double w = std::clamp(frame.width() * factor, double(minWidth), double(maxWidth));
    const double h = w / aspect;
    const QPointF centre = QRectF(frame).center();
    return QRect(int(std::lround(centre.x() - w / 2)), int(std::lround(centre.y() - h / 2)), int(std::lround(w)),
                 int(std::lround(h)));
}

void PinView::zoom(double factor) {
    setFrame(zoomed(window()->geometry(), factor));
}

void PinView::setFrame(QRect frame) {
    window()->setGeometry(frame);
    repaint();
}

QRect PinView::closeButtonRect() const {
    return QRect(width() - 30, 8, 22, 22);
}

void PinView::enterEvent(QEnterEvent* event) {
    hovering = true;
    update();
    QWidget::enterEvent(event);
}

void PinView::leaveEvent(QEvent* event) {
    hovering = false;
    unsetCursor();
    update();
    QWidget::leaveEvent(event);
}

void PinView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    if (hovering && closeButtonRect().contains(p)) {
        if (onClose)
            onClose();
        return;
    }
    pressed = true;
    grab = edges(p);
    dragOrigin = event->globalPosition().toPoint();
    startFrame = window()->geometry();
}

void PinView::mouseMoveEvent(QMouseEvent* event) {
    if (pressed && (event->buttons() & Qt::LeftButton)) {
        setFrame(dragged(startFrame, grab, event->globalPosition().toPoint() - dragOrigin));
        return;
    }
    const Grab g = edges(event->position().toPoint());
    if (g == Grab{})
        setCursor(Qt::ArrowCursor);
    else if (g.x == 0)
        setCursor(Qt::SizeVerCursor);
    else if (g.y == 0)
        setCursor(Qt::SizeHorCursor);
    else
        setCursor(Qt::CrossCursor);
}

void PinView::mouseReleaseEvent(QMouseEvent*) {
    pressed = false;
    grab = {};
}

void PinView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || reopening)
        return;
    pressed = false;
    reopening = true;
    setCursor(Qt::BusyCursor);
    // The card shows the file as it is now, read as an opened file is, away from this thread (a camera picture
    // takes a good part of a second); a file that went, or no longer reads, leaves the pinned picture.
    BoundedLoad::start(pinned.fileURL, this, [this](const IsolatedDecode::Result& result) {
        Shot shot = pinned;
        if (result.ok())
            shot.image = result.image;
        const QRect place = window()->geometry();
        auto reopen = onReopen;
        if (onClose)
            onClose();
        if (reopen)
            reopen(shot, place);
    });
}

void PinView::wheelEvent(QWheelEvent* event) {
    // Alt is what the other desktops use; window managers often take Alt+wheel for themselves, so Ctrl too.
    if (!(event->modifiers() & (Qt::AltModifier | Qt::ControlModifier))) {
        event->ignore();
        return;
    }
    // With Alt held Qt turns the wheel sideways.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const int along = [](QPoint d) { return d.y() != 0 ? d.y() : d.x(); }(pixels.isNull() ? angle : pixels);
    const double exponent = pixels.isNull() ? along / 120.0 * 0.05 : along * 0.006;
    zoom(std::exp(exponent));
    event->accept();
}

bool PinView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            zoom(1 + gesture->value());
            return true;
        }
    }
    return QWidget::event(event);
}

void PinView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF b = rect();
    {
        QPainterPath round;
        round.addRoundedRect(b, 10, 10);
        painter.save();
        painter.setClipPath(round);
        painter.drawImage(b, pinned.image);
        painter.restore();
    }
    if (!hovering)
        return;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 64), 1));
    painter.drawRoundedRect(b.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);

    const QRectF button = closeButtonRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 153));
    painter.drawEllipse(button);
    painter.setPen(QPen(Qt::white, 1.6));
    const QRectF cross = button.adjusted(7, 7, -7, -7);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.bottomLeft(), cross.topRight());

    QColor accent = UI::accent();
    accent.setAlphaF(0.85f);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(accent, 2));
    painter.drawRoundedRect(b.adjusted(1.5, 1.5, -1.5, -1.5), 9, 9);

    QPen bracket(Qt::white, 2);
    bracket.setCapStyle(Qt::RoundCap);
    bracket.setJoinStyle(Qt::RoundJoin);
    painter.setPen(bracket);
    const double l = b.left() + 5, r = b.right() - 5, t = b.top() + 5, bo = b.bottom() - 5;
    const auto corner = [&](double x, double y, double sx, double sy) {
        const QPointF points[] = {{x + 14 * sx, y}, {x, y}, {x, y + 14 * sy}};
        painter.drawPolyline(points, 3);
    };
    corner(l, bo, 1, -1);
    corner(r, bo, -1, -1);
    corner(l, t, 1, 1);
    corner(r, t, -1, 1);
}
