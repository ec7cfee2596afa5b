#include "imaging/PngWriter.h"

#include "imaging/PngEncoder.h"

#include <QBuffer>

#include <string>

namespace PngWriter {

namespace {

bool opaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return true;
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
}

} // namespace

bool write(const QImage& image, QIODevice* device) {
    if (image.isNull() || !device)
        return false;
    const bool alpha = !opaque(image);
    QImage pixels = image;
    if (alpha)
        pixels = image.convertToFormat(QImage::Format_ARGB32);
    else if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32 &&
             image.format() != QImage::Format_ARGB32_Premultiplied)
        pixels = image.convertToFormat(QImage::Format_RGB32); // opaque: premultiplied and straight agree
    if (pixels.isNull())
        return false;
    // QImage's 32-bit formats are 0xAARRGGBB words: blue, green, red, alpha in memory on this platform.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    PngEncoder::Source source;
    source.data = pixels.constBits();
    source.width = pixels.width();
    source.height = pixels.height();
    source.stride = pixels.bytesPerLine();
    source.layout = alpha ? PngEncoder::Layout::Straight : PngEncoder::Layout::Opaque;
    PngEncoder::Encoded encoded;
    std::string error;
    if (!PngEncoder::encode(source, encoded, error))
        return false;
    for (const PngEncoder::Encoded::Piece& piece : encoded.pieces())
        if (device->write(reinterpret_cast<const char*>(piece.data), qint64(piece.size)) != qint64(piece.size))
            return false;
    return true;
}

QByteArray encode(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!write(image, &buffer))
        return {};
    return bytes;
}

} // namespace PngWriter
