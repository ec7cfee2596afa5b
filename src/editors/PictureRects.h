#pragma once
// Rectangle rules of annotation geometry where QRectF behaves differently: a point-sized rectangle
// still widens a union, boxes that merely touch (or have no height) intersect, and shrinking a
// rectangle past nothing leaves the null rectangle. Rectangles here have non-negative sizes.

#include <QPointF>
#include <QRectF>

namespace PictureRects {

// The rectangle that stands for nothing; unions ignore it and it intersects and contains nothing.
QRectF null();
bool isNull(const QRectF& r);

QRectF unite(const QRectF& a, const QRectF& b);
QRectF pointRect(const QPointF& p);
// Edges that touch count; a null rectangle meets nothing.
bool intersects(const QRectF& a, const QRectF& b);
// The lower and left edges belong to the rectangle, the upper and right ones do not.
bool contains(const QRectF& r, const QPointF& p);
// Shrinks by dx on the left and right and dy at the top and bottom (negative values grow);
// a rectangle shrunk below nothing becomes null.
QRectF inset(const QRectF& r, double dx, double dy);

} // namespace PictureRects
