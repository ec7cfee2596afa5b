#include "app/PngWriter.h"

#include <QBuffer>

#include <csetjmp>
#include <png.h>
#include <zlib.h>

namespace PngWriter {

namespace {

// Screenshots are mostly flat areas, text and soft gradients: the "up" filter with zlib's fastest level
// keeps files within a few percent of the default writer's size at about a quarter of its time. Adaptive
// filtering and higher levels cost two to four times as much for little gain.
constexpr int zlibLevel = 1;
constexpr int rowFilter = PNG_FILTER_UP;
constexpr size_t chunkBytes = 256 * 1024;

struct Sink {
    QIODevice* device;
    bool failed = false;
};

void writeBytes(png_structp png, png_bytep data, size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (sink->failed)
        return;
    if (sink->device->write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length)) {
        sink->failed = true;
        png_error(png, "write failed");
    }
}

void flushBytes(png_structp) {}

void onError(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}
void onWarning(png_structp, png_const_charp) {}

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

// libpng's error path is a longjmp, so this frame holds no object with a destructor.
bool writeRows(const QImage& image, bool withAlpha, Sink* sink) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, writeBytes, flushBytes);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, zlibLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, rowFilter);
    png_set_compression_buffer_size(png, chunkBytes);
    png_write_info(png, info);
    // QImage's 32-bit pixels are one native-endian word 0xAARRGGBB.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    if (!withAlpha)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    if (withAlpha)
        png_set_swap_alpha(png);
    else
        png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(image.constScanLine(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return !sink->failed;
}

} // namespace

bool write(const QImage& image, QIODevice* device) {
    if (image.isNull() || !device)
        return false;
    const bool withAlpha = !opaque(image);
    QImage pixels;
    if (withAlpha)
        pixels = image.convertToFormat(QImage::Format_ARGB32);
    else if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32 ||
             image.format() == QImage::Format_ARGB32_Premultiplied)
        pixels = image; // opaque: premultiplied and straight pixels are the same
    else
        pixels = image.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull())
        return false;
    Sink sink{device};
    return writeRows(pixels, withAlpha, &sink);
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
