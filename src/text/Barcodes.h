#pragma once
// Barcode and QR code payloads through zxing-cpp.

#include <QImage>
#include <QPolygon>
#include <QStringList>
#include <vector>

namespace TextVision {

// The distinct, non-empty payloads in the order the reader found them; empty on any failure.
// A picture where none is found is read once more with its brightness inverted, for the light
// codes on dark ground that dark themes draw.
QStringList barcodePayloads(const QImage& image);

// Where two-dimensional codes (QR, Data Matrix, Aztec, PDF417) stand in a grey picture of dark
// ink on white, so recognition can leave their modules out; empty on any failure.
std::vector<QPolygon> codeAreas(const QImage& grey);

} // namespace TextVision
