#pragma once
// One recognised line of text and the geometry helpers every text tool shares.
//
// Boxes are normalised to the picture (0 to 1 in both directions) with the origin at the lower
// left, so in a QRectF here y() is the box's bottom and y() + height() its top.

#include <QRectF>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace TextVision {

inline double minX(const QRectF& r) {
    return r.x();
}
inline double maxX(const QRectF& r) {
    return r.x() + r.width();
}
inline double minY(const QRectF& r) {
    return r.y();
}
inline double maxY(const QRectF& r) {
    return r.y() + r.height();
}
inline double midY(const QRectF& r) {
    return r.y() + r.height() / 2;
}

// Smallest rectangle holding both; unlike QRectF::united it keeps a zero-sized rectangle's position.
QRectF unionOf(const QRectF& a, const QRectF& b);

// What the recogniser knows about one line beyond its text: where each character stands, so that
// any range of the text can be boxed (redaction, word boxes).
class Candidate {
public:
    // unitBoxes holds one normalised box per UTF-16 unit of text; an empty box marks a unit that
    // has no place of its own (the spaces between words).
    Candidate(QString text, std::vector<QRectF> unitBoxes);

    const QString& string() const { return text; }

    // The union of the boxes of the characters in [start, start + length) (UTF-16 units), or
    // nothing when the range lies outside the text, splits a surrogate pair, or covers no
    // character with a box.
    std::optional<QRectF> boundingBox(qsizetype start, qsizetype length) const;

private:
    QString text;
    std::vector<QRectF> unitBoxes;
};

struct Line {
    QString text;
    QRectF box;
    std::shared_ptr<const Candidate> candidate;
    // The picture's width over its height, so a horizontal gap can be weighed against a line's
    // height; 1 where the picture is not known.
    double aspect = 1;
};

using Block = std::vector<Line>;

} // namespace TextVision
