#include "imaging/PngWriter.h"

#include <QBuffer>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <thread>
#include <vector>
#include <zlib.h>

namespace PngWriter {

namespace {

// Screenshots are mostly flat areas, text and soft gradients: the "up" filter with zlib's level 3 (the
// last of its quick levels, whose longer match search pays off on text) makes files a few percent smaller
// than libpng's adaptive filtering at level 2 in a third of its time; the slower levels cost two to four
// times as much for little gain. Large pictures are also compressed in horizontal strips on several
// threads, joined into one zlib stream the way parallel gzip does it.
constexpr int zlibLevel = 3;
constexpr unsigned char upFilter = 2;
constexpr int maxStrips = 4;
constexpr qsizetype rowsPerStripAtLeast = 128;
constexpr qsizetype idatBytes = 1 << 20;
constexpr qsizetype window = 32768;

struct Sink {
    QIODevice* device;
    bool failed = false;
};

void writeBytes(png_structp png, png_bytep data, size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (!sink->failed && sink->device->write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length))
        sink->failed = true;
    if (sink->failed)
        png_error(png, "write failed");
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

// One row in PNG byte order (RGB or RGBA) from QImage's native 0xAARRGGBB words.
void packRow(const QImage& image, int y, bool alpha, unsigned char* out) {
    const auto* px = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const int w = image.width();
    if (alpha) {
        for (int x = 0; x < w; ++x, out += 4) {
            out[0] = uchar(qRed(px[x]));
            out[1] = uchar(qGreen(px[x]));
            out[2] = uchar(qBlue(px[x]));
            out[3] = uchar(qAlpha(px[x]));
        }
    } else {
        for (int x = 0; x < w; ++x, out += 3) {
            out[0] = uchar(qRed(px[x]));
            out[1] = uchar(qGreen(px[x]));
            out[2] = uchar(qBlue(px[x]));
        }
    }
}

// The filtered scanline of row y (filter byte first), as it goes into the compressor.
class Rows {
public:
    Rows(const QImage& image, bool alpha)
        : image(image), alpha(alpha), width(qsizetype(image.width()) * (alpha ? 4 : 3)) {}

    qsizetype lineBytes() const { return width + 1; }

    void filtered(int y, std::vector<unsigned char>& prev, std::vector<unsigned char>& cur, unsigned char* out) const {
        packRow(image, y, alpha, cur.data());
        out[0] = upFilter;
        if (y == 0)
            std::memcpy(out + 1, cur.data(), size_t(width));
        else
            for (qsizetype i = 0; i < width; ++i)
                out[1 + i] = uchar(cur[size_t(i)] - prev[size_t(i)]);
        prev.swap(cur);
    }

    // Starts `prev` at the row above `y`, so a strip filters exactly as one pass over the picture would.
    void primeAbove(int y, std::vector<unsigned char>& prev) const {
        if (y > 0)
            packRow(image, y - 1, alpha, prev.data());
    }

    const QImage& image;
    const bool alpha;
    const qsizetype width;
};

struct Strip {
    int first = 0, last = 0; // rows [first, last)
    bool final = false;
    std::vector<unsigned char> deflated;
    uLong adler = 1;
    qsizetype rawBytes = 0;
    bool ok = false;
};

void compressStrip(const Rows& rows, Strip& strip) {
    const qsizetype line = rows.lineBytes();
    std::vector<unsigned char> prev(size_t(rows.width)), cur(size_t(rows.width));
    z_stream z{};
    if (deflateInit2(&z, zlibLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    // The previous strip's last 32 KiB as the dictionary, so matches reach back across the seam.
    if (strip.first > 0) {
        const int back = int(std::min<qsizetype>(strip.first, (window + line - 1) / line));
        std::vector<unsigned char> dict(size_t(back * line));
        rows.primeAbove(strip.first - back, prev);
        for (int i = 0; i < back; ++i)
            rows.filtered(strip.first - back + i, prev, cur, dict.data() + i * line);
        const qsizetype use = std::min<qsizetype>(qsizetype(dict.size()), window);
        deflateSetDictionary(&z, dict.data() + dict.size() - size_t(use), uInt(use));
    }
    strip.rawBytes = qsizetype(strip.last - strip.first) * line;
    strip.deflated.resize(deflateBound(&z, uLong(strip.rawBytes)) + 64);
    z.next_out = strip.deflated.data();
    z.avail_out = uInt(strip.deflated.size());
    std::vector<unsigned char> buffer(size_t(line) * 16);
    int status = Z_OK;
    for (int y = strip.first; y < strip.last && status == Z_OK;) {
        const int batch = std::min(16, strip.last - y);
        for (int i = 0; i < batch; ++i)
            rows.filtered(y + i, prev, cur, buffer.data() + i * line);
        const uInt bytes = uInt(batch * line);
        strip.adler = adler32(strip.adler, buffer.data(), bytes);
        z.next_in = buffer.data();
        z.avail_in = bytes;
        y += batch;
        // A non-final strip ends on a byte boundary (sync flush) so the next strip's blocks can follow it.
        const int flush = y < strip.last ? Z_NO_FLUSH : (strip.final ? Z_FINISH : Z_SYNC_FLUSH);
        status = deflate(&z, flush);
        if (status == Z_STREAM_END)
            status = Z_OK;
        if (z.avail_in != 0)
            status = Z_BUF_ERROR;
    }
    strip.ok = status == Z_OK;
    strip.deflated.resize(strip.deflated.size() - z.avail_out);
    deflateEnd(&z);
}

// The zlib stream of all rows: header, the strips' deflate data in order, and the combined checksum.
bool compressAll(const Rows& rows, int height, QByteArray* stream) {
    const qsizetype byLines = height / rowsPerStripAtLeast;
    const int hw = int(std::max(1u, std::thread::hardware_concurrency()));
    const int count = int(std::clamp<qsizetype>(std::min<qsizetype>(byLines, std::min(hw, maxStrips)), 1, maxStrips));
    std::vector<Strip> strips(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        strips[size_t(i)].first = int(qint64(height) * i / count);
        strips[size_t(i)].last = int(qint64(height) * (i + 1) / count);
        strips[size_t(i)].final = i == count - 1;
    }
    std::vector<std::thread> helpers;
    for (int i = 1; i < count; ++i)
        helpers.emplace_back([&rows, &strips, i] { compressStrip(rows, strips[size_t(i)]); });
    compressStrip(rows, strips[0]);
    for (std::thread& t : helpers)
        t.join();

    qsizetype total = 6;
    for (const Strip& s : strips) {
        if (!s.ok)
            return false;
        total += qsizetype(s.deflated.size());
    }
    stream->reserve(total);
    stream->append(char(0x78)).append(char(0x5e)); // deflate, 32 KiB window, a fast level
    uLong adler = 1;
    for (const Strip& s : strips) {
        stream->append(reinterpret_cast<const char*>(s.deflated.data()), qsizetype(s.deflated.size()));
        adler = adler32_combine(adler, s.adler, z_off_t(s.rawBytes));
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        stream->append(char((adler >> shift) & 0xFF));
    return true;
}

// libpng writes the signature, header and chunk framing; the image data arrives already compressed.
// Its error path is a longjmp, so this frame holds no object with a destructor.
bool writeFile(int w, int h, bool alpha, const QByteArray& stream, Sink* sink) {
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
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    static const png_byte idat[5] = {'I', 'D', 'A', 'T', 0};
    static const png_byte iend[5] = {'I', 'E', 'N', 'D', 0};
    const auto* data = reinterpret_cast<png_const_bytep>(stream.constData());
    for (qsizetype at = 0; at < stream.size(); at += idatBytes)
        png_write_chunk(png, idat, data + at, size_t(std::min(idatBytes, stream.size() - at)));
    png_write_chunk(png, iend, nullptr, 0);
    png_destroy_write_struct(&png, &info);
    return !sink->failed;
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
    QByteArray stream;
    if (!compressAll(Rows(pixels, alpha), pixels.height(), &stream))
        return false;
    Sink sink{device};
    return writeFile(pixels.width(), pixels.height(), alpha, stream, &sink);
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
