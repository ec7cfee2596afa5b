#include "imaging/ImageCodec.h"

#include "imaging/ColourManage.h"
#include "imaging/ExifOrientation.h"
#include "imaging/HeifCodec.h"
#include "imaging/PictureKind.h"
#include "imaging/PngReader.h"
#include "imaging/PngThumbnail.h"
#include "imaging/PngWriter.h"
#include "platform/WholeIo.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTransform>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageCodec {

namespace {

// No picture file we could decode within the budget is larger than this; refusing bigger files early keeps
// a stray disk image or video named .png from being read into memory.
constexpr qint64 largestFile = qint64(1) << 30;

const unsigned char* raw(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

// libjpeg pads a cut-off JPEG with grey and calls it a success; we want a cut-off file to be an error. A complete
// file reaches its end marker: walked from the start, segments by their lengths and each scan's entropy-coded data
// up to the marker that ends it (that data holds 0xFF only as 0xFF00 or a restart marker). What follows the end
// marker is never looked at: a phone's appended video, or a gigabyte of padding, is neither read through nor taken
// for part of the picture.
bool jpegComplete(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    const qsizetype n = bytes.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return false;
    qsizetype i = 2;
    while (i < n) {
        // Stray bytes between segments, as libjpeg skips them, then any fill bytes before the marker.
        while (i < n && d[i] != 0xFF)
            ++i;
        while (i < n && d[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const unsigned char marker = d[i++];
        if (marker == 0xD9)
            return true;
        // Markers without a segment.
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        if (i + 1 >= n)
            return false;
        const qsizetype length = qsizetype(d[i]) << 8 | d[i + 1];
        if (length < 2)
            return false;
        i += length;
        if (marker == 0xDA)
            while (i + 1 < n && !(d[i] == 0xFF && d[i + 1] != 0x00 && (d[i + 1] < 0xD0 || d[i + 1] > 0xD7)))
                ++i;
    }
    return false;
}

quint32 littleEndian(const unsigned char* p, int length) {
    quint32 value = 0;
    for (int i = length - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// Qt's GIF reader shows what it got of a cut-off frame as though the rest were background, and calls it a
// success. The first frame is what we show: its blocks must all be there, up to the one that ends its data.
bool gifComplete(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    const qint64 size = bytes.size();
    const auto colourTable = [](unsigned char packed) { return (packed & 0x80) ? 3 * (qint64(2) << (packed & 7)) : 0; };
    // Past a chain of sub-blocks, or -1 when the file ends within it.
    const auto subBlocks = [&](qint64 at) -> qint64 {
        while (at < size) {
            if (d[at] == 0)
                return at + 1;
            at += 1 + d[at];
        }
        return -1;
    };
    if (size < 13)
        return false;
    qint64 at = 13 + colourTable(d[10]);
    while (at < size) {
        if (d[at] == 0x21) {
            at = at + 2 <= size ? subBlocks(at + 2) : -1;
        } else if (d[at] == 0x2C) {
            if (at + 11 > size)
                return false;
            const qint64 data = at + 10 + colourTable(d[at + 9]) + 1;
            return data <= size && subBlocks(data) >= 0;
        } else {
            // The trailer, or bytes the reader itself refuses.
            return true;
        }
        if (at < 0)
            return false;
    }
    return false;
}

// Qt's BMP reader leaves the rows a cut-off file lacks black and calls it a success. Rows stored as they are
// must all fit in the file; run-length rows must reach their end before the file does.
bool bmpComplete(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    const qint64 size = bytes.size();
    if (size < 26)
        return false;
    const qint64 offset = littleEndian(d + 10, 4), header = littleEndian(d + 14, 4);
    qint64 width = 0, height = 0, bits = 0, compression = 0;
    if (header == 12) {
        width = qint16(littleEndian(d + 18, 2)), height = qint16(littleEndian(d + 20, 2));
        bits = littleEndian(d + 24, 2);
    } else if (header >= 40 && size >= 34) {
        width = qint32(littleEndian(d + 18, 4)), height = qint32(littleEndian(d + 22, 4));
        bits = littleEndian(d + 28, 2), compression = littleEndian(d + 30, 4);
    } else {
        return true; // the reader refuses what it does not know
    }
    height = std::abs(height);
    if (width <= 0 || height == 0 || offset < 14 + header)
        return true;
    // Rows as they are (with or without masks of their colours).
    if (compression == 0 || compression == 3 || compression == 6)
        return offset + (width * bits + 31) / 32 * 4 * height <= size;
    if (compression != 1 && compression != 2)
        return true;
    const bool fourBits = compression == 2;
    qint64 at = offset, row = 0;
    while (at + 2 <= size) {
        const unsigned count = d[at], code = d[at + 1];
        at += 2;
        if (count > 0)
            continue;
        if (code == 0)
            ++row;
        else if (code == 1)
            return true;
        else if (code == 2)
            row += at + 2 <= size ? d[at + 1] : 0, at += 2;
        else
            at += ((fourBits ? (code + 1) / 2 : code) + 1) / 2 * 2;
        if (row >= height)
            return at <= size;
    }
    return false;
}

bool complete(const QByteArray& bytes, const QByteArray& format) {
    if (format == "jpeg" || format == "jpg")
        return jpegComplete(bytes);
    if (format == "gif")
        return gifComplete(bytes);
    if (format == "bmp")
        return bmpComplete(bytes);
    return true;
}

QByteArray writerName(ImageFormat format) {
    switch (format) {
    case ImageFormat::jpeg:
        return "jpeg";
    case ImageFormat::webp:
        return "webp";
    case ImageFormat::tiff:
        return "tiff";
    default:
        return {};
    }
}

QSize fitted(QSize size, int maxPixels) {
    const int longer = std::max(size.width(), size.height());
    if (longer <= maxPixels)
        return size;
    const double f = double(maxPixels) / longer;
    return QSize(std::max(1, int(std::lround(size.width() * f))), std::max(1, int(std::lround(size.height() * f))));
}

// Whether the reader, told by content, is one of ours: a vector drawing (SVG) would follow the references it
// holds to other files, and the rarer readers are not worth their risk. GIF and BMP are among ours: the basket
// lists them as recent pictures and the format wheel converts them. PNG is, but never through this reader,
// which decodes some of them wrong.
bool readsHandledFormat(QImageReader& reader) {
    reader.setDecideFormatFromContent(true);
    // We turn pictures by their EXIF orientation ourselves, the same way for every format.
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return false;
    static const QList<QByteArray> handled{"jpeg", "jpg", "webp", "tiff", "tif", "gif", "bmp"};
    return handled.contains(reader.format());
}

// Opens a reader over the bytes, refusing content whose header promises more pixels than the budget allows.
bool openReader(QImageReader& reader, const QByteArray& bytes) {
    if (!readsHandledFormat(reader))
        return false;
    const QSize size = reader.size();
    if (size.isValid() && !fitsBudget(size))
        return false;
    return complete(bytes, reader.format());
}

// A PNG as libpng reads it, upright by its EXIF orientation.
QImage decodePng(const QByteArray& bytes, PngReader::Failure* failure = nullptr, Depth depth = Depth::eight,
                 Alpha alpha = Alpha::premultiplied) {
    QImage image = ColourManage::managed(PngReader::decode(bytes, failure, depth == Depth::kept), bytes);
    return image.isNull() ? image : normalized(upright(std::move(image), ExifOrientation::of(bytes)), depth, alpha);
}

quint32 bigEndian32(const unsigned char* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// An animated PNG gives its frame count in an acTL chunk ahead of the picture data. The picture of the IDAT
// chunks is the first frame when an fcTL comes before it; otherwise it is a still that the animation leaves out,
// and the file holds one picture more.
int pngPictures(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    qsizetype at = 8;
    qint64 frames = -1;
    bool frameBeforeData = false;
    while (at + 12 <= bytes.size()) {
        const quint32 length = bigEndian32(d + at);
        if (length > quint32(bytes.size() - at - 12))
            break;
        const QByteArrayView type(bytes.constData() + at + 4, 4);
        if (type == "acTL" && length >= 8)
            frames = bigEndian32(d + at + 8);
        else if (type == "fcTL")
            frameBeforeData = true;
        else if (type == "IDAT" || type == "IEND")
            break;
        at += 12 + qsizetype(length);
    }
    if (frames < 0)
        return 1;
    const qint64 pictures = frames + (frameBeforeData ? 0 : 1);
    return int(std::clamp<qint64>(pictures, 1, std::numeric_limits<int>::max()));
}

bool isTiff(const QByteArray& bytes) {
    return bytes.startsWith(QByteArrayView("II*\0", 4)) || bytes.startsWith(QByteArrayView("MM\0*", 4));
}

} // namespace

bool readFile(const QString& path, QByteArray* bytes) {
    // Regular files only, opened without blocking: a pipe named like a picture would stall the open for good.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    const qint64 size = file.size();
    if (size <= 0 || size > largestFile)
        return false;
    *bytes = file.readAll();
    return bytes->size() == size && file.error() == QFileDevice::NoError;
}

bool readHead(const QString& path, qsizetype length, QByteArray* head, qint64* size) {
    // Regular files only, opened without blocking, as readFile() does.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    head->resize(qsizetype(std::min<qint64>(length, std::max<qint64>(st.st_size, 0))));
    head->resize(qsizetype(WholeIo::readUpTo(fd, head->data(), size_t(head->size()))));
    ::close(fd);
    if (size)
        *size = st.st_size;
    return true;
}

bool startsAs(const QByteArray& head, ImageFormat format) {
    if (format == ImageFormat::png)
        return PngReader::recognizes(head);
    if (format == ImageFormat::heic)
        return HeifCodec::recognizes(head);
    const QByteArray name = writerName(format);
    if (name.isEmpty())
        return false;
    QBuffer buffer(const_cast<QByteArray*>(&head));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, name);
    reader.setDecideFormatFromContent(false);
    return reader.canRead();
}

bool recognizes(const QByteArray& head) {
    if (PngReader::recognizes(head) || HeifCodec::recognizes(head))
        return true;
    QBuffer buffer(const_cast<QByteArray*>(&head));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readsHandledFormat(reader);
}

bool storesDeep(const QByteArray& bytes) {
    if (PngReader::recognizes(bytes))
        return bytes.size() > 24 && quint8(bytes[24]) > 8; // the IHDR's bit depth
    if (HeifCodec::recognizes(bytes))
        return HeifCodec::isDeep(bytes);
    const PictureKind::Tiff layout = PictureKind::tiff(bytes);
    return layout.valid && layout.bits > 8;
}

QImage normalized(QImage image, Depth depth, Alpha kept) {
    if (image.isNull())
        return {};
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format own = image.format();
    const bool straight = kept == Alpha::asStored && own != QImage::Format_ARGB32_Premultiplied &&
                          own != QImage::Format_RGBA8888_Premultiplied && own != QImage::Format_RGBA64_Premultiplied &&
                          own != QImage::Format_A2BGR30_Premultiplied && own != QImage::Format_A2RGB30_Premultiplied;
    QImage::Format want =
        alpha ? (straight ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied) : QImage::Format_RGB32;
    if (depth == Depth::kept && isDeep(image))
        want = alpha ? (straight ? QImage::Format_RGBA64 : QImage::Format_RGBA64_Premultiplied) : QImage::Format_RGBX64;
    if (want == QImage::Format_RGBA64_Premultiplied && image.format() == QImage::Format_RGBA64) {
        // In place, pixel by pixel: the toolkit's own conversion of these takes the alpha for a colour as well and
        // premultiplies it by itself.
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgba64*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = row[x].premultiplied();
        }
        image.reinterpretAsFormat(QImage::Format_RGBA64_Premultiplied);
        return image;
    }
    return image.format() == want ? image : std::move(image).convertToFormat(want);
}

int frameCount(const QByteArray& bytes) {
    if (PngReader::recognizes(bytes))
        return pngPictures(bytes);
    if (HeifCodec::recognizes(bytes))
        return HeifCodec::pictures(bytes);
    QBuffer buffer(const_cast<QByteArray*>(&bytes));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    static const QList<QByteArray> counted{"webp", "tiff", "tif", "gif"};
    if (!reader.canRead() || !counted.contains(reader.format()))
        return 1;
    return std::max(1, reader.imageCount());
}

bool isAnimation(const QByteArray& bytes) {
    return !isTiff(bytes);
}

QImage withDescriptionOf(QImage image, const QImage& from) {
    if (image.isNull())
        return image;
    image.setColorSpace(from.colorSpace());
    image.setDotsPerMeterX(from.dotsPerMeterX());
    image.setDotsPerMeterY(from.dotsPerMeterY());
    for (const QString& key : from.textKeys())
        image.setText(key, from.text(key));
    return image;
}

QImage upright(QImage image, int orientation) {
    const QTransform quarter = QTransform().rotate(90); // clockwise on screen, y down
    // The toolkit's quarter turn hands back bare pixels: the colour space and the rest go with them by hand, or the
    // picture would be written as sRGB.
    switch (orientation) {
    case 2:
        return withDescriptionOf(image.mirrored(true, false), image);
    case 3:
        return withDescriptionOf(image.mirrored(true, true), image);
    case 4:
        return withDescriptionOf(image.mirrored(false, true), image);
    case 5:
        return withDescriptionOf(image.transformed(quarter).mirrored(true, false), image);
    case 6:
        return withDescriptionOf(image.transformed(quarter), image);
    case 7:
        return withDescriptionOf(image.transformed(quarter).mirrored(false, true), image);
    case 8:
        return withDescriptionOf(image.transformed(QTransform().rotate(270)), image);
    default:
        return image;
    }
}

QImage decode(const QByteArray& bytes, Depth depth, Alpha alpha) {
    if (PngReader::recognizes(bytes))
        return decodePng(bytes, nullptr, depth, alpha);
    if (HeifCodec::recognizes(bytes))
        return normalized(ColourManage::managed(HeifCodec::decode(bytes, depth == Depth::kept), bytes), depth, alpha);
    QBuffer buffer(const_cast<QByteArray*>(&bytes));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!openReader(reader, bytes))
        return {};
    QImage image = ColourManage::decode(bytes, depth == Depth::kept);
    if (image.isNull() && (ColourManage::readsItself(bytes) || !reader.read(&image) || image.isNull()))
        return {};
    return normalized(upright(ColourManage::managed(std::move(image), bytes), ExifOrientation::of(bytes)), depth,
                      alpha);
}

QImage decodeAs(const QByteArray& bytes, ImageFormat format, Refusal* why, Depth depth, Alpha alpha) {
    Refusal ignored;
    Refusal& refusal = why ? *why : ignored;
    refusal = Refusal::unreadable;
    if (format == ImageFormat::png) {
        PngReader::Failure failure = PngReader::Failure::broken;
        const QImage image = decodePng(bytes, &failure, depth, alpha);
        if (image.isNull() && failure == PngReader::Failure::tooLarge)
            refusal = Refusal::tooLarge;
        return image;
    }
    if (format == ImageFormat::heic) {
        if (!HeifCodec::unavailable().isEmpty()) {
            refusal = Refusal::noCodec;
            return {};
        }
        if (!HeifCodec::recognizes(bytes))
            return {};
        const QSize size = HeifCodec::size(bytes);
        if (size.isValid() && !fitsBudget(size)) {
            refusal = Refusal::tooLarge;
            return {};
        }
        const QImage image =
            normalized(ColourManage::managed(HeifCodec::decode(bytes, depth == Depth::kept), bytes), depth, alpha);
        if (image.isNull() && size.isValid() && qint64(size.width()) * size.height() * 8 > budgetBytes())
            refusal = Refusal::tooLarge;
        return image;
    }
    const QByteArray name = writerName(format);
    if (name.isEmpty())
        return {};
    QBuffer buffer(const_cast<QByteArray*>(&bytes));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, name);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (size.isValid() && !fitsBudget(size)) {
        refusal = Refusal::tooLarge;
        return {};
    }
    if (!complete(bytes, name))
        return {};
    // A decoder holds about two copies of the pixels at its peak: past the budget, a failure is the memory
    // running out, not a broken file.
    const bool tight = size.isValid() && qint64(size.width()) * size.height() * 8 > budgetBytes();
    QImage image = ColourManage::decode(bytes, depth == Depth::kept);
    if (image.isNull() && (ColourManage::readsItself(bytes) || !reader.read(&image) || image.isNull())) {
        if (tight)
            refusal = Refusal::tooLarge;
        return {};
    }
    image =
        normalized(upright(ColourManage::managed(std::move(image), bytes), ExifOrientation::of(bytes)), depth, alpha);
    if (image.isNull())
        refusal = Refusal::tooLarge;
    return image;
}

QImage decodeThumbnail(const QByteArray& bytes, int maxPixels) {
    if (maxPixels <= 0)
        return {};
    // A large PNG is averaged down row by row, never held at full size. Should that reader fail, the whole
    // picture is read below and decides.
    const QSize pngSize = PngThumbnail::size(bytes);
    if (pngSize.isValid() && PngThumbnail::applies(bytes, fitted(pngSize, maxPixels))) {
        if (!fitsBudget(pngSize))
            return {};
        const QImage small = PngThumbnail::decode(bytes, fitted(pngSize, maxPixels));
        if (!small.isNull())
            return normalized(upright(small, ExifOrientation::of(bytes)));
    }
    QImage image;
    if (PngReader::recognizes(bytes)) {
        image = decodePng(bytes);
    } else if (HeifCodec::recognizes(bytes)) {
        image = ColourManage::managed(HeifCodec::decode(bytes), bytes);
    } else {
        QBuffer buffer(const_cast<QByteArray*>(&bytes));
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (!openReader(reader, bytes))
            return {};
        const QSize size = reader.size();
        // JPEG decodes straight to a smaller size through its DCT scaling. Other readers would only decode in
        // full and scale afterwards, some of them slower than the smooth scaling below.
        if (size.isValid() && reader.format() == "jpeg")
            reader.setScaledSize(fitted(size, maxPixels));
        if (!reader.read(&image) || image.isNull())
            return {};
        image = upright(image, ExifOrientation::of(bytes));
    }
    if (image.isNull())
        return {};
    const QSize target = fitted(image.size(), maxPixels);
    if (target != image.size())
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return normalized(image);
}

QSize pictureSize(const QByteArray& bytes) {
    if (const QSize png = PngThumbnail::size(bytes); png.isValid())
        return png;
    if (HeifCodec::recognizes(bytes))
        return HeifCodec::size(bytes);
    QBuffer buffer(const_cast<QByteArray*>(&bytes));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.size();
}

qint64 thumbnailDecodePixels(const QByteArray& bytes, int maxPixels) {
    const QSize size = pictureSize(bytes);
    if (!size.isValid())
        return 0;
    const qint64 full = qint64(size.width()) * size.height();
    const QSize target = fitted(size, maxPixels);
    const qint64 small = qint64(target.width()) * target.height();
    if (PngThumbnail::applies(bytes, target))
        return small;
    // libjpeg scales by halves down to an eighth, to at least the size asked for.
    if (bytes.startsWith("\xFF\xD8"))
        return std::min(full, std::max(4 * small, full / 64));
    return full;
}

bool canEncode(ImageFormat format) {
    switch (format) {
    case ImageFormat::png:
        return true;
    case ImageFormat::heic:
        return HeifCodec::canEncode();
    case ImageFormat::pdf:
        return false;
    default:
        return QImageWriter::supportedMimeTypes().contains(format.utType().value_or(QString()).toLatin1());
    }
}

namespace {
Encoder& testEncoder() {
    static Encoder encoder;
    return encoder;
}
} // namespace

void setEncoderForTests(Encoder encoder) {
    testEncoder() = std::move(encoder);
}

QByteArray encode(const QImage& image, ImageFormat format, double quality) {
    if (image.isNull())
        return {};
    if (testEncoder())
        return testEncoder()(image, format, quality);
    switch (format) {
    case ImageFormat::png:
        return PngWriter::encode(image);
    case ImageFormat::heic:
        return HeifCodec::encode(image, quality);
    case ImageFormat::pdf:
        return {};
    default:
        break;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, writerName(format));
    writer.setQuality(std::clamp(int(std::lround(quality * 100.0)), 0, 100));
    if (!writer.write(image))
        return {};
    return bytes;
}

} // namespace ImageCodec
