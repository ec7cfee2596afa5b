#pragma once
// A fast PNG encoder for screenshots: they are written on the capture road, where every millisecond shows.

#include <QIODevice>
#include <QImage>

namespace PngWriter {

// Writes the picture as one 8-bit PNG (RGB when it is opaque, else RGBA) to the device. False when the
// picture is null or the device refuses the bytes.
bool write(const QImage& image, QIODevice* device);

QByteArray encode(const QImage& image);

} // namespace PngWriter
