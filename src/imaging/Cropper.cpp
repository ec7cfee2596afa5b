#include "imaging/Cropper.h"

#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace Cropper {

namespace {

const QString suffix = QStringLiteral("crop");

// Halves away from zero; values far outside any picture are held at a bound instead of overflowing.
qint64 roundedPixels(double v) {
    if (!std::isfinite(v))
        throw ConvertError(QStringLiteral("Couldn't crop"));
    return std::llround(std::clamp(v, -1e12, 1e12));
}

} // namespace

QRect pixelRect(const QRectF& normalized, const QSize& picture) {
    const int W = picture.width();
    const int H = picture.height();
    const qint64 x = roundedPixels(normalized.left() * W);
    const qint64 y = roundedPixels((1.0 - (normalized.top() + normalized.height())) * H);
    const qint64 w = std::max<qint64>(roundedPixels(normalized.width() * W), 1);
    const qint64 h = std::max<qint64>(roundedPixels(normalized.height() * H), 1);
    // The part of the rectangle on the picture, worked out in 64 bits before it becomes a QRect.
    const qint64 left = std::max<qint64>(x, 0), top = std::max<qint64>(y, 0);
    const qint64 right = std::min<qint64>(x + w, W), bottom = std::min<qint64>(y + h, H);
    if (right <= left || bottom <= top)
        return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

QUrl crop(const QUrl& source, const QRectF& normalized) {
    const QImage image = ImageConvert::load(source);
    const QRect area = pixelRect(normalized, image.size());
    if (area.isEmpty())
        throw ConvertError(QStringLiteral("Couldn't crop"));
    const QImage piece = image.copy(area);
    if (piece.isNull())
        throw ConvertError(QStringLiteral("Couldn't crop"));
    return ShotFiles::savePNG(piece, source, suffix);
}

QUrl crop(const QUrl& source, const QList<QPointF>& lasso) {
    const QImage image = ImageConvert::load(source);
    const double W = image.width();
    const double H = image.height();

    // The box is found where the points live (y up), so whole-pixel edges stay exact; only then is it
    // turned into the picture's rows (y down).
    QList<QPointF> points;
    points.reserve(lasso.size());
    for (const QPointF& p : lasso) {
        const QPointF q(p.x() * W, p.y() * H);
        if (!std::isfinite(q.x()) || !std::isfinite(q.y()))
            throw ConvertError(QStringLiteral("Selection too small"));
        points.append(q);
    }
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    if (!points.isEmpty()) {
        minX = maxX = points.first().x();
        minY = maxY = points.first().y();
        for (const QPointF& q : points) {
            minX = std::min(minX, q.x());
            maxX = std::max(maxX, q.x());
            minY = std::min(minY, q.y());
            maxY = std::max(maxY, q.y());
        }
    }
    // Grown outwards to whole pixels, then cut to the picture.
    const double left = std::max(std::floor(minX), 0.0), right = std::min(std::ceil(maxX), W);
    const double bottom = std::max(std::floor(minY), 0.0), top = std::min(std::ceil(maxY), H);
    if (points.isEmpty() || right - left <= 1 || top - bottom <= 1)
        throw ConvertError(QStringLiteral("Selection too small"));
    for (QPointF& q : points)
        q.setY(H - q.y());

    QImage piece(int(right - left), int(top - bottom), QImage::Format_ARGB32_Premultiplied);
    if (piece.isNull())
        throw ConvertError(QStringLiteral("Couldn't crop"));
    piece.fill(Qt::transparent);
    QPainterPath outline;
    outline.setFillRule(Qt::WindingFill);
    outline.addPolygon(QPolygonF(points));
    outline.closeSubpath();
    QPainter painter;
    if (!painter.begin(&piece))
        throw ConvertError(QStringLiteral("Couldn't crop"));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-left, -(H - top));
    // The picture as the fill of the outline: edges get smooth coverage, which a clip would not give.
    painter.fillPath(outline, QBrush(image));
    painter.end();
    return ShotFiles::savePNG(piece, source, suffix);
}

} // namespace Cropper
