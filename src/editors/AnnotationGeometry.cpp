#include "editors/AnnotationGeometry.h"

#include "editors/AnnotationFont.h"
#include "editors/PictureRects.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

using namespace Annotation;
namespace R = PictureRects;

namespace AnnotationGeometry {

namespace {

template <class... F> struct Overload : F... { using F::operator()...; };
template <class... F> Overload(F...) -> Overload<F...>;

QRectF span(QPointF a, QPointF b) {
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
}

QRectF pointsBox(const QList<QPointF>& points) {
    if (points.isEmpty())
        return R::null();
    double left = points.first().x(), right = left, low = points.first().y(), high = low;
    for (const QPointF& q : points) {
        left = std::min(left, q.x()), right = std::max(right, q.x());
        low = std::min(low, q.y()), high = std::max(high, q.y());
    }
    return QRectF(left, low, right - left, high - low);
}

double segmentDistance(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a;
    const double len2 = QPointF::dotProduct(ab, ab);
    double t = len2 > 0 ? QPointF::dotProduct(p - a, ab) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return QLineF(p, a + t * ab).length();
}

// Picture rectangles keep y up: "top" is the larger y, which QRectF calls bottom().
double minY(const QRectF& r) {
    return r.top();
}
double maxY(const QRectF& r) {
    return r.bottom();
}

} // namespace

double textSize(double width) {
    return std::max(14 * width, 28.0);
}
double numberRadius(double width) {
    return 0.75 * std::max(7 * width, 12.0);
}

TextLayout textLayout(const QString& text, double size) {
    TextLayout layout;
    layout.lines = text.split(QLatin1Char('\n'));
    double widest = 0;
    for (const QString& line : layout.lines)
        widest = std::max(widest, AnnotationFont::lineWidth(line, size));
    layout.width = std::max(widest, 10.0);
    layout.lineH = 1.2 * size;
    return layout;
}

QRectF bounds(const Kind& kind, double width) {
    return std::visit(Overload{
                          [](const Arrow& k) { return span(k.tail, k.head); },
                          [](const Line& k) { return span(k.start, k.end); },
                          [](const Box& k) { return k.rect; },
                          [](const Ellipse& k) { return k.rect; },
                          [](const Blur& k) { return k.rect; },
                          [](const Signature& k) { return k.rect; },
                          [](const Pen& k) { return pointsBox(k.points); },
                          [](const Highlight& k) { return pointsBox(k.points); },
                          [](const Marker& k) {
                              QRectF out = R::null();
                              for (const QRectF& r : k.rects)
                                  out = R::unite(out, r.normalized());
                              return out;
                          },
                          [width](const Text& k) {
                              const TextLayout layout = textLayout(k.text, textSize(width));
                              const double n = double(layout.lines.size());
                              return QRectF(k.anchor.x(), k.anchor.y() + 0.5 * layout.lineH - n * layout.lineH,
                                            layout.width, n * layout.lineH);
                          },
                          [width](const Number& k) {
                              const double r = numberRadius(width);
                              return QRectF(k.centre.x() - r, k.centre.y() - r, 2 * r, 2 * r);
                          },
                      },
                      kind);
}

std::optional<int> hit(const std::vector<Shape>& shapes, QPointF p, int pictureHeight, double defaultWidth) {
    const double t = 6 + 6.0 * pictureHeight / 300;
    for (int i = int(shapes.size()) - 1; i >= 0; --i) {
        const Shape& shape = shapes[size_t(i)];
        const double width = shape.width > 0 ? shape.width : defaultWidth;
        bool on = false;
        if (auto* a = std::get_if<Arrow>(&shape.kind)) {
            on = segmentDistance(p, a->tail, a->head) <= t;
        } else if (auto* l = std::get_if<Line>(&shape.kind)) {
            on = segmentDistance(p, l->start, l->end) <= t;
        } else if (std::holds_alternative<Box>(shape.kind) || std::holds_alternative<Ellipse>(shape.kind)) {
            const QRectF rect = bounds(shape.kind, width).normalized();
            on = R::contains(R::inset(rect, -t, -t), p);
            const QRectF inner = R::inset(rect, t, t);
            if (on && !shape.filled && !R::isNull(inner) && inner.width() > 0 && inner.height() > 0)
                on = !R::contains(inner, p);
        } else {
            on = R::contains(R::inset(bounds(shape.kind, width), -t, -t), p);
        }
        if (on)
            return i;
    }
    return std::nullopt;
}

std::array<QPointF, 8> handles(const QRectF& b) {
    const double midX = b.center().x(), midY = b.center().y();
    return {QPointF(b.left(), maxY(b)), QPointF(b.right(), maxY(b)), QPointF(b.right(), minY(b)),
            QPointF(b.left(), minY(b)), QPointF(midX, maxY(b)),      QPointF(b.right(), midY),
            QPointF(midX, minY(b)),     QPointF(b.left(), midY)};
}

std::optional<int> handleHit(const Shape& shape, QPointF p, double s, double defaultWidth) {
    const auto near = [&](QPointF q, double d) { return QLineF(p, q).length() <= d; };
    if (auto* a = std::get_if<Arrow>(&shape.kind)) {
        if (near(a->tail, 14 / s))
            return startHandle;
        if (near(a->head, 14 / s))
            return endHandle;
        return std::nullopt;
    }
    if (auto* l = std::get_if<Line>(&shape.kind)) {
        if (near(l->start, 14 / s))
            return startHandle;
        if (near(l->end, 14 / s))
            return endHandle;
        return std::nullopt;
    }
    const double width = shape.width > 0 ? shape.width : defaultWidth;
    const QRectF b = R::inset(bounds(shape.kind, width), -handlePad, -handlePad);
    if (R::isNull(b))
        return std::nullopt;
    const auto corners = handles(b);
    for (int i = 0; i < 4; ++i)
        if (std::abs(p.x() - corners[size_t(i)].x()) <= 12 / s && std::abs(p.y() - corners[size_t(i)].y()) <= 12 / s)
            return i;
    const double e = 6 / s;
    const bool inX = b.left() - e <= p.x() && p.x() <= b.right() + e;
    const bool inY = minY(b) - e <= p.y() && p.y() <= maxY(b) + e;
    if (inX && std::abs(p.y() - maxY(b)) <= e)
        return 4;
    if (inY && std::abs(p.x() - b.right()) <= e)
        return 5;
    if (inX && std::abs(p.y() - minY(b)) <= e)
        return 6;
    if (inY && std::abs(p.x() - b.left()) <= e)
        return 7;
    return std::nullopt;
}

Kind moved(const Kind& kind, QPointF d) {
    return std::visit(Overload{
                          [d](const Arrow& k) -> Kind {
                              return Arrow{k.tail + d, k.head + d};
                          },
                          [d](const Line& k) -> Kind {
                              return Line{k.start + d, k.end + d};
                          },
                          [d](const Box& k) -> Kind { return Box{k.rect.translated(d)}; },
                          [d](const Ellipse& k) -> Kind { return Ellipse{k.rect.translated(d)}; },
                          [d](const Blur& k) -> Kind { return Blur{k.rect.translated(d)}; },
                          [d](const Signature& k) -> Kind { return Signature{k.rect.translated(d)}; },
                          [d](const Pen& k) -> Kind {
                              Pen out{k.points};
                              for (QPointF& q : out.points)
                                  q += d;
                              return out;
                          },
                          [d](const Highlight& k) -> Kind {
                              Highlight out{k.points};
                              for (QPointF& q : out.points)
                                  q += d;
                              return out;
                          },
                          [d](const Marker& k) -> Kind {
                              Marker out{k.rects};
                              for (QRectF& r : out.rects)
                                  r.translate(d);
                              return out;
                          },
                          [d](const Text& k) -> Kind {
                              return Text{k.text, k.anchor + d};
                          },
                          [d](const Number& k) -> Kind {
                              return Number{k.n, k.centre + d};
                          },
                      },
                      kind);
}

QRectF resizedBox(const QRectF& box, int handle, QPointF p) {
    double left = box.left(), right = box.right(), low = minY(box), high = maxY(box);
    if (handle == 0 || handle == 3 || handle == 7)
        left = p.x();
    if (handle == 1 || handle == 2 || handle == 5)
        right = p.x();
    if (handle == 0 || handle == 1 || handle == 4)
        high = p.y();
    if (handle == 2 || handle == 3 || handle == 6)
        low = p.y();
    return QRectF(std::min(left, right), std::min(low, high), std::max(std::abs(right - left), 2.0),
                  std::max(std::abs(high - low), 2.0));
}

QRectF unpadded(const QRectF& b) {
    const double dx = std::min(handlePad, b.width() / 2), dy = std::min(handlePad, b.height() / 2);
    return QRectF(b.x() + dx, b.y() + dy, b.width() - 2 * dx, b.height() - 2 * dy);
}

Kind fitted(const Kind& kind, const QRectF& from, const QRectF& to) {
    const double sx = from.width() > 0 ? to.width() / from.width() : 1;
    const double sy = from.height() > 0 ? to.height() / from.height() : 1;
    const auto map = [&](QPointF q) {
        return QPointF(to.left() + (q.x() - from.left()) * sx, minY(to) + (q.y() - minY(from)) * sy);
    };
    return std::visit(Overload{
                          [&](const Arrow& k) -> Kind {
                              return Arrow{map(k.tail), map(k.head)};
                          },
                          [&](const Line& k) -> Kind {
                              return Line{map(k.start), map(k.end)};
                          },
                          [&](const Pen& k) -> Kind {
                              Pen out{k.points};
                              for (QPointF& q : out.points)
                                  q = map(q);
                              return out;
                          },
                          [&](const Highlight& k) -> Kind {
                              Highlight out{k.points};
                              for (QPointF& q : out.points)
                                  q = map(q);
                              return out;
                          },
                          [&](const Marker& k) -> Kind {
                              Marker out{k.rects};
                              for (QRectF& r : out.rects)
                                  r = QRectF(map(r.topLeft()), QSizeF(r.width() * sx, r.height() * sy));
                              return out;
                          },
                          [&](const Box&) -> Kind { return Box{to}; },
                          [&](const Ellipse&) -> Kind { return Ellipse{to}; },
                          [&](const Blur&) -> Kind { return Blur{to}; },
                          [&](const Number& k) -> Kind {
                              return Number{k.n, to.center()};
                          },
                          [&](const Text& k) -> Kind {
                              const double n = std::max<qsizetype>(1, k.text.split(QLatin1Char('\n')).size());
                              return Text{k.text, QPointF(to.left(), maxY(to) - 0.5 * to.height() / n)};
                          },
                          [&](const Signature&) -> Kind {
                              const double a = from.width() != 0 ? from.height() / from.width() : 1;
                              double w, h;
                              if (std::abs(to.width() / std::max(from.width(), 1.0) - 1) >=
                                  std::abs(to.height() / std::max(from.height(), 1.0) - 1)) {
                                  w = to.width();
                                  h = w * a;
                              } else {
                                  h = to.height();
                                  w = h / std::max(a, 0.001);
                              }
                              const double x = std::abs(to.left() - from.left()) < 0.5 ? to.left() : to.right() - w;
                              const double y = std::abs(minY(to) - minY(from)) < 0.5 ? minY(to) : maxY(to) - h;
                              return Signature{QRectF(x, y, w, h)};
                          },
                      },
                      kind);
}

std::vector<QRectF> snap(const QList<QPointF>& path, const std::vector<std::vector<QRectF>>& wordLines) {
    std::vector<QRectF> result;
    if (wordLines.empty() || path.size() < 2)
        return result;
    std::vector<QPointF> dense;
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        const QPointF a = path[i], b = path[i + 1];
        const double d = QLineF(a, b).length();
        // A segment of absurd length would make absurdly many samples; words are never that wide.
        const int k = int(std::clamp(std::floor(d / 3), 1.0, 100000.0));
        for (int j = 0; j < k; ++j)
            dense.push_back(a + (double(j) / k) * (b - a));
    }
    dense.push_back(path.last());
    QRectF box = R::null();
    for (const QPointF& q : dense)
        box = R::unite(box, R::pointRect(q));
    for (const auto& line : wordLines) {
        if (line.empty())
            continue;
        QRectF whole = R::null();
        for (const QRectF& word : line)
            whole = R::unite(whole, word);
        if (!R::intersects(R::inset(whole, -4, -0.4 * whole.height()), box))
            continue;
        QRectF kept = R::null();
        for (const QRectF& word : line) {
            const QRectF grown = R::inset(word, -0.15 * word.height(), -0.25 * word.height());
            if (std::any_of(dense.begin(), dense.end(), [&](const QPointF& q) { return R::contains(grown, q); }))
                kept = R::unite(kept, word);
        }
        if (!R::isNull(kept))
            result.push_back(R::inset(kept, -0.1 * kept.height(), -0.12 * kept.height()));
    }
    return result;
}

} // namespace AnnotationGeometry
