#pragma once
// A generated page in which every pixel row differs from every other, so that two views of it line up
// at one shift only: the page that scroll-capture tests record and stitch.

#include <QImage>
#include <QRgb>

namespace UniqueRowsPage {

inline quint32 mix(quint32 x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Each row is bands of `band` pixels whose colours are drawn from the row and band numbers.
inline QImage make(int width, int rows, int band) {
    QImage image(width, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 h = mix(quint32(y) * 131u + quint32(x / band));
            line[x] = qRgb(int(h & 0xff), int((h >> 8) & 0xff), int((h >> 16) & 0xff));
        }
    }
    return image;
}

} // namespace UniqueRowsPage
