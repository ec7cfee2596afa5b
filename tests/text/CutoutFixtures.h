#pragma once
// A screenshot-like picture for background removal: a window's chrome, lines of text, and a soft-edged
// subject whose true coverage is known.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

struct CutoutScene {
    QImage picture;
    QImage truth; // Grayscale8, 255 where the subject covers at least half of the pixel
};

inline CutoutScene cutoutScene(QSize size) {
    const double w = size.width(), h = size.height();
    CutoutScene scene{QImage(size, QImage::Format_RGB32), QImage(size, QImage::Format_Grayscale8)};
    QPainter p(&scene.picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(scene.picture.rect(), QColor(236, 238, 241));
    p.fillRect(QRectF(0, 0, w, h * 0.05), QColor(52, 56, 64));                  // title bar
    p.fillRect(QRectF(0, h * 0.05, w * 0.16, h * 0.95), QColor(222, 225, 230)); // sidebar
    p.setPen(QColor(70, 74, 80));
    QFont font;
    font.setPixelSize(std::max(6, int(h / 60)));
    p.setFont(font);
    for (int line = 0; line < 18; ++line)
        p.drawText(QPointF(w * 0.19, h * 0.12 + line * h / 24),
                   QStringLiteral("Quarterly figures, line %1 of the report").arg(line));

    // The subject: a warm shape with a soft rim, right of the text.
    const QRectF body(w * 0.58, h * 0.22, w * 0.3, h * 0.6);
    QPainterPath shape;
    shape.setFillRule(Qt::WindingFill);
    shape.addEllipse(body);
    shape.addRoundedRect(QRectF(body.center().x() - w * 0.05, body.bottom() - h * 0.1, w * 0.1, h * 0.14), 8, 8);
    QRadialGradient fill(body.center(), body.width() * 0.6);
    fill.setColorAt(0, QColor(250, 170, 60));
    fill.setColorAt(1, QColor(200, 80, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shape);
    p.end();

    scene.truth.fill(0);
    QPainter t(&scene.truth);
    t.setPen(Qt::NoPen);
    t.setBrush(Qt::white);
    t.drawPath(shape);
    t.end();

    // Soften the rim as a photo's subject would be: a small blur of the picture where the truth changes.
    QImage soft = scene.picture.scaled(size / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 1; y + 1 < size.height(); ++y) {
        const uchar* up = scene.truth.constScanLine(y - 1);
        const uchar* row = scene.truth.constScanLine(y);
        const uchar* down = scene.truth.constScanLine(y + 1);
        QRgb* out = reinterpret_cast<QRgb*>(scene.picture.scanLine(y));
        const QRgb* blurred = reinterpret_cast<const QRgb*>(soft.constScanLine(y));
        for (int x = 1; x + 1 < size.width(); ++x)
            if (row[x - 1] != row[x + 1] || up[x] != down[x])
                out[x] = blurred[x];
    }
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = scene.truth.scanLine(y);
        for (int x = 0; x < size.width(); ++x)
            row[x] = row[x] >= 128 ? 255 : 0;
    }
    return scene;
}

// Intersection over union of two masks, each pixel counted as covered from 128 up.
inline double maskIoU(const QImage& a, const QImage& b) {
    qint64 both = 0, either = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* ra = a.constScanLine(y);
        const uchar* rb = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            const bool ia = ra[x] >= 128, ib = rb[x] >= 128;
            both += ia && ib;
            either += ia || ib;
        }
    }
    return either ? double(both) / double(either) : 1.0;
}
