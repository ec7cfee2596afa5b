#include "onboarding/LayerDamage.h"

#include "onboarding/LayerRenderer.h"

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace tour {

namespace {

bool visible(const QColor& c) {
    return c.isValid() && c.alpha() > 0;
}

// Everything a layer draws apart from its place and opacity; a change of any of it repaints the layer.
size_t lookOf(const Layer& layer, const Props& p, double t) {
    size_t h = qHash(p.bounds.x()) ^ (qHash(p.bounds.y()) << 1) ^ (qHash(p.bounds.width()) << 2) ^
               (qHash(p.bounds.height()) << 3);
    const auto mix = [&h](size_t v) { h = h * 1099511628211ULL ^ v; };
    for (const QColor& c :
         {p.backgroundColor, p.borderColor, p.shadowColor, p.fillColor, p.strokeColor, p.foregroundColor})
        mix(c.isValid() ? c.rgba64() : 1);
    for (const double d : {p.borderWidth, p.cornerRadius, p.shadowOpacity, p.shadowRadius, p.shadowOffset.x(),
                           p.shadowOffset.y(), p.lineWidth, p.fontSize})
        mix(qHash(d));
    mix(qHash(p.string));
    mix(layer.hidden);
    if (layer.mask) {
        // A mask that moves uncovers other parts of the layer.
        const Props m = presentation(*layer.mask, t);
        mix(qHash(m.position.x()) ^ qHash(m.position.y()) ^ qHash(m.opacity) ^ qHash(m.transform.sx) ^
            qHash(m.bounds.width()) ^ qHash(m.bounds.height()));
    }
    return h;
}

// The smallest box of a picture's pixels that holds all that are not clear; remembered per picture.
QRect inkOf(const QImage& picture) {
    static QHash<qint64, QRect> known;
    if (const auto it = known.constFind(picture.cacheKey()); it != known.cend())
        return *it;
    if (known.size() > 64)
        known.clear();
    QRect ink;
    if (!picture.hasAlphaChannel()) {
        ink = picture.rect();
    } else {
        const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
        int left = argb.width(), right = -1, top = argb.height(), bottom = -1;
        for (int y = 0; y < argb.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width(); ++x)
                if (qAlpha(row[x]) > 0) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        }
        ink = right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
    }
    known.insert(picture.cacheKey(), ink);
    return ink;
}

// What the layer itself draws, in its own space: its box when it fills, borders or holds a picture, its path,
// and for a shadow the whole subtree it is cast from. Holders that draw nothing give nothing.
QRectF drawnBy(const Layer& layer, const Props& p, double t) {
    if (p.shadowOpacity > 0 && visible(p.shadowColor))
        return LayerRenderer::ownExtent(layer, p, t);
    const QRectF box(p.bounds.topLeft(), p.bounds.size());
    QRectF r;
    if (visible(p.backgroundColor) || (p.borderWidth > 0 && visible(p.borderColor)) ||
        layer.type == Layer::Type::gradient || layer.type == Layer::Type::text)
        r = box;
    if (!layer.contents.isNull()) {
        // Only where the picture has ink: a large picture may hold a small emblem in clear pixels.
        const QRectF placed = LayerRenderer::contentsRect(layer, p);
        const QRect ink = inkOf(layer.contents);
        const double sx = placed.width() / layer.contents.width(), sy = placed.height() / layer.contents.height();
        // Upright: the picture's top row is at the top (the larger y) of the box.
        QRectF inked(placed.left() + ink.left() * sx, placed.bottom() - (ink.top() + ink.height()) * sy,
                     ink.width() * sx, ink.height() * sy);
        r |= layer.masksToBounds ? inked & box : inked;
    }
    if (layer.type == Layer::Type::shape && !layer.path.isEmpty()) {
        const double pad = p.lineWidth;
        r |= layer.path.controlPointRect().adjusted(-pad, -pad, pad, pad);
    }
    return r;
}

// A shape that only strokes an outline (a ring, a bracket) covers little of its box: its outline in short runs.
QRegion outlineIn(const Layer& layer, const Props& p, const QTransform& place) {
    QRegion out;
    const double pad = p.lineWidth * std::sqrt(std::abs(place.determinant())) / 2 + 2;
    for (const QPolygonF& poly : layer.path.toSubpathPolygons(place)) {
        for (qsizetype i = 0; i + 1 < poly.size(); i += 6) {
            QRectF run;
            for (qsizetype k = i; k < std::min(poly.size(), i + 7); ++k)
                run |= QRectF(poly.at(k), QSizeF(0.001, 0.001));
            out |= run.adjusted(-pad, -pad, pad, pad).toAlignedRect();
        }
    }
    return out;
}

bool outlineOnly(const Layer& layer, const Props& p) {
    return layer.type == Layer::Type::shape && !layer.path.isEmpty() && !visible(p.fillColor) &&
           !visible(p.backgroundColor) && !(p.shadowOpacity > 0) && layer.sublayers().isEmpty();
}

QRegion areaOf(const Layer& layer, const Props& p, const QTransform& place, const QRectF& drawn) {
    if (drawn.isEmpty())
        return {};
    if (outlineOnly(layer, p))
        return outlineIn(layer, p, place);
    // Pictures copied onto whole pixels and antialiased edges reach a little past the exact box.
    return place.mapRect(drawn).toAlignedRect().adjusted(-2, -2, 2, 2);
}

} // namespace

double LayerDamage::tolerance(const Layer& layer, const Props& p, double pixelsPerPoint) {
    constexpr double edge = 0.5;
    const bool glow = layer.type == Layer::Type::gradient && layer.radial && !layer.colors.isEmpty() &&
                      layer.colors.last().alpha() == 0 && !visible(p.backgroundColor) && !(p.borderWidth > 0) &&
                      !(p.shadowOpacity > 0) && layer.contents.isNull() && layer.sublayers().isEmpty();
    if (!glow)
        return edge;
    double strongest = 0;
    for (const QColor& c : layer.colors)
        strongest = std::max(strongest, c.alphaF() * p.opacity);
    const double rx = std::abs(layer.endPoint.x() - layer.startPoint.x()) * p.bounds.width();
    const double ry = std::abs(layer.endPoint.y() - layer.startPoint.y()) * p.bounds.height();
    const double radius = std::min(rx, ry) * pixelsPerPoint;
    if (strongest <= 0 || radius <= 0)
        return edge;
    // Levels per pixel at the steepest, where it falls from its strongest colour to nothing.
    const double slope = strongest * 255 / radius;
    return std::max(edge, 2.0 / slope);
}

QRegion LayerDamage::since(const Layer& root, const QTransform& toView, double t, double pixelRatio) {
    QRegion out;
    walk(root, toView, 1.0, t, pixelRatio, out);
    return out;
}

void LayerDamage::walk(const Layer& layer, const QTransform& parent, double parentOpacity, double t, double ratio,
                       QRegion& out) {
    const Props p = presentation(layer, t);
    const double opacity = layer.hidden ? 0.0 : parentOpacity * std::clamp(p.opacity, 0.0, 1.0);
    const QTransform place = LayerRenderer::placement(layer, p) * parent;
    State& was = states[&layer];
    const QRectF drawn = drawnBy(layer, p, t);
    const size_t look = lookOf(layer, p, t);

    if (layer.type == Layer::Type::emitter) {
        // Every dot moves at every frame: the dots where they were and where they are.
        QList<QRectF> dots;
        if (opacity > 0.002)
            for (const Particle& dot : particles(layer, t)) {
                const QImage& picture = layer.cells.at(dot.cell).contents;
                const QSizeF size = (picture.isNull() ? QSizeF(1, 1) : picture.deviceIndependentSize()) * dot.scale;
                dots.append(place.mapRect(QRectF(dot.position - QPointF(size.width() / 2, size.height() / 2), size)));
            }
        for (const QRectF& r : std::as_const(was.dots))
            out |= r.toAlignedRect().adjusted(-1, -1, 1, 1);
        for (const QRectF& r : std::as_const(dots))
            out |= r.toAlignedRect().adjusted(-1, -1, 1, 1);
        was.dots = dots;
    } else {
        bool changed = !was.seen || was.look != look || was.drawn != drawn;
        if (!changed) {
            const double ppp = std::sqrt(std::abs(place.determinant())) * ratio;
            const double allowed = tolerance(layer, p, ppp);
            double moved = 0;
            for (const QPointF& corner : {drawn.topLeft(), drawn.topRight(), drawn.bottomLeft(), drawn.bottomRight()})
                moved = std::max(moved, QLineF(was.place.map(corner), place.map(corner)).length() * ratio);
            // One level of the brightest colour the layer may hold.
            changed = moved > allowed || std::abs(was.opacity - opacity) * 255 > 1.0;
        }
        if (changed && !drawn.isEmpty()) {
            if (was.seen && was.opacity > 0.002)
                out |= areaOf(layer, p, was.place, was.drawn);
            if (opacity > 0.002)
                out |= areaOf(layer, p, place, drawn);
        }
        if (changed) {
            was.place = place;
            was.opacity = opacity;
            was.look = look;
            was.drawn = drawn;
        }
    }
    was.seen = true;
    for (const LayerPtr& sub : layer.sublayers())
        walk(*sub, place, opacity, t, ratio, out);
}

} // namespace tour
