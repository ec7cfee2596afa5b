#include "editors/CropCanvas.h"

#include "imaging/Cropper.h"
#include "ui/UI.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr double leastSide = 4; // a rectangle must be wider and higher than this
constexpr double lassoStep = 2; // closer points add nothing to the outline
constexpr double cornerRadius = 8;

const QColor dim(0, 0, 0, int(std::lround(0.55 * 255)));

} // namespace

CropCanvas::CropCanvas(const QImage& image, QWidget* parent) : QWidget(parent), picture(image) {
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

std::optional<QRectF> CropCanvas::selection() const {
    if (!start || !current)
        return std::nullopt;
    const QRectF dragged = QRectF(*start, *current).normalized().intersected(QRectF(rect()));
    if (dragged.width() <= leastSide || dragged.height() <= leastSide)
        return std::nullopt;
    return dragged;
}

std::optional<QRectF> CropCanvas::normalizedSelection() const {
    const std::optional<QRectF> s = selection();
    if (!s)
        return std::nullopt;
    const double w = width(), h = height();
    return QRectF(s->left() / w, (h - s->bottom()) / h, s->width() / w, s->height() / h);
}

std::optional<QList<QPointF>> CropCanvas::normalizedLasso() const {
    if (lasso.size() < 4)
        return std::nullopt;
    const double w = width(), h = height();
    QList<QPointF> points;
    points.reserve(lasso.size());
    for (const QPointF& p : lasso)
        points.append(QPointF(p.x() / w, (h - p.y()) / h));
    return points;
}

QString CropCanvas::sizeLabel() const {
    const std::optional<QRectF> normalized = normalizedSelection();
    if (!normalized)
        return {};
    // In the picture's own units, whatever the canvas's size: the size of the piece the crop will write.
    const QSize piece = Cropper::pixelRect(*normalized, picture.size()).size();
    const double ratio = picture.devicePixelRatio();
    return QStringLiteral("%1 \u00D7 %2")
        .arg(std::lround(piece.width() / ratio))
        .arg(std::lround(piece.height() / ratio));
}

void CropCanvas::setMode(Mode value) {
    mode = value;
    start.reset();
    current.reset();
    lasso.clear();
    update();
}

void CropCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF p = event->position();
    if (mode == Mode::rect)
        start = current = p;
    else
        lasso = {p};
    update();
}

void CropCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = event->position();
    if (mode == Mode::rect) {
        if (!start)
            return;
        current = p;
    } else {
        if (!lasso.isEmpty()) {
            const QPointF step = p - lasso.last();
            if (std::hypot(step.x(), step.y()) <= lassoStep)
                return;
        }
        lasso.append(p);
    }
    update();
}

const QImage& CropCanvas::shownPicture() {
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::lround(width() * ratio))), std::max(1, int(std::lround(height() * ratio))));
    if (cache.size() != pixels && !picture.isNull()) {
        cache = picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        cache.setDevicePixelRatio(ratio);
    }
    return cache;
}

void CropCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    QPainterPath clip;
    clip.addRoundedRect(bounds, cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    painter.drawImage(bounds, shownPicture());

    QPainterPath outside;
    outside.setFillRule(Qt::OddEvenFill);
    outside.addRect(bounds);
    if (mode == Mode::lasso) {
        if (lasso.size() < 2) {
            painter.fillRect(bounds, dim);
            return;
        }
        QPainterPath outline;
        outline.addPolygon(QPolygonF(lasso));
        outline.closeSubpath();
        outside.addPath(outline);
        painter.fillPath(outside, dim);
        painter.setPen(QPen(UI::accent(), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
        return;
    }
    const std::optional<QRectF> s = selection();
    if (!s) {
        painter.fillRect(bounds, dim);
        return;
    }
    outside.addRect(*s);
    painter.fillPath(outside, dim);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(UI::accent(), 1.5));
    painter.drawRect(s->adjusted(0.5, 0.5, -0.5, -0.5));

    painter.setPen(QPen(QColor(255, 255, 255, int(std::lround(0.35 * 255))), 0.5));
    QPainterPath grid;
    for (int i = 1; i <= 2; ++i) {
        const double x = s->left() + s->width() * i / 3;
        const double y = s->top() + s->height() * i / 3;
        grid.moveTo(x, s->top());
        grid.lineTo(x, s->bottom());
        grid.moveTo(s->left(), y);
        grid.lineTo(s->right(), y);
    }
    painter.drawPath(grid);

    const QFont font = UI::monoFont(11);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QFontMetricsF metrics(font);
    // Just above the selection's top-left corner; the canvas cuts off whatever lies above its edge.
    painter.drawText(QPointF(s->left() + 6, s->top() - 4 - metrics.descent()), sizeLabel());
}
