#pragma once
// Small pictures of large PNG files, read row by row and averaged down as they arrive, so the full-size
// pixels are never in memory: a 4K screenshot costs a few rows instead of 32 MB while its thumbnail is made.

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace PngThumbnail {

// Whether these bytes are a PNG this reader takes (not interlaced) that is larger than the target, so that
// decode() applies. An interlaced PNG or a small one is left to the ordinary reader.
bool applies(const QByteArray& bytes, QSize target);

// The picture averaged down to exactly `target` pixels: RGB32, or ARGB32_Premultiplied with alpha. Null when
// the file is broken or cut short, or when it doesn't apply.
QImage decode(const QByteArray& bytes, QSize target);

// The PNG's size from its header, or an invalid size.
QSize size(const QByteArray& bytes);

} // namespace PngThumbnail
