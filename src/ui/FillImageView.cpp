#include "ui/FillImageView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

FillImageView::FillImageView(const QRect& frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
}

void FillImageView::setImage(const QImage& image) {
    picture = image;
    update();
}

void FillImageView::setScaling(Scaling value) {
    mode = value;
    update();
}

QRectF FillImageView::imageRect(const QSizeF& size, const QRectF& bounds, Scaling scaling) {
    if (!(size.width() > 0) || !(size.height() > 0) || bounds.isEmpty())
        return {};
    const double sx = bounds.width() / size.width();
    const double sy = bounds.height() / size.height();
    const double scale = scaling == Scaling::fit ? std::min(sx, sy) : std::max(sx, sy);
    const QSizeF drawn = size * scale;
    return QRectF(bounds.center() - QPointF(drawn.width() / 2, drawn.height() / 2), drawn);
}

void FillImageView::paintEvent(QPaintEvent*) {
    const QSizeF size = picture.isNull() ? QSizeF() : picture.deviceIndependentSize();
    if (!(size.width() > 0) || !(size.height() > 0))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(rect());
    const double r = std::max(0.0, cornerRadius);

    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(bounds, r, r);
    painter.setClipPath(clip);
    painter.fillRect(bounds, QColor(255, 255, 255, qRound(0.04 * 255)));
    painter.drawImage(imageRect(size, bounds, mode), picture);
    painter.restore();

    // The platform's label colour in the dark look is white.
    QPainterPath outline;
    outline.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), r, r);
    painter.strokePath(outline, QPen(QColor(255, 255, 255, qRound(0.12 * 255)), 1));
}
