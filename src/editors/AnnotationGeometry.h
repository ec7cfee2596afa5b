#pragma once
// Where annotation shapes are, in picture pixels (origin lower left, y up): their boxes, what a
// click hits, the selection handles, moving and refitting shapes, and snapping a stroke to words.

#include "editors/Annotation.h"

#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>
#include <vector>

namespace AnnotationGeometry {

// Handles 0-3 are the corners from the top left clockwise, 4-7 the edge middles from the top
// clockwise (the top edge has the larger y); 100 and 101 the two ends of an arrow or line.
constexpr int startHandle = 100;
constexpr int endHandle = 101;
// How far the handle box stands off a shape's bounds, in picture pixels.
constexpr double handlePad = 6;

struct TextLayout {
    QStringList lines;
    double lineH = 0;
    double width = 0;
};
TextLayout textLayout(const QString& text, double size);
// Font size of a text shape and radius of a number's circle for a stroke width.
double textSize(double width);
double numberRadius(double width);

// The shape's box; width is its stroke width (already replaced by the default when not positive).
QRectF bounds(const Annotation::Kind& kind, double width);
// The topmost shape under the point; defaultWidth stands in for widths that are not positive.
std::optional<int> hit(const std::vector<Annotation::Shape>& shapes, QPointF p, int pictureHeight, double defaultWidth);
// The handle of the shape under the point, s being view pixels per picture pixel.
std::optional<int> handleHit(const Annotation::Shape& shape, QPointF p, double s, double defaultWidth);
std::array<QPointF, 8> handles(const QRectF& box);
Annotation::Kind moved(const Annotation::Kind& kind, QPointF offset);
QRectF resizedBox(const QRectF& box, int handle, QPointF p);
Annotation::Kind fitted(const Annotation::Kind& kind, const QRectF& from, const QRectF& to);
// The shape's handle box shrunk back to the shape's own box; a box too small to shrink by the whole
// pad keeps its centre and loses its size, so refitting onto it stays finite.
QRectF unpadded(const QRectF& handleBox);

// One rectangle per recognised line that the stroke touches, spanning the touched words.
std::vector<QRectF> snap(const QList<QPointF>& path, const std::vector<std::vector<QRectF>>& wordLines);

} // namespace AnnotationGeometry
