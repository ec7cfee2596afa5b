#pragma once
// Cuts a picture file by a rectangle or a free-hand outline and saves the piece as "<name> crop.png" beside it.
// Coordinates are fractions of the picture's width and height with the origin at the bottom-left and y
// growing upwards, so (0, 0, 1, 1) is the whole picture. Failures throw ConvertError.

#include "imaging/UserError.h"

#include <QList>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QUrl>

namespace Cropper {

// The pixels crop() takes from a picture of that size (rows counted from the top): the rectangle rounded to
// whole pixels, halves away from zero, and cut to the picture; empty when no part lies on it. Throws
// "Couldn't crop" for a rectangle that is not a number.
QRect pixelRect(const QRectF& normalized, const QSize& picture);

// `normalized` is (minX, minY, width, height) in the fractions above. Throws "Couldn't crop" when no part of
// it lies on the picture, and the load error when the file can't be read.
QUrl crop(const QUrl& source, const QRectF& normalized);

// The outline through the points, closed; the piece is the outline's bounding box on the picture, with the
// pixels outside the outline transparent (non-zero winding). Throws "Selection too small" when that box is
// not more than one pixel wide and high.
QUrl crop(const QUrl& source, const QList<QPointF>& lasso);

} // namespace Cropper
