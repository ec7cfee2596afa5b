#pragma once
// Barcode and QR code payloads through zxing-cpp.

#include <QImage>
#include <QStringList>

namespace TextVision {

// The distinct, non-empty payloads in the order the reader found them; empty on any failure.
QStringList barcodePayloads(const QImage& image);

} // namespace TextVision
