#pragma once
// Picture files that hold more than one picture. ImageMagick writes the TIFF and the WebP; it writes no animated
// PNG without a video library, so that one is put together here from the toolkit's single pictures.

#include <QByteArray>
#include <QImage>
#include <QList>

namespace ManyPictures {

QByteArray tiff(const QList<QImage>& pages);
// Lossless frames.
QByteArray webp(const QList<QImage>& frames);
// Frames of the same size; the first is also the picture a reader without animation shows.
QByteArray png(const QList<QImage>& frames);

} // namespace ManyPictures
