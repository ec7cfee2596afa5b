#pragma once
// Finds the EXIF orientation tag in JPEG, PNG, WebP and TIFF (classic or BigTIFF) files without decoding them.

#include <QByteArray>

namespace ExifOrientation {

// The orientation (1 to 8) stored in the file's EXIF block, or 1 when there is none or it is damaged.
// Every offset is checked against the data, so a hostile file can only make it answer 1.
int of(const QByteArray& file);

// The orientation in a bare TIFF-structured EXIF block ("II*\0" or "MM\0*" first), 1 when absent.
int inTiff(const char* data, qsizetype size);

} // namespace ExifOrientation
