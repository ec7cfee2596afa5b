#include "onboarding/LayerRenderer.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace tour {

namespace {

QGradientStops stopsOf(const Layer& layer) {
    QGradientStops stops;
    const qsizetype n = layer.colors.size();
    const bool placed = layer.locations.size() == n;
    for (qsizetype i = 0; i < n; ++i) {
        const double at = placed ? layer.locations.at(i) : (n == 1 ? 0.0 : double(i) / double(n - 1));
        stops.append({std::clamp(at, 0.0, 1.0), layer.colors.at(i)});
    }
    return stops;
}

// Draws with y down inside rect, so pictures and text come out upright in the y-up space.
template <typename Draw> void upright(QPainter& painter, const QRectF& rect, Draw draw) {
    painter.save();
    painter.translate(rect.left(), rect.bottom());
    painter.scale(1, -1);
    draw(QRectF(0, 0, rect.width(), rect.height()));
    painter.restore();
}

QRectF placeContents(const QSizeF& picture, const QRectF& box, Layer::Gravity gravity) {
    if (picture.isEmpty())
        return box;
    switch (gravity) {
    case Layer::Gravity::resize:
        return box;
    case Layer::Gravity::center:
        return QRectF(box.center().x() - picture.width() / 2, box.center().y() - picture.height() / 2, picture.width(),
                      picture.height());
    case Layer::Gravity::resizeAspect:
    case Layer::Gravity::resizeAspectFill: {
        const double sx = box.width() / picture.width();
        const double sy = box.height() / picture.height();
        const double s = gravity == Layer::Gravity::resizeAspect ? std::min(sx, sy) : std::max(sx, sy);
        const QSizeF size = picture * s;
        return QRectF(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                      size.height());
    }
    }
    return box;
}

bool visible(const QColor& c) {
    return c.isValid() && c.alpha() > 0;
}

// Fills or strokes a path in a solid colour. Qt draws an antialiased path several times slower in a
// translucent colour than in an opaque one, so a large translucent shape is drawn opaque into a
// scratch picture and laid down at the colour's alpha (one shape covers each pixel once, so the
// look is the same).
void paintPath(QPainter& painter, const QPainterPath& path, QColor colour, const QPen* stroke) {
    const double alpha = colour.alphaF() * painter.opacity();
    const double opacity = painter.opacity();
    const QTransform device = painter.deviceTransform();
    QRectF bound = path.controlPointRect();
    if (stroke) {
        const double m = stroke->widthF() + 1;
        bound.adjust(-m, -m, m, m);
    }
    QRect area = device.mapRect(bound).toAlignedRect().adjusted(-1, -1, 1, 1);
    const QPaintDevice* target = painter.device();
    const double dpr = target ? target->devicePixelRatioF() : 1.0;
    if (target)
        area &= QRect(0, 0, int(target->width() * dpr), int(target->height() * dpr));
    // Only what the clip lets through: a frame that repaints a sliver of a large shape draws only that sliver.
    if (painter.hasClipping())
        area &= device.mapRect(painter.clipBoundingRect()).toAlignedRect().adjusted(-1, -1, 1, 1);
    const bool direct = alpha >= 0.999 || qint64(area.width()) * area.height() < 4096 ||
                        painter.compositionMode() != QPainter::CompositionMode_SourceOver;
    if (direct || area.isEmpty()) {
        colour.setAlphaF(float(alpha));
        painter.setOpacity(1);
        if (stroke) {
            QPen pen(*stroke);
            pen.setColor(colour);
            painter.strokePath(path, pen);
        } else {
            painter.fillPath(path, colour);
        }
        painter.setOpacity(opacity);
        return;
    }
    QImage scratch(area.size(), QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    {
        QPainter q(&scratch);
        q.setRenderHint(QPainter::Antialiasing);
        q.setTransform(device * QTransform::fromTranslate(-area.x(), -area.y()));
        colour.setAlpha(255);
        if (stroke) {
            QPen pen(*stroke);
            pen.setColor(colour);
            q.strokePath(path, pen);
        } else {
            q.fillPath(path, colour);
        }
    }
    painter.save();
    painter.setWorldTransform(QTransform());
    painter.setOpacity(alpha);
    painter.drawImage(QRectF(area.x() / dpr, area.y() / dpr, area.width() / dpr, area.height() / dpr), scratch);
    painter.restore();
}

// A layer that clips to its box and draws nothing of its own, whose sublayers all lie outside the
// box at this moment, shows nothing: a tile's band of light spends most of its time parked there.
bool clipsAllAway(const Layer& layer, const Props& p, const QRectF& box, double t,
                  QRectF (*extentOf)(const Layer&, double)) {
    if (!layer.masksToBounds || layer.type != Layer::Type::plain || !layer.contents.isNull() ||
        visible(p.backgroundColor) || layer.sublayers().isEmpty())
        return false;
    for (const LayerPtr& sub : layer.sublayers())
        if (extentOf(*sub, t).intersects(box))
            return false;
    return true;
}

} // namespace

QPainterPath LayerRenderer::roundedBox(const QRectF& r, double radius, int corners) {
    QPainterPath path;
    radius = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    if (radius <= 0 || corners == 0) {
        path.addRect(r);
        return path;
    }
    if (corners == Layer::allCorners) {
        path.addRoundedRect(r, radius, radius);
        return path;
    }
    // y-up: minY is the bottom edge.
    const auto rad = [&](int corner) { return (corners & corner) ? radius : 0.0; };
    const double bl = rad(Layer::minXMinY), br = rad(Layer::maxXMinY), tl = rad(Layer::minXMaxY),
                 tr = rad(Layer::maxXMaxY);
    const double x0 = r.left(), x1 = r.right(), y0 = r.top(), y1 = r.bottom();
    path.moveTo(x0 + bl, y0);
    path.lineTo(x1 - br, y0);
    if (br > 0)
        path.arcTo(x1 - 2 * br, y0, 2 * br, 2 * br, 270, 90);
    path.lineTo(x1, y1 - tr);
    if (tr > 0)
        path.arcTo(x1 - 2 * tr, y1 - 2 * tr, 2 * tr, 2 * tr, 0, 90);
    path.lineTo(x0 + tl, y1);
    if (tl > 0)
        path.arcTo(x0, y1 - 2 * tl, 2 * tl, 2 * tl, 90, 90);
    path.lineTo(x0, y0 + bl);
    if (bl > 0)
        path.arcTo(x0, y0, 2 * bl, 2 * bl, 180, 90);
    path.closeSubpath();
    return path;
}

void LayerRenderer::blurAlpha(QImage& image, double radius) {
    if (image.isNull() || radius < 0.5)
        return;
    if (image.format() != QImage::Format_Alpha8)
        image = image.convertToFormat(QImage::Format_Alpha8);
    // Three box passes each way come close to a Gaussian with sigma = radius / 2.
    const double sigma = radius / 2;
    const int box = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    const int w = image.width(), h = image.height();
    std::vector<int> line(size_t(std::max(w, h)));
    const auto pass = [&](uchar* start, int count, int stride) {
        for (int i = 0; i < count; ++i)
            line[size_t(i)] = start[i * stride];
        int sum = 0;
        const int window = 2 * box + 1;
        for (int i = -box; i <= box; ++i)
            sum += (i >= 0 && i < count) ? line[size_t(i)] : 0;
        for (int i = 0; i < count; ++i) {
            start[i * stride] = uchar(sum / window);
            const int out = i - box, in = i + box + 1;
            sum += (in < count ? line[size_t(in)] : 0) - (out >= 0 ? line[size_t(out)] : 0);
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < h; ++y)
            pass(image.scanLine(y), w, 1);
        const int stride = int(image.bytesPerLine());
        for (int x = 0; x < w; ++x)
            pass(image.bits() + x, h, stride);
    }
}

QTransform LayerRenderer::placement(const Layer& layer, const Props& p) {
    const QSizeF size = p.bounds.size();
    QTransform m = QTransform::fromTranslate(-p.anchorPoint.x() * size.width() - p.bounds.x(),
                                             -p.anchorPoint.y() * size.height() - p.bounds.y());
    m *= p.transform.matrix();
    m *= QTransform::fromTranslate(p.position.x() + layer.offset.x(), p.position.y() + layer.offset.y());
    return m;
}

void LayerRenderer::paint(QPainter& painter, const Layer& layer, double t) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paintLayer(painter, layer, t, painter.opacity(), true);
    painter.restore();
}

void LayerRenderer::paintLayer(QPainter& painter, const Layer& layer, double t, double parentOpacity, bool withShadow) {
    if (layer.hidden)
        return;
    // Outside what this frame repaints: nothing of it would land.
    if (!only.isEmpty() && !buildingShadow && !buildingStill && !buildingSnapshot) {
        const QRectF reach = extent(layer, t);
        if (!reach.isEmpty() && !only.intersects(painter.deviceTransform().mapRect(reach).toAlignedRect()))
            return;
    }
    const Props p = presentation(layer, t);
    const double opacity = parentOpacity * std::clamp(p.opacity, 0.0, 1.0);
    if (opacity <= 0.002)
        return;
    const QTransform place = placement(layer, p);
    if (!place.isInvertible())
        return; // scaled to nothing
    painter.save();
    painter.setTransform(place, true);
    if (withShadow && p.shadowOpacity > 0 && visible(p.shadowColor))
        paintShadow(painter, layer, p, t, opacity);
    if (!layer.mask && onlyGlides(layer)) {
        Props bare = p; // the shadow is drawn apart, above
        bare.shadowOpacity = 0;
        const QRectF own = ownExtent(layer, bare, t);
        const QString key = u'L' + QString::number(quintptr(&layer));
        if (paintSnapshot(painter, key, own, opacity, [&](QPainter& q) { paintOwn(q, layer, p, t, 1.0); })) {
            painter.restore();
            return;
        }
    }
    if (layer.mask)
        paintMasked(painter, layer, p, t, opacity);
    else
        paintOwn(painter, layer, p, t, opacity);
    painter.restore();
}

void LayerRenderer::paintOwn(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity) {
    const QRectF r(p.bounds.topLeft(), p.bounds.size());
    const QPainterPath box = roundedBox(r, p.cornerRadius, layer.maskedCorners);
    const bool empty = clipsAllAway(layer, p, r, t, &LayerRenderer::extent);
    painter.save();
    painter.setOpacity(opacity);
    if (layer.masksToBounds && !empty)
        painter.setClipPath(box, Qt::IntersectClip);
    if (visible(p.backgroundColor))
        paintPath(painter, box, p.backgroundColor, nullptr);
    if (!layer.contents.isNull()) {
        const QSizeF picture = layer.contents.deviceIndependentSize();
        upright(painter, placeContents(picture, r, layer.contentsGravity),
                [&](const QRectF& at) { painter.drawImage(at, layer.contents); });
    }
    switch (layer.type) {
    case Layer::Type::plain:
        break;
    case Layer::Type::gradient: {
        if (layer.colors.isEmpty())
            break;
        const QPointF start(r.x() + layer.startPoint.x() * r.width(), r.y() + layer.startPoint.y() * r.height());
        const QPointF end(r.x() + layer.endPoint.x() * r.width(), r.y() + layer.endPoint.y() * r.height());
        if (layer.radial) {
            // The end point sets the two radii: an ellipse fitted to the box.
            const double rx = std::abs(end.x() - start.x()), ry = std::abs(end.y() - start.y());
            if (rx <= 0 || ry <= 0)
                break;
            QRadialGradient g(0, 0, 1);
            g.setStops(stopsOf(layer));
            QBrush brush(g);
            brush.setTransform(QTransform::fromScale(rx, ry) * QTransform::fromTranslate(start.x(), start.y()));
            painter.fillPath(box, brush);
        } else {
            QLinearGradient g(start, end);
            g.setStops(stopsOf(layer));
            painter.fillPath(box, g);
        }
        break;
    }
    case Layer::Type::shape: {
        if (layer.path.isEmpty())
            break;
        if (visible(p.fillColor))
            paintPath(painter, layer.path, p.fillColor, nullptr);
        if (visible(p.strokeColor) && p.lineWidth > 0) {
            QPen pen(p.strokeColor, p.lineWidth, Qt::SolidLine, layer.lineCap, layer.lineJoin);
            if (!layer.lineDashPattern.isEmpty()) {
                // Qt counts dashes in pen widths.
                QList<qreal> dashes;
                for (const double d : layer.lineDashPattern)
                    dashes.append(std::max(d, 0.01) / p.lineWidth);
                if (dashes.size() % 2)
                    dashes += dashes;
                pen.setDashPattern(dashes);
            }
            paintPath(painter, layer.path, p.strokeColor, &pen);
        }
        break;
    }
    case Layer::Type::emitter: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        for (const Particle& dot : particles(layer, t)) {
            const QImage& picture = layer.cells.at(dot.cell).contents;
            const QSizeF size = (picture.isNull() ? QSizeF(1, 1) : picture.deviceIndependentSize()) * dot.scale;
            const QRectF at(dot.position - QPointF(size.width() / 2, size.height() / 2), size);
            painter.setOpacity(opacity * dot.alpha);
            if (picture.isNull())
                painter.drawEllipse(at);
            else
                painter.drawImage(at, picture);
        }
        painter.setOpacity(opacity);
        break;
    }
    case Layer::Type::text: {
        if (p.string.isEmpty() || !visible(p.foregroundColor))
            break;
        QFont font = layer.font;
        font.setPixelSize(std::max(1, int(std::lround(p.fontSize))));
        upright(painter, r, [&](const QRectF& at) {
            const QString text =
                layer.truncateEnd ? QFontMetricsF(font).elidedText(p.string, Qt::ElideRight, at.width()) : p.string;
            painter.setFont(font);
            painter.setPen(p.foregroundColor);
            painter.drawText(at, int(layer.alignment | Qt::AlignTop), text);
        });
        break;
    }
    }
    if (!empty)
        paintSublayers(painter, layer, t, opacity);
    painter.setOpacity(opacity);
    if (p.borderWidth > 0 && visible(p.borderColor)) {
        const double half = p.borderWidth / 2;
        const QPainterPath edge =
            roundedBox(r.adjusted(half, half, -half, -half), std::max(0.0, p.cornerRadius - half), layer.maskedCorners);
        const QPen pen(p.borderColor, p.borderWidth);
        paintPath(painter, edge, p.borderColor, &pen);
    }
    painter.restore();
}

bool LayerRenderer::isStill(const Layer& layer) {
    if (!layer.animations().isEmpty() || !layer.offset.isNull() || layer.type == Layer::Type::emitter)
        return false;
    for (const LayerPtr& sub : layer.sublayers())
        if (!isStill(*sub))
            return false;
    return true;
}

QRectF LayerRenderer::contentsRect(const Layer& layer, const Props& p) {
    return placeContents(layer.contents.deviceIndependentSize(), QRectF(p.bounds.topLeft(), p.bounds.size()),
                         layer.contentsGravity);
}

QRectF LayerRenderer::extent(const Layer& layer, double t) {
    const Props p = presentation(layer, t);
    return placement(layer, p).mapRect(ownExtent(layer, p, t));
}

QRectF LayerRenderer::ownExtent(const Layer& layer, const Props& p, double t) {
    QRectF r(p.bounds.topLeft(), p.bounds.size());
    if (layer.type == Layer::Type::shape && !layer.path.isEmpty()) {
        const double pad = p.lineWidth;
        r |= layer.path.controlPointRect().adjusted(-pad, -pad, pad, pad);
    }
    if (!layer.contents.isNull())
        r |= placeContents(layer.contents.deviceIndependentSize(), QRectF(p.bounds.topLeft(), p.bounds.size()),
                           layer.contentsGravity);
    if (layer.type == Layer::Type::emitter)
        for (const Particle& dot : particles(layer, t)) {
            const QImage& picture = layer.cells.at(dot.cell).contents;
            const QSizeF size = (picture.isNull() ? QSizeF(1, 1) : picture.deviceIndependentSize()) * dot.scale;
            r |= QRectF(dot.position - QPointF(size.width() / 2, size.height() / 2), size);
        }
    if (!layer.masksToBounds)
        for (const LayerPtr& sub : layer.sublayers())
            r |= extent(*sub, t);
    if (p.shadowOpacity > 0) {
        const double m = 1.5 * p.shadowRadius + 2;
        r |= r.adjusted(-m, -m, m, m).translated(p.shadowOffset);
    }
    return r;
}

void LayerRenderer::paintSublayers(QPainter& painter, const Layer& layer, double t, double opacity) {
    const QList<LayerPtr>& subs = layer.sublayers();
    if (buildingShadow || buildingStill) {
        for (const LayerPtr& sub : subs)
            paintLayer(painter, *sub, t, opacity, !buildingShadow);
        return;
    }
    // Sublayers that nothing moves are painted once into a picture and then only copied: a window
    // tile's dozen fills become one.
    qsizetype i = 0;
    while (i < subs.size()) {
        qsizetype end = i;
        int count = 0;
        while (end < subs.size() && isStill(*subs.at(end))) {
            count += 1 + int(subs.at(end)->sublayers().size());
            // Laying out text costs more than copying a picture of it, even for one small chip.
            if (subs.at(end)->type == Layer::Type::text ||
                std::any_of(subs.at(end)->sublayers().begin(), subs.at(end)->sublayers().end(),
                            [](const LayerPtr& sub) { return sub->type == Layer::Type::text; }))
                count += 3;
            ++end;
        }
        if (end == i) {
            paintLayer(painter, *subs.at(i), t, opacity, true);
            ++i;
            continue;
        }
        if (count < 3 || !paintStill(painter, layer, i, end, t, opacity))
            for (qsizetype k = i; k < end; ++k)
                paintLayer(painter, *subs.at(k), t, opacity, true);
        i = end;
    }
}

bool LayerRenderer::paintStill(QPainter& painter, const Layer& layer, qsizetype from, qsizetype to, double t,
                               double opacity) {
    const double raw = std::sqrt(std::abs(painter.deviceTransform().determinant()));
    // Few sizes, so a layer that springs up does not draw a picture at every step of the way.
    double scale = 4;
    for (const double step : {0.25, 0.5, 1.0, 2.0, 3.0})
        if (raw <= step * 1.02) {
            scale = step;
            break;
        }
    const QString run = QString::number(quintptr(&layer)) + u'/' + QString::number(from) + u'-' + QString::number(to);
    const auto keyAt = [&run](double step) { return run + u'@' + QString::number(step); };
    const double exact = scale;
    if (!stills.contains(keyAt(scale)) && turning(u'R' + run, painter.deviceTransform()))
        // While it springs, a picture a size or so off does, rather than a new one every few frames.
        for (const double step : {0.25, 0.5, 1.0, 2.0, 3.0, 4.0})
            if (step >= raw / 1.25 && stills.contains(keyAt(step))) {
                scale = step;
                break;
            }
    auto it = stills.find(keyAt(scale));
    if (it == stills.end()) {
        QRectF area;
        for (qsizetype k = from; k < to; ++k)
            area |= extent(*layer.sublayers().at(k), t);
        area = area.toAlignedRect();
        const QSize pixels(int(std::ceil(area.width() * scale)), int(std::ceil(area.height() * scale)));
        if (pixels.isEmpty() || qint64(pixels.width()) * pixels.height() > 2048 * 2048)
            return false;
        if (stills.size() > 64)
            stills.clear();
        QImage picture(pixels, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        {
            QPainter q(&picture);
            q.setRenderHint(QPainter::Antialiasing);
            q.setRenderHint(QPainter::SmoothPixmapTransform);
            q.scale(scale, scale);
            q.translate(-area.x(), -area.y());
            buildingStill = true;
            for (qsizetype k = from; k < to; ++k)
                paintLayer(q, *layer.sublayers().at(k), t, 1.0, true);
            buildingStill = false;
        }
        it = stills.insert(keyAt(scale), Still{picture, area.topLeft(), scale});
    }
    const Still& still = *it;
    const auto draw = [&still](QPainter& q) {
        q.translate(still.origin);
        q.scale(1 / still.scale, 1 / still.scale);
        q.drawImage(QPointF(0, 0), still.image);
    };
    const QRectF local(still.origin, QSizeF(still.image.size()) / still.scale);
    if (paintSnapshot(painter, u'R' + run, local, opacity, draw, scale == exact))
        return true;
    painter.save();
    painter.setOpacity(opacity);
    draw(painter);
    painter.restore();
    return true;
}

void LayerRenderer::paintMasked(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity) {
    const QRectF r(p.bounds.topLeft(), p.bounds.size());
    const QTransform device = painter.deviceTransform();
    QRect area = device.mapRect(r).toAlignedRect();
    if (const QPaintDevice* target = painter.device())
        area &= QRect(0, 0, int(target->width() * target->devicePixelRatioF()),
                      int(target->height() * target->devicePixelRatioF()));
    if (painter.hasClipping())
        area &= device.mapRect(painter.clipBoundingRect()).toAlignedRect().adjusted(-1, -1, 1, 1);
    if (area.isEmpty())
        return;
    QImage layerImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    layerImage.fill(Qt::transparent);
    {
        QPainter q(&layerImage);
        q.setRenderHint(QPainter::Antialiasing);
        q.setRenderHint(QPainter::SmoothPixmapTransform);
        q.setTransform(device * QTransform::fromTranslate(-area.x(), -area.y()));
        paintOwn(q, layer, p, t, 1.0);
        q.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        paintLayer(q, *layer.mask, t, 1.0, false);
    }
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.save();
    painter.setWorldTransform(QTransform());
    painter.setOpacity(opacity);
    painter.drawImage(QRectF(area.x() / dpr, area.y() / dpr, area.width() / dpr, area.height() / dpr), layerImage);
    painter.restore();
}

void LayerRenderer::paintShadow(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity) {
    const QTransform device = painter.deviceTransform();
    const double raw = std::sqrt(std::abs(device.determinant()));
    double scale = std::clamp(std::round(raw * 4) / 4, 0.25, 4.0);
    const double exact = scale;
    const QRectF r(p.bounds.topLeft(), p.bounds.size());
    const QString base = QString::number(quintptr(&layer)) + u':' + QString::number(r.width()) + u'x' +
                         QString::number(r.height()) + u':' + QString::number(p.shadowRadius) + u':' +
                         QString::number(p.shadowColor.rgba());
    const auto keyAt = [&base](double step) { return base + u'@' + QString::number(step); };
    // Its copy in screen pixels also depends on where the shadow falls.
    const QString copy =
        u'S' + base + u'+' + QString::number(p.shadowOffset.x()) + u',' + QString::number(p.shadowOffset.y());
    if (!shadows.contains(keyAt(scale)) && turning(copy, device)) {
        // A blur looks the same a little larger or smaller: while the layer springs, the nearest
        // one blurred so far does.
        double best = 0;
        for (int k = 1; k <= 16; ++k)
            if (shadows.contains(keyAt(k / 4.0)) && (best == 0 || std::abs(k / 4.0 - raw) < std::abs(best - raw)))
                best = k / 4.0;
        if (best > 0 && best >= raw / 1.5 && best <= raw * 1.5)
            scale = best;
    }
    const QString key = keyAt(scale);
    auto it = shadows.find(key);
    if (it == shadows.end()) {
        // Three box passes reach about 1.5 radii out.
        const double margin = 1.5 * p.shadowRadius + 2;
        const QRectF area = r.adjusted(-margin, -margin, margin, margin);
        const QSize pixels(int(std::ceil(area.width() * scale)), int(std::ceil(area.height() * scale)));
        if (pixels.isEmpty() || pixels.width() > 4096 || pixels.height() > 4096)
            return;
        QImage alpha(pixels, QImage::Format_ARGB32_Premultiplied);
        alpha.fill(Qt::transparent);
        {
            QPainter q(&alpha);
            q.setRenderHint(QPainter::Antialiasing);
            q.scale(scale, scale);
            q.translate(-area.x(), -area.y());
            buildingShadow = true;
            paintOwn(q, layer, p, t, 1.0);
            buildingShadow = false;
        }
        QImage mask = alpha.convertToFormat(QImage::Format_Alpha8);
        blurAlpha(mask, p.shadowRadius * scale);
        QImage tinted(pixels, QImage::Format_ARGB32_Premultiplied);
        QColor solid = p.shadowColor;
        solid.setAlpha(255);
        tinted.fill(solid);
        {
            QPainter q(&tinted);
            q.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            q.drawImage(0, 0, mask);
        }
        it = shadows.insert(key, Shadow{tinted, area.topLeft(), scale});
    }
    const Shadow& shadow = *it;
    const auto draw = [&shadow, &p](QPainter& q) {
        q.translate(p.shadowOffset);
        q.translate(shadow.origin);
        q.scale(1 / shadow.scale, 1 / shadow.scale);
        // A blur has no edges to smooth: the nearest pixel looks the same and costs far less when turned.
        q.setRenderHint(QPainter::SmoothPixmapTransform, false);
        q.drawImage(QPointF(0, 0), shadow.image);
    };
    const double alpha = opacity * std::clamp(p.shadowOpacity, 0.0, 1.0) * p.shadowColor.alphaF();
    const QRectF local(shadow.origin + p.shadowOffset, QSizeF(shadow.image.size()) / shadow.scale);
    if (paintSnapshot(painter, copy, local, alpha, draw, scale == exact))
        return;
    painter.save();
    painter.setOpacity(alpha);
    draw(painter);
    painter.restore();
}

bool LayerRenderer::onlyGlides(const Layer& layer) {
    if (layer.type == Layer::Type::emitter)
        return false;
    const auto moves = [](const Animation& a, const auto& self) -> bool {
        if (a.kind == Animation::Kind::group)
            return std::all_of(a.animations.begin(), a.animations.end(),
                               [&](const Animation& sub) { return self(sub, self); });
        return a.keyPath == u"position" || a.keyPath == u"position.x" || a.keyPath == u"position.y" ||
               a.keyPath == u"opacity";
    };
    for (const auto& [key, animation] : layer.animations())
        if (!moves(animation, moves))
            return false;
    for (const LayerPtr& sub : layer.sublayers())
        if (!isStill(*sub))
            return false;
    return true;
}

bool LayerRenderer::turning(const QString& key, const QTransform& device) const {
    const auto it = snapshots.constFind(key);
    if (it == snapshots.cend() || !it->seen)
        return false;
    const QTransform& m = it->lastLinear;
    return std::max({std::abs(m.m11() - device.m11()), std::abs(m.m12() - device.m12()),
                     std::abs(m.m21() - device.m21()), std::abs(m.m22() - device.m22())}) > 1e-4;
}

bool LayerRenderer::paintSnapshot(QPainter& painter, const QString& key, const QRectF& local, double opacity,
                                  const std::function<void(QPainter&)>& draw, bool exact) {
    if (!copyGliding || buildingShadow || buildingStill || buildingSnapshot || local.isEmpty())
        return false;
    const QTransform device = painter.deviceTransform();
    if (!device.isAffine())
        return false;
    const QTransform linear(device.m11(), device.m12(), device.m21(), device.m22(), 0, 0);
    const QRectF spread = linear.mapRect(local);
    // Turns and scales closer than a fifth of a pixel at the picture's far edge count as the same.
    const double reach = std::max({std::abs(spread.left()), std::abs(spread.right()), std::abs(spread.top()),
                                   std::abs(spread.bottom())});
    const auto same = [&](const QTransform& m) {
        const double d = std::max({std::abs(m.m11() - linear.m11()), std::abs(m.m12() - linear.m12()),
                                   std::abs(m.m21() - linear.m21()), std::abs(m.m22() - linear.m22())});
        return d * reach < 0.2;
    };
    // How much larger than under m the picture is now, when that is all that changed; 0 otherwise.
    const auto grownFrom = [&](const QTransform& m) {
        const double was = std::sqrt(std::abs(m.determinant()));
        if (was <= 0)
            return 0.0;
        const double k = std::sqrt(std::abs(linear.determinant())) / was;
        const double d = std::max({std::abs(k * m.m11() - linear.m11()), std::abs(k * m.m12() - linear.m12()),
                                   std::abs(k * m.m21() - linear.m21()), std::abs(k * m.m22() - linear.m22())});
        return d * reach < 0.2 ? k : 0.0;
    };
    if (snapshots.size() > 256 && !snapshots.contains(key))
        snapshots.clear();
    Snapshot& shot = snapshots[key];
    const bool steady = shot.seen && same(shot.lastLinear);
    // Growing or shrinking in place, as a layer springing up does, rather than turning.
    const bool springing = !steady && shot.seen && grownFrom(shot.lastLinear) > 0;
    shot.lastLinear = linear;
    shot.seen = true;
    // Small pictures are drawn afresh: a copy would save next to nothing.
    if (spread.width() * spread.height() < 64 * 64 || spread.width() > 2048 || spread.height() > 2048)
        return false;
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const bool fits = !shot.image.isNull() && same(shot.linear) && (shot.exact || !steady || !exact);
    if (!fits && !steady && !shot.image.isNull()) {
        // While it springs, the picture is stretched to the moment's size when that is close.
        const double k = grownFrom(shot.linear);
        if (k >= 0.7 && k <= 1.15) {
            const QPointF corner = k * (QPointF(shot.corner) - shot.fraction);
            painter.save();
            painter.setWorldTransform(QTransform(k / dpr, 0, 0, k / dpr, (corner.x() + device.dx()) / dpr,
                                                 (corner.y() + device.dy()) / dpr));
            painter.setOpacity(opacity);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QPointF(0, 0), shot.image);
            painter.restore();
            return true;
        }
    }
    if (!fits) {
        shot.image = QImage();
        // A layer that held its turn and scale since the last frame is worth a picture drawn at its
        // own size; one that springs, a picture to stretch over the next few frames.
        if (!(steady && exact) && !springing)
            return false;
        const QPointF fraction(device.dx() - std::floor(device.dx()), device.dy() - std::floor(device.dy()));
        const QRect area = spread.translated(fraction).toAlignedRect();
        QImage picture(area.size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        {
            QPainter q(&picture);
            q.setRenderHint(QPainter::Antialiasing);
            q.setRenderHint(QPainter::SmoothPixmapTransform);
            q.setTransform(linear * QTransform::fromTranslate(fraction.x() - area.x(), fraction.y() - area.y()));
            buildingSnapshot = true;
            draw(q);
            buildingSnapshot = false;
        }
        shot.image = picture;
        shot.linear = linear;
        shot.corner = area.topLeft();
        shot.fraction = fraction;
        shot.exact = exact && steady;
    }
    const QPoint at = shot.corner + QPoint(int(std::lround(device.dx() - shot.fraction.x())),
                                           int(std::lround(device.dy() - shot.fraction.y())));
    painter.save();
    painter.setWorldTransform(QTransform());
    painter.setOpacity(opacity);
    if (dpr == 1.0)
        painter.drawImage(at, shot.image);
    else
        painter.drawImage(QRectF(at.x() / dpr, at.y() / dpr, shot.image.width() / dpr, shot.image.height() / dpr),
                          shot.image);
    painter.restore();
    return true;
}

} // namespace tour
