#pragma once
// Cuts a picture file by a rectangle or a free-hand outline and saves the piece as "<name> crop.png" beside it.
// Coordinates are fractions of the picture's width and height with the origin at the bottom-left and y
// growing upwards, so (0, 0, 1, 1) is the whole picture. Failures throw ConvertError.

#include "imaging/UserError.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QUrl>

namespace Cropper {

// `normalized` is (minX, minY, width, height) in the fractions above. Throws "Couldn't crop" when no part of
// it lies on the picture, and the load error when the file can't be read.
QUrl crop(const QUrl& source, const QRectF& normalized);

// The outline through the points, closed; the piece is the outline's bounding box on the picture, with the
// pixels outside the outline transparent (non-zero winding). Throws "Selection too small" when that box is
// not more than one pixel wide and high.
QUrl crop(const QUrl& source, const QList<QPointF>& lasso);

} // namespace Cropper
