#include "card/CardGeometry.h"

#include <algorithm>
#include <cmath>

namespace CardGeometry {

namespace {

// A stored size setting that is not a number counts as the smallest size, as below the slider's range.
double sane(double sizeScale) {
    return std::isnan(sizeScale) ? 0.5 : sizeScale;
}

// Half-open, so a point on the seam between two screens belongs to one of them only.
bool holds(const QRectF& frame, QPointF p) {
    return p.x() >= frame.left() && p.x() < frame.right() && p.y() >= frame.top() && p.y() < frame.bottom();
}

} // namespace

QSizeF maxImage(double sizeScale) {
    const double v = sane(sizeScale);
    if (v == 0)
        return {320, 208};
    if (v > 1.2)
        return {480, 312};
    const double f = std::max(v, 0.5);
    return {400 * f, 260 * f};
}

double thinWidthLimit(double sizeScale) {
    const double v = sane(sizeScale);
    double f = v;
    if (v == 0)
        f = 0.8;
    else if (v > 1.2)
        f = 1.2;
    else if (v < 0.5)
        f = 0.5;
    return 760 * f;
}

double pillHeight(double barScale) {
    return pillBaseHeight * barScale;
}

double pillWidth(std::optional<double> rowWidth) {
    return rowWidth ? *rowWidth + pillPadding : rowlessPillWidth;
}

QSizeF shownSize(QSizeF picture, QSizeF box, bool large, double sizeScale) {
    const double w = picture.width(), h = picture.height();
    double scale = std::min(box.width() / std::max(1.0, w), box.height() / std::max(1.0, h));
    scale = std::min(scale, large ? 3.0 : 1.0);
    if (h * scale < minShownHeight)
        scale =
            std::max(scale, std::min(minShownHeight / std::max(1.0, h), thinWidthLimit(sizeScale) / std::max(1.0, w)));
    // std::round rounds halves away from zero.
    return {std::round(w * scale), std::max(1.0, std::round(h * scale))};
}

Layout layout(const Input& in) {
    Layout out;
    out.pillOnly = in.pillOnly;
    out.pillHeight = pillHeight(in.barScale);
    out.shown = shownSize(in.picture, in.imageBox, in.large, in.sizeScale);
    out.content = out.shown;
    if (in.side)
        out.content = QSizeF(out.shown.width() + sideGap + sideWidth, std::max(sideMinHeight, out.shown.height()));

    const double pw = pillWidth(in.rowWidth);
    if (in.pillOnly)
        out.card = QSizeF((pw > 0 ? pw : 0) + 2 * margin, out.pillHeight + 2 * margin);
    else
        out.card = QSizeF(std::max(pw, out.content.width()) + 2 * margin,
                          out.content.height() + out.pillHeight + gap + 2 * margin);

    // The rules measure y from the card's bottom; turned around here with the card's height.
    const double cardHeight = out.card.height();
    const auto fromBottom = [cardHeight](double x, double y, double w, double h) {
        return QRectF(x, cardHeight - y - h, w, h);
    };
    const double x = (out.card.width() - out.content.width()) / 2;
    const double contentBottom = margin + out.pillHeight + gap;
    // The picture sits at the bottom of the content, just above its pill; a taller side panel reaches up past it.
    out.imageRect = fromBottom(x, contentBottom, out.shown.width(), out.shown.height());
    out.sideRect = fromBottom(x + out.shown.width() + sideGap, contentBottom, sideWidth, out.content.height());
    out.pill = fromBottom((out.card.width() - pw) / 2, margin, pw, out.pillHeight);
    return out;
}

QSize windowSize(const Layout& layout) {
    return {int(std::ceil(layout.card.width())), int(std::ceil(layout.card.height()))};
}

QRectF hoverPill(const Layout& layout, double labelWidth) {
    const double width = labelWidth + 18;
    return {layout.pill.center().x() - width / 2, layout.pill.top() - 6 - hoverPillHeight, width, hoverPillHeight};
}

QRectF hoverLabel(QRectF pill, double labelHeight) {
    return {9, (hoverPillHeight - labelHeight) / 2, pill.width() - 18, labelHeight};
}

QRectF closeButton(const Layout& layout) {
    const QRectF& image = layout.imageRect;
    return {image.right() - closeSize / 2, image.top() - closeSize / 2, closeSize, closeSize};
}

QRectF badge(const Layout& layout, double labelWidth) {
    const QRectF& image = layout.imageRect;
    const double width = labelWidth + 12;
    return {image.right() - width, image.bottom() + 5, width, badgeHeight};
}

QRectF pageBar(const Layout& layout) {
    return {layout.imageRect.left(), layout.imageRect.bottom() + 4, pageBarWidth, pageBarHeight};
}

QRectF unitBoxInImage(QRectF unit, QRectF image) {
    return {image.left() + unit.x() * image.width(), image.bottom() - (unit.y() + unit.height()) * image.height(),
            unit.width() * image.width(), unit.height() * image.height()};
}

std::optional<Screen> screenAt(QPointF point, const QList<Screen>& screens) {
    for (const Screen& screen : screens) {
        if (holds(screen.frame, point))
            return screen;
    }
    if (screens.isEmpty())
        return std::nullopt;
    return screens.first();
}

std::optional<Screen> screenMeeting(QRectF rect, const QList<Screen>& screens) {
    for (const Screen& screen : screens) {
        if (screen.frame.intersects(rect))
            return screen;
    }
    if (screens.isEmpty())
        return std::nullopt;
    return screens.first();
}

QPointF clampInto(QPointF topLeft, QSizeF size, QRectF available) {
    // Left and bottom bounds are applied last so that they win for a window larger than the area.
    const double x = std::max(available.left() + screenMargin,
                              std::min(available.right() - size.width() - screenMargin, topLeft.x()));
    const double y = std::min(available.bottom() - size.height() - screenMargin,
                              std::max(available.top() + screenMargin, topLeft.y()));
    return {x, y};
}

QPointF placeAt(QPointF point, QSizeF size, const QList<Screen>& screens) {
    const QPointF topLeft(point.x() - size.width() / 2, point.y() - size.height() / 2);
    const std::optional<Screen> screen = screenAt(point, screens);
    return screen ? clampInto(topLeft, size, screen->available) : topLeft;
}

QPointF pointForPictureOn(QRectF target, const Layout& layout, QSizeF windowSize) {
    return target.center() - layout.imageRect.center() + QPointF(windowSize.width() / 2, windowSize.height() / 2);
}

QPointF collapsedTopLeft(QRectF canvas, const Layout& layout) {
    return {canvas.center().x() - layout.pill.center().x(), canvas.bottom() + 32 - layout.pill.top()};
}

QPointF expandedTopLeft(QRectF canvas, const Layout& layout, QSizeF windowSize, const QList<Screen>& screens) {
    const QPointF topLeft = canvas.center() - layout.imageRect.center();
    const std::optional<Screen> screen = screenMeeting(canvas, screens);
    return screen ? clampInto(topLeft, windowSize, screen->available) : topLeft;
}

QPointF keepingPicture(QPointF pictureTopLeft, const Layout& after, QSizeF windowSize,
                       std::optional<QRectF> available) {
    const QPointF topLeft = pictureTopLeft - after.imageRect.topLeft();
    return available ? clampInto(topLeft, windowSize, *available) : topLeft;
}

QRectF resizedFrame(QRectF frame, QSizeF newSize) {
    return {frame.topLeft(), newSize};
}

} // namespace CardGeometry
