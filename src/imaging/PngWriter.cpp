#include "imaging/PngWriter.h"

#include "imaging/ImageCodec.h"
#include "imaging/PngEncoder.h"

#include <QBuffer>
#include <QColorSpace>

#include <string>

namespace PngWriter {

namespace {

bool opaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return true;
    if (image.format() == QImage::Format_RGBA64 || image.format() == QImage::Format_RGBA64_Premultiplied) {
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgba64*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (row[x].alpha() != 65535)
                    return false;
        }
        return true;
    }
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

// The pixels in a layout the encoder takes, converted only when they are in none: a picture near the memory
// budget is not held twice for its file.
QImage inLayout(const QImage& image, PngEncoder::Layout* layout) {
    using PngEncoder::Layout;
    const bool alpha = !opaque(image);
    const QImage::Format format = image.format();
    if (ImageCodec::isDeep(image)) {
        const bool in64 = format == QImage::Format_RGBX64 || format == QImage::Format_RGBA64 ||
                          format == QImage::Format_RGBA64_Premultiplied;
        if (!alpha) {
            *layout = Layout::Opaque64;
            return in64 ? image : image.convertToFormat(QImage::Format_RGBX64);
        }
        if (format == QImage::Format_RGBA64) {
            *layout = Layout::Straight64;
            return image;
        }
        *layout = Layout::Premultiplied64;
        return format == QImage::Format_RGBA64_Premultiplied
                   ? image
                   : image.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    }
    if (!alpha) {
        *layout = Layout::Opaque; // premultiplied and straight agree
        return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                       format == QImage::Format_ARGB32_Premultiplied
                   ? image
                   : image.convertToFormat(QImage::Format_RGB32);
    }
    if (format == QImage::Format_ARGB32_Premultiplied) {
        *layout = Layout::Premultiplied;
        return image;
    }
    *layout = Layout::Straight;
    return format == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

bool write(const QImage& image, QIODevice* device) {
    if (image.isNull() || !device)
        return false;
    PngEncoder::Source source;
    const QImage pixels = inLayout(image, &source.layout);
    if (pixels.isNull())
        return false;
    // QImage's 32-bit formats are 0xAARRGGBB words: blue, green, red, alpha in memory on this platform.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    source.data = pixels.constBits();
    source.width = pixels.width();
    source.height = pixels.height();
    source.stride = pixels.bytesPerLine();
    // Pixels in another colour space than sRGB carry its profile, so that they look the same once written.
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        const QByteArray icc = space.iccProfile();
        source.iccProfile.assign(icc.begin(), icc.end());
    }
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
