#pragma once
// Draws annotation shapes. The painter's user space is the picture's own pixel grid (y down, as
// QImage has it); shapes keep y up, so every coordinate is flipped here with the picture's height,
// never by mirroring the painter (text would come out mirrored). Raster painters only: the
// highlighters multiply what lies beneath them. Main thread only.

#include "editors/Annotation.h"

#include <QColor>
#include <QImage>

class QPainter;

namespace AnnotationRenderer {

// Halo behind a stroke: black at 0.5 behind white, white at 0.55 behind every other colour.
QColor haloColor(const Annotation::Color& color);
double haloWidth(double width);

// Draws one shape; picture is the unannotated picture, the source of every blur.
void drawShape(QPainter& painter, const Annotation::Shape& shape, const QImage& picture);
// Draws the region of the picture (rect in picture space, y up) as coarse blocks.
void pixelate(QPainter& painter, const QRectF& rect, const QImage& picture);
// Where drawing the shape can change pixels, in picture space (y up), generously: whatever lies
// outside it is untouched by the shape. Null for shapes that draw nothing.
QRectF drawnBounds(const Annotation::Shape& shape);
// The selection's outline and handles, s being view pixels per picture pixel.
void drawSelection(QPainter& painter, const Annotation::Shape& shape, double s, int pictureHeight, double defaultWidth);

} // namespace AnnotationRenderer
