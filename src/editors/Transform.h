#pragma once
// Turning a picture by quarter turns and mirroring it, for the rotate editor: the file operation and the
// one geometric rule that the file and the editor's preview share.

#include "imaging/ImageConvert.h"

#include <QImage>
#include <QTransform>
#include <QUrl>

namespace ImageConvert {

// The picture mirrored in its own axes (flipH left to right, flipV top to bottom), then turned clockwise by
// `turns` quarter turns, written in the file's own format beside it (quality 0.9, no orientation tag, JPEG
// made opaque, its colour space and depth kept) and put in the file's place by remake(), which keeps the old file
// beside it where the new one can't show all it showed. Throws ConvertError: "Rotate works on images, not PDFs"
// for a PDF or an unknown extension, "Can't rotate", and the load and write errors.
Replaced transform(const QUrl& url, int turns, bool flipH, bool flipV);

} // namespace ImageConvert

namespace Transform {

// The same picture in memory, pixel for pixel, with its colour space; null when there is no memory for it.
QImage apply(const QImage& image, int turns, bool flipH, bool flipV);

// Maps a picture of `size` centred on the origin: mirror, then the clockwise quarter turns (y down).
QTransform matrix(int turns, bool flipH, bool flipV);

} // namespace Transform
