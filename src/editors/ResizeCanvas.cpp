#include "editors/ResizeCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

ResizeCanvas::ResizeCanvas(const QImage& image, QWidget* parent) : QWidget(parent), picture(image) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
}

void ResizeCanvas::setScales(double x, double y) {
    scaleX = std::max(minScale, std::min(1.0, x));
    scaleY = std::max(minScale, std::min(1.0, y));
    update();
}

void ResizeCanvas::mousePressEvent(QMouseEvent* event) {
    // Taken here so that a press on the preview never moves the window; it only gives the keys back.
    setFocus();
    event->accept();
}

void ResizeCanvas::paintEvent(QPaintEvent*) {
    if (picture.isNull())
        return;
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::lround(width() * ratio))), std::max(1, int(std::lround(height() * ratio))));
    if (cache.size() != pixels)
        cache = picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    const double w = width() * scaleX, h = height() * scaleY;
    const QRectF shown((width() - w) / 2, (height() - h) / 2, w, h);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(shown, std::min(8.0, w / 2), std::min(8.0, h / 2));
    painter.setClipPath(clip);
    painter.drawImage(shown, cache);
}
