#include "editors/PictureRects.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace PictureRects {

QRectF null() {
    const double inf = std::numeric_limits<double>::infinity();
    return QRectF(inf, inf, 0, 0);
}

bool isNull(const QRectF& r) {
    return std::isinf(r.x()) || std::isinf(r.y());
}

QRectF unite(const QRectF& a, const QRectF& b) {
    if (isNull(a))
        return b;
    if (isNull(b))
        return a;
    const double left = std::min(a.left(), b.left()), top = std::min(a.top(), b.top());
    const double right = std::max(a.right(), b.right()), bottom = std::max(a.bottom(), b.bottom());
    return QRectF(left, top, right - left, bottom - top);
}

QRectF pointRect(const QPointF& p) {
    return QRectF(p, QSizeF(0, 0));
}

bool intersects(const QRectF& a, const QRectF& b) {
    if (isNull(a) || isNull(b))
        return false;
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

bool contains(const QRectF& r, const QPointF& p) {
    if (isNull(r))
        return false;
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

QRectF inset(const QRectF& r, double dx, double dy) {
    if (isNull(r))
        return r;
    const QRectF out(r.x() + dx, r.y() + dy, r.width() - 2 * dx, r.height() - 2 * dy);
    if (out.width() < 0 || out.height() < 0)
        return null();
    return out;
}

} // namespace PictureRects
