#pragma once
// The marks a user puts on a picture: each shape's geometry, colour and width, and the tools
// that draw them. Geometry is in picture pixels with the origin at the lower-left corner, y up.

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace Annotation {

// A colour as stored in records: sRGB red, green, blue and alpha kept as the doubles they were
// written with, so a record reads back exactly.
struct Color {
    double r = 0, g = 0, b = 0, a = 1;

    QColor qcolor() const;
    static Color from(const QColor& color);
    bool operator==(const Color&) const = default;
};

struct Arrow {
    QPointF tail, head;
    bool operator==(const Arrow&) const = default;
};
struct Line {
    QPointF start, end;
    bool operator==(const Line&) const = default;
};
struct Box {
    QRectF rect;
    bool operator==(const Box&) const = default;
};
struct Ellipse {
    QRectF rect;
    bool operator==(const Ellipse&) const = default;
};
struct Pen {
    QList<QPointF> points;
    bool operator==(const Pen&) const = default;
};
struct Highlight {
    QList<QPointF> points;
    bool operator==(const Highlight&) const = default;
};
// The word rectangles a text-highlighter stroke snapped to.
struct Marker {
    QList<QRectF> rects;
    bool operator==(const Marker&) const = default;
};
struct Blur {
    QRectF rect;
    bool operator==(const Blur&) const = default;
};
// The anchor is the left end of the first line, half the cap height above its baseline.
struct Text {
    QString text;
    QPointF anchor;
    bool operator==(const Text&) const = default;
};
struct Number {
    qint64 n = 0;
    QPointF centre;
    bool operator==(const Number&) const = default;
};
struct Signature {
    QRectF rect;
    bool operator==(const Signature&) const = default;
};

using Kind = std::variant<Arrow, Line, Box, Ellipse, Pen, Highlight, Marker, Blur, Text, Number, Signature>;

struct Shape {
    Kind kind;
    Color color;
    double width = 2;    // stroke width in picture pixels; every other size derives from it
    bool filled = false; // read by box and ellipse only
    QImage image;        // the signature's picture; null for every other kind

    bool operator==(const Shape& other) const {
        return kind == other.kind && color == other.color && width == other.width && filled == other.filled &&
               image.cacheKey() == other.image.cacheKey();
    }
};

enum class Tool { Select, Arrow, Line, Box, Ellipse, Pen, Highlight, Marker, Blur, Text, Number };

// The tool's name ("select", "arrow", ...), and the tool of a name, exactly as spelled.
QString rawValue(Tool tool);
std::optional<Tool> toolFromRawValue(const QString& name);

// The twelve drawing colours; 0 is the default of new shapes, 1 the text highlighter's.
const std::vector<Color>& palette();
Color white();
Color black();
// The canvas's colour before the window picks one.
Color systemRed();
// True when every component differs by less than 0.01.
bool sameColor(const Color& a, const Color& b);
// The first palette colour that matches, else the colour itself.
Color paletteMatch(const Color& color);

// One unit of thickness in picture pixels for a picture this many pixels high.
double strokeUnit(int pictureHeight);

} // namespace Annotation
