#pragma once
// A fast PNG encoder for screenshots: they are written on the capture road, where every millisecond shows.

#include <QIODevice>
#include <QImage>

namespace PngWriter {

// Writes the picture as one PNG (RGB when it is opaque, else RGBA; 16 bits a channel for a picture of more
// than 8, else 8) with the picture's colour profile, to the device. False when the picture is null or the device
// refuses the bytes.
bool write(const QImage& image, QIODevice* device);

QByteArray encode(const QImage& image);

} // namespace PngWriter
