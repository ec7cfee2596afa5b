#include "editors/AnnotationRenderer.h"

#include "editors/AnnotationFont.h"
#include "editors/AnnotationGeometry.h"
#include "editors/PictureRects.h"
#include "ui/UI.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

using namespace Annotation;

namespace AnnotationRenderer {

namespace {

struct Flip {
    double h;
    QPointF operator()(QPointF p) const { return {p.x(), h - p.y()}; }
    QRectF operator()(const QRectF& r) const {
        const QRectF n = r.normalized();
        return {n.x(), h - n.y() - n.height(), n.width(), n.height()};
    }
};

QColor withAlpha(const Color& c, double alpha) {
    QColor q = c.qcolor();
    q.setAlphaF(float(alpha));
    return q;
}

void strokePath(QPainter& painter, const QPainterPath& path, const QColor& color, double width) {
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.strokePath(path, pen);
}

void haloAndStroke(QPainter& painter, const QPainterPath& path, const Shape& shape) {
    strokePath(painter, path, haloColor(shape.color), haloWidth(shape.width));
    strokePath(painter, path, shape.color.qcolor(), shape.width);
}

QPainterPath polyline(const QList<QPointF>& points, const Flip& flip) {
    QPainterPath path;
    if (points.isEmpty())
        return path;
    path.reserve(int(std::min<qsizetype>(points.size(), 1 << 24)));
    path.moveTo(flip(points.first()));
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(flip(points[i]));
    return path;
}

// Rasterising one outline of a very long, self-crossing stroke costs far more than its length: such
// strokes are drawn piecewise as coverage into a mask of their own, which is then coloured and put
// down once, so the stroke still blends as one.
constexpr qsizetype longStroke = 10000;

void strokeLong(QPainter& painter, const QList<QPointF>& points, const Flip& flip, const QColor& color, double width) {
    const QTransform device = painter.combinedTransform();
    QRectF reach = PictureRects::null();
    for (const QPointF& p : points)
        reach = PictureRects::unite(reach, PictureRects::pointRect(device.map(flip(p))));
    if (!std::isfinite(reach.width()) || !std::isfinite(reach.height()))
        return;
    const double grow = width * std::sqrt(std::abs(device.determinant())) / 2 + 2;
    const QRectF inside =
        reach.adjusted(-grow, -grow, grow, grow) & QRectF(0, 0, painter.device()->width(), painter.device()->height());
    const QRect target = inside.toAlignedRect();
    if (target.isEmpty())
        return;
    QImage mask(target.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter piece(&mask);
        piece.setRenderHint(QPainter::Antialiasing, true);
        piece.setTransform(device * QTransform::fromTranslate(-target.x(), -target.y()));
        piece.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        constexpr qsizetype chunk = 1000;
        for (qsizetype from = 0; from + 1 < points.size(); from += chunk) {
            QPolygonF part;
            for (qsizetype i = from; i < std::min(points.size(), from + chunk + 1); ++i)
                part.push_back(flip(points[i]));
            piece.drawPolyline(part);
        }
        piece.resetTransform();
        piece.setCompositionMode(QPainter::CompositionMode_SourceIn);
        piece.fillRect(mask.rect(), color);
    }
    painter.save();
    painter.resetTransform();
    painter.drawImage(target.topLeft(), mask);
    painter.restore();
}

QPainterPath roundedBox(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath ellipse(const QRectF& rect) {
    QPainterPath path;
    path.addEllipse(rect);
    return path;
}

void boxLike(QPainter& painter, const QPainterPath& path, const Shape& shape) {
    if (shape.filled)
        painter.fillPath(path, shape.color.qcolor());
    else
        haloAndStroke(painter, path, shape);
}

void drawArrow(QPainter& painter, const Arrow& k, const Shape& shape, const Flip& flip) {
    const double w = shape.width;
    const double theta = std::atan2(k.head.y() - k.tail.y(), k.head.x() - k.tail.x());
    const double len = 4.5 * w;
    const QPointF dir(std::cos(theta), std::sin(theta));
    const QPointF base = k.head - len * dir;
    const double half = std::numbers::pi / 2;
    const QPointF c1 = base + (len / 2) * QPointF(std::cos(theta + half), std::sin(theta + half));
    const QPointF c2 = base + (len / 2) * QPointF(std::cos(theta - half), std::sin(theta - half));
    QPainterPath shaft;
    shaft.moveTo(flip(k.tail));
    shaft.lineTo(flip(base));
    QPainterPath head;
    head.moveTo(flip(k.head));
    head.lineTo(flip(c1));
    head.lineTo(flip(c2));
    head.closeSubpath();
    head.setFillRule(Qt::WindingFill);
    haloAndStroke(painter, shaft, shape);
    strokePath(painter, head, haloColor(shape.color), 0.8 * w);
    painter.fillPath(head, shape.color.qcolor());
}

void drawText(QPainter& painter, const Text& k, const Shape& shape, const Flip& flip) {
    const double size = AnnotationGeometry::textSize(shape.width);
    const auto layout = AnnotationGeometry::textLayout(k.text, size);
    const double cap = AnnotationFont::capHeight(size);
    QPainterPath all;
    for (qsizetype i = 0; i < layout.lines.size(); ++i) {
        const QPointF baseline = flip(QPointF(k.anchor.x(), k.anchor.y() - 0.5 * cap - double(i) * layout.lineH));
        all.addPath(AnnotationFont::linePath(layout.lines[i], size).translated(baseline));
    }
    painter.fillPath(all, shape.color.qcolor());
}

void drawNumber(QPainter& painter, const Number& k, const Shape& shape, const Flip& flip) {
    const double r = 5 * shape.width;
    const QPointF c = flip(k.centre);
    QPainterPath circle;
    circle.addEllipse(c, r, r);
    painter.fillPath(circle, shape.color.qcolor());
    strokePath(painter, circle, haloColor(shape.color), 0.5 * shape.width);
    const QPainterPath label = AnnotationFont::linePath(QString::number(k.n), 1.25 * r, true);
    const QRectF b = label.boundingRect();
    // Centres the glyphs' own box on the point, so digits sit mid-circle whatever their depth.
    const QPointF baseline(c.x() - b.width() / 2, c.y() + b.height() / 2 - b.bottom());
    painter.fillPath(label.translated(baseline), shape.color == white() ? Qt::black : Qt::white);
}

// Pixelated regions depend only on the picture and the region: keep the last few, so a frame
// that repaints an unchanged blur does not shrink the picture again.
struct BlurKey {
    qint64 picture;
    QRect region;
    bool operator==(const BlurKey&) const = default;
};
size_t qHash(const BlurKey& key, size_t seed = 0) {
    return ::qHash(key.picture, seed) ^ ::qHash(key.region.x()) ^ ::qHash(key.region.y() * 31) ^
           ::qHash(key.region.width() * 131) ^ ::qHash(key.region.height() * 1031);
}

QHash<BlurKey, QImage>& blurCache() {
    static QHash<BlurKey, QImage> cache;
    return cache;
}

} // namespace

QColor haloColor(const Color& color) {
    return color == white() ? QColor::fromRgbF(0, 0, 0, 0.5f) : QColor::fromRgbF(1, 1, 1, 0.55f);
}

double haloWidth(double width) {
    return width + std::max(0.6 * width, 1.5);
}

void pixelate(QPainter& painter, const QRectF& rect, const QImage& picture) {
    const int W = picture.width(), H = picture.height();
    const QRectF n = rect.normalized();
    if (!std::isfinite(n.x()) || !std::isfinite(n.y()) || !std::isfinite(n.width()) || !std::isfinite(n.height()))
        return;
    // Whole pixels outwards, then inside the picture; clamping first keeps huge values in range.
    const double left = std::floor(std::clamp(n.left(), 0.0, double(W)));
    const double right = std::ceil(std::clamp(n.right(), 0.0, double(W)));
    const double low = std::floor(std::clamp(n.top(), 0.0, double(H)));
    const double high = std::ceil(std::clamp(n.bottom(), 0.0, double(H)));
    const int x = int(left), y = int(low), w = int(right - left), h = int(high - low);
    if (w <= 2 || h <= 2)
        return;
    const QRect region(x, H - (y + h), w, h); // the picture's own grid, origin top left
    const BlurKey key{picture.cacheKey(), region};
    auto& cache = blurCache();
    QImage small = cache.value(key);
    if (small.isNull()) {
        const QImage crop = picture.copy(region);
        if (crop.isNull())
            return;
        const int block = std::max(8, h / 10);
        const int cols = std::max(1, w / block), rows = std::max(1, h / block);
        small = crop.scaled(cols, rows, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (small.isNull())
            return;
        if (cache.size() > 64)
            cache.clear();
        cache.insert(key, small);
    }
    // A texture fill samples by device pixel, so a repaint clipped to part of the region draws the
    // same blocks as a whole one (a scaled image blit would not).
    QBrush blocks(small);
    blocks.setTransform(
        QTransform(double(w) / small.width(), 0, 0, double(h) / small.height(), region.x(), region.y()));
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.fillRect(QRectF(region), blocks);
    painter.restore();
}

void drawShape(QPainter& painter, const Shape& shape, const QImage& picture) {
    const Flip flip{double(picture.height())};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double w = shape.width;
    if (auto* k = std::get_if<Arrow>(&shape.kind)) {
        drawArrow(painter, *k, shape, flip);
    } else if (auto* k = std::get_if<Line>(&shape.kind)) {
        QPainterPath path;
        path.moveTo(flip(k->start));
        path.lineTo(flip(k->end));
        haloAndStroke(painter, path, shape);
    } else if (auto* k = std::get_if<Pen>(&shape.kind)) {
        if (k->points.size() > longStroke) {
            strokeLong(painter, k->points, flip, haloColor(shape.color), haloWidth(w));
            strokeLong(painter, k->points, flip, shape.color.qcolor(), w);
        } else {
            haloAndStroke(painter, polyline(k->points, flip), shape);
        }
    } else if (auto* k = std::get_if<Box>(&shape.kind)) {
        const QRectF r = flip(k->rect);
        boxLike(painter, roundedBox(r, std::min({w, r.width() / 2, r.height() / 2})), shape);
    } else if (auto* k = std::get_if<Ellipse>(&shape.kind)) {
        boxLike(painter, ellipse(flip(k->rect)), shape);
    } else if (auto* k = std::get_if<Highlight>(&shape.kind)) {
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        if (k->points.size() > longStroke)
            strokeLong(painter, k->points, flip, withAlpha(shape.color, 0.45), 6 * w);
        else
            strokePath(painter, polyline(k->points, flip), withAlpha(shape.color, 0.45), 6 * w);
    } else if (auto* k = std::get_if<Marker>(&shape.kind)) {
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        const QColor fill = withAlpha(shape.color, 0.5);
        for (const QRectF& rect : k->rects) {
            const QRectF r = flip(rect);
            painter.fillPath(roundedBox(r, std::min(0.5 * r.width(), 0.22 * r.height())), fill);
        }
    } else if (auto* k = std::get_if<Blur>(&shape.kind)) {
        pixelate(painter, k->rect, picture);
    } else if (auto* k = std::get_if<Text>(&shape.kind)) {
        drawText(painter, *k, shape, flip);
    } else if (auto* k = std::get_if<Number>(&shape.kind)) {
        drawNumber(painter, *k, shape, flip);
    } else if (auto* k = std::get_if<Signature>(&shape.kind)) {
        if (!shape.image.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(flip(k->rect), shape.image);
        }
    }
    painter.restore();
}

QRectF drawnBounds(const Shape& shape) {
    namespace R = PictureRects;
    const double w = std::max(shape.width, 0.0);
    QRectF box = AnnotationGeometry::bounds(shape.kind, w);
    double pad = haloWidth(w) / 2 + 2;
    if (std::holds_alternative<Arrow>(shape.kind)) {
        // The head's back corners stand 2.25 widths off the shaft.
        pad += 2.25 * w;
    } else if (std::holds_alternative<Highlight>(shape.kind)) {
        pad = 3 * w + 2;
    } else if (std::holds_alternative<Marker>(shape.kind) || std::holds_alternative<Signature>(shape.kind)) {
        pad = 2;
    } else if (auto* b = std::get_if<Blur>(&shape.kind)) {
        box = b->rect.normalized();
        pad = 2;
    } else if (std::holds_alternative<Text>(shape.kind)) {
        pad = 0.4 * AnnotationGeometry::textSize(w) + 2;
    } else if (auto* n = std::get_if<Number>(&shape.kind)) {
        const double r = 5 * w;
        const QRectF label = AnnotationFont::linePath(QString::number(n->n), 1.25 * r, true).boundingRect();
        const double half = std::max({r + 0.25 * w, label.width() / 2 + std::abs(label.x()), label.height() / 2});
        box = QRectF(n->centre.x() - half, n->centre.y() - half, 2 * half, 2 * half);
        pad = 2;
    }
    if (R::isNull(box))
        return box;
    return R::inset(box.normalized(), -pad, -pad);
}

void drawSelection(QPainter& painter, const Shape& shape, double s, int pictureHeight, double defaultWidth) {
    const Flip flip{double(pictureHeight)};
    const double lineWidth = 1.5 / s, h = 9 / s;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(UI::accent(), lineWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::white);
    const auto ends = [&](QPointF a, QPointF b) {
        const double d = h + 2 / s;
        for (QPointF q : {a, b})
            painter.drawEllipse(flip(q), d / 2, d / 2);
    };
    if (auto* k = std::get_if<Arrow>(&shape.kind)) {
        ends(k->tail, k->head);
    } else if (auto* k = std::get_if<Line>(&shape.kind)) {
        ends(k->start, k->end);
    } else {
        const double width = shape.width > 0 ? shape.width : defaultWidth;
        const QRectF box = PictureRects::inset(AnnotationGeometry::bounds(shape.kind, width), -6, -6);
        if (!PictureRects::isNull(box)) {
            QPen dashed = pen;
            // Dash lengths are in units of the pen's width.
            dashed.setDashPattern({4 / s / lineWidth, 3 / s / lineWidth});
            painter.setPen(dashed);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(flip(box));
            painter.setPen(pen);
            painter.setBrush(Qt::white);
            for (const QPointF& q : AnnotationGeometry::handles(box))
                painter.drawRect(QRectF(flip(q) - QPointF(h / 2, h / 2), QSizeF(h, h)));
        }
    }
    painter.restore();
}

} // namespace AnnotationRenderer
