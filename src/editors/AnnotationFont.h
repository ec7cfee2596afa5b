#pragma once
// Text of annotations as outlines of the bundled Inter faces: shaped once at a fixed size and
// scaled, so the screen, the written picture and hit testing all see the same glyphs at any
// fractional size. Paths are y-down with the baseline start at the origin. Main thread only.

#include <QPainterPath>
#include <QString>

namespace AnnotationFont {

// Outline of one line of text in Inter Medium (Bold when bold) at the size in pixels.
QPainterPath linePath(const QString& line, double size, bool bold = false);
// Advance width of the line at the size.
double lineWidth(const QString& line, double size);
double capHeight(double size, bool bold = false);

} // namespace AnnotationFont
