#include "editors/RotateCanvas.h"

#include "editors/Transform.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

RotateCanvas::RotateCanvas(const QImage& image, QWidget* parent) : QWidget(parent), picture(image) {
    setFocusPolicy(Qt::StrongFocus);
}

void RotateCanvas::mousePressEvent(QMouseEvent* event) {
    // Taken here so that a drag on the picture never moves the window.
    setFocus();
    event->accept();
}

void RotateCanvas::paintEvent(QPaintEvent*) {
    if (picture.isNull())
        return;
    QPainter painter(this);
    const double w = picture.width(), h = picture.height();
    const bool odd = turns % 2 != 0;
    const double rw = odd ? h : w, rh = odd ? w : h;
    const double scale = std::min(width() / rw, height() / rh);

    // A reduced copy keeps redraws cheap for large pictures; it never goes below what is shown.
    const double ratio = devicePixelRatioF();
    const double side = std::max(width(), height()) * ratio;
    if (cache.isNull()) {
        const double shrink = std::min(1.0, side / std::max(w, h));
        cache = shrink < 1 ? picture.scaled(std::max(1, int(std::lround(w * shrink))),
                                            std::max(1, int(std::lround(h * shrink))), Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation)
                           : picture;
    }

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(scale, scale);
    painter.setTransform(Transform::matrix(turns, flipH, flipV) * painter.transform());
    painter.drawImage(QRectF(-w / 2, -h / 2, w, h), cache);
}
