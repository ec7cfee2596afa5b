#pragma once
// Picture files that hold more than one picture, written byte by byte as the formats lay them out: a TIFF of
// several pages as a scanner writes it, an animated WebP and an animated PNG. The toolkit writes only one
// picture a file, so these are put together from its single pictures.

#include <QByteArray>
#include <QImage>
#include <QList>

namespace ManyPictures {

// Uncompressed 8-bit RGB pages, one strip each, little-endian.
QByteArray tiff(const QList<QImage>& pages);
// Lossless frames of the same size on a canvas of that size, each shown for 100 ms.
QByteArray webp(const QList<QImage>& frames);
// Frames of the same size; the first is also the picture a reader without animation shows.
QByteArray png(const QList<QImage>& frames);

} // namespace ManyPictures
