#include "imaging/ImageConvert.h"

#include "imaging/ChildProcesses.h"
#include "imaging/ColourManage.h"
#include "imaging/ImageCodec.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/NewFiles.h"
#include "imaging/PictureKind.h"
#include "platform/FileOps.h"
#include "platform/Trash.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageConvert {

const QString keptTransparent = QStringLiteral("Kept as it is: a JPEG would lose its transparency");
const QString keptNotSmaller = QStringLiteral("Kept as it is: a JPEG would not be smaller");

namespace {

constexpr int compressedSide = 1800;
constexpr double compressedQuality = 0.68;
constexpr double resizeQuality = 0.9;

QString localPath(const QUrl& url) {
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

bool isPdfName(const QString& path) {
    return QFileInfo(path).suffix().toLower() == QLatin1String("pdf");
}

[[noreturn]] void fail(const QString& message) {
    throw ConvertError(message);
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

// "Can't read" and the file's name; when the file could not be opened for a reason of its own rather than for
// what it holds (no permission, a link that leads nowhere), that reason too.
QString cantRead(const QString& path) {
    QString text = QStringLiteral("Can't read ") + fileName(path);
    if (path.isEmpty())
        return text;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    int error = ::stat(name.constData(), &st) == 0 ? 0 : errno;
    // Only a regular file is opened: opening a device may do something.
    if (error == 0 && S_ISREG(st.st_mode)) {
        const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        error = fd < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (error == EACCES || error == EPERM || error == ELOOP)
        text += QStringLiteral(": ") + ChildProcesses::notOpened(error, path);
    return text;
}

// The first page as the decoding child draws it (twice its size in points, at most 3200 pixels on the
// longer side, on white): a PDF the user hands us is never parsed in this process.
IsolatedDecode::Result firstPage(const QString& path) {
    IsolatedDecode::Job job;
    job.source = path;
    job.pdf = true;
    return IsolatedDecode::run(job);
}

QImage loadPdf(const QString& path, int* pages = nullptr) {
    const IsolatedDecode::Result page = firstPage(path);
    if (!page.ok())
        fail(cantRead(path));
    if (pages)
        *pages = page.pageCount;
    return ImageCodec::normalized(page.image);
}

// The first picture of a file, and how many the file holds: pages of a PDF or TIFF, frames of an animation.
// `kept` says why the file must stay beside what is made of it even when it holds one picture: the picture
// decoded is not all it shows (a raw's preview) or not in its colours.
struct Loaded {
    QImage image;
    int pictures = 1;
    bool frames = false;
    bool deep = false; // the file stores more than 8 bits a channel
    QString kept;
};

// A PDF's page is drawn at one size, and its text, its lines and the pictures in it at their own resolution are
// more than any one drawing of it holds.
const QString keptPdf = QStringLiteral("it is a PDF, and the new picture draws its page at one size");

// Why a source must not go to the Trash for a new file made of its first picture; empty when that picture, as
// decoded, shows everything the file shows.
QString keptBecause(const QByteArray& bytes, const QString& path) {
    const QString kind = PictureKind::keptForItsKind(bytes, path);
    return kind.isEmpty() ? ColourManage::unheld(bytes) : kind;
}

Loaded loadCounting(const QUrl& url, ImageCodec::Depth depth = ImageCodec::Depth::eight) {
    Loaded loaded;
    const QString path = localPath(url);
    if (isPdfName(path)) {
        loaded.image = loadPdf(path, &loaded.pictures);
        loaded.kept = keptPdf;
        return loaded;
    }
    QByteArray bytes;
    if (!path.isEmpty() && ImageCodec::readFile(path, &bytes))
        loaded.image = ImageCodec::decode(bytes, depth, ImageCodec::Alpha::asStored);
    if (loaded.image.isNull())
        fail(path.isEmpty() ? QStringLiteral("Can't read ") + fileName(url.path()) : cantRead(path));
    loaded.pictures = ImageCodec::frameCount(bytes);
    loaded.frames = ImageCodec::isAnimation(bytes);
    loaded.deep = ImageCodec::storesDeep(bytes);
    loaded.kept = keptBecause(bytes, path);
    return loaded;
}

// The conversions at work, for the program's end to wait for; none starts once it has begun.
struct Running {
    std::mutex lock;
    std::condition_variable idle;
    int count = 0;
    bool ending = false;
};

Running& running() {
    static Running* const all = new Running; // outlives the static teardown that an end may skip
    return *all;
}

class AtWork {
public:
    AtWork() {
        Running& r = running();
        const std::lock_guard<std::mutex> hold(r.lock);
        if (r.ending)
            fail(QStringLiteral("The program is ending"));
        ++r.count;
    }
    ~AtWork() {
        Running& r = running();
        const std::lock_guard<std::mutex> hold(r.lock);
        if (--r.count == 0)
            r.idle.notify_all();
    }
    AtWork(const AtWork&) = delete;
    AtWork& operator=(const AtWork&) = delete;
};

// The one way a source leaves for the Trash after a new picture is made of it. A new picture made of a file of
// several pages or frames holds the first of them alone, and one made of a raw's preview or of colours that could
// not be turned exactly shows less than the file: the source stays where it is then, and the note says why.
Replaced placeUnlessPaged(const QUrl& source, const QUrl& written, const Loaded& loaded, const QString& done,
                          const QString& keptForTheFile = {}) {
    const QString name = fileName(localPath(source));
    if (loaded.pictures > 1)
        return Replaced{written, QStringLiteral("only %1 1 of %2 was %3, so %4 was kept")
                                     .arg(loaded.frames ? QStringLiteral("frame") : QStringLiteral("page"))
                                     .arg(loaded.pictures)
                                     .arg(done, name)};
    if (!loaded.kept.isEmpty() || !keptForTheFile.isEmpty())
        return Replaced{written,
                        QStringLiteral("kept %1: %2").arg(name, loaded.kept.isEmpty() ? keptForTheFile : loaded.kept)};
    return replace(source, written);
}

bool hasTransparency(const QImage& image) {
    if (!image.hasAlphaChannel())
        return false;
    const QImage pixels =
        image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied
            ? image
            : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return true;
    }
    return false;
}

// Whether some pixel is neither clear nor opaque: the colours premultiplying at 8 bits rounds.
bool hasPartialTransparency(const QImage& image) {
    if (!image.hasAlphaChannel())
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const QImage line = image.copy(0, y, image.width(), 1).convertToFormat(QImage::Format_ARGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(line.constScanLine(0));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(pixels[x]) != 0 && qAlpha(pixels[x]) != 255)
                return true;
    }
    return false;
}

// Whether some colour of the picture lies outside sRGB: turned into sRGB and back, a strip of rows at a time, it
// comes back more than a rounding away.
bool reachesPastSrgb(const QImage& image) {
    const QColorSpace space = image.colorSpace();
    const int strip = int(std::clamp<qint64>((qint64(4) << 20) / std::max<qint64>(1, qint64(image.width()) * 4), 1,
                                             4096));
    for (int y = 0; y < image.height(); y += strip) {
        const int rows = std::min(strip, image.height() - y);
        const QImage own = image.copy(0, y, image.width(), rows).convertToFormat(QImage::Format_ARGB32);
        const QImage back = own.convertedToColorSpace(QColorSpace::SRgb).convertedToColorSpace(space).convertToFormat(
            QImage::Format_ARGB32);
        if (back.size() != own.size())
            return true;
        for (int row = 0; row < rows; ++row) {
            const auto* a = reinterpret_cast<const QRgb*>(own.constScanLine(row));
            const auto* b = reinterpret_cast<const QRgb*>(back.constScanLine(row));
            for (int x = 0; x < own.width(); ++x)
                if (qAlpha(a[x]) >= 32 &&
                    std::max({std::abs(qRed(a[x]) - qRed(b[x])), std::abs(qGreen(a[x]) - qGreen(b[x])),
                              std::abs(qBlue(a[x]) - qBlue(b[x]))}) > 3)
                    return true;
        }
    }
    return false;
}

// The picture as a one-page PDF. Its pixels are drawn as sRGB, so a picture in another colour space is
// turned into sRGB first, in place; `kept` says why the source must stay when that lost colours.
QUrl writePdf(QImage& image, const QString& source, QString* kept) {
    NewFiles::Pending pending(NewFiles::numbered(folderOf(source), NewFiles::baseName(source), QStringLiteral("pdf")));
    QFile file;
    if (!pending.ok() || !file.open(pending.fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        fail(QStringLiteral("Can't write PDF"));
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        if (reachesPastSrgb(image))
            *kept = QStringLiteral("its colours reach past sRGB, which is all a PDF made here holds");
        image.convertToColorSpace(QColorSpace::SRgb);
    }
    bool drawn = false;
    {
        // One point per pixel, so the page is the picture's size and the picture is stored unscaled.
        QPdfWriter writer(&file);
        writer.setResolution(72);
        writer.setPageSize(
            QPageSize(QSizeF(image.width(), image.height()), QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (painter.begin(&writer)) {
            painter.setRenderHint(QPainter::LosslessImageRendering);
            painter.drawImage(QRectF(0, 0, image.width(), image.height()), image);
            drawn = painter.end();
        }
    }
    if (!drawn)
        fail(QStringLiteral("Can't create PDF page"));
    const bool written = file.flush() && file.error() == QFileDevice::NoError;
    file.close();
    QString failed;
    const QString path = written ? pending.place(&failed) : QString();
    if (path.isEmpty())
        fail(QStringLiteral("Can't write PDF"));
    return QUrl::fromLocalFile(path);
}

// Whether the picture holds see-through colours as they are (not premultiplied): what its file gets.
bool straightAlpha(const QImage& image) {
    return image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGBA64;
}

// The picture in `format`. The toolkit's own conversion from straight to premultiplied 16-bit pixels takes the
// alpha for a colour as well; that one is done pixel by pixel.
QImage converted(const QImage& image, QImage::Format format) {
    if (format == QImage::Format_RGBA64_Premultiplied && image.format() == QImage::Format_RGBA64)
        return ImageCodec::normalized(image, ImageCodec::Depth::kept);
    return image.format() == format ? image : image.convertToFormat(format);
}

QImage premultiplied(const QImage& image) {
    return converted(image, ImageCodec::isDeep(image) ? QImage::Format_RGBA64_Premultiplied
                                                      : QImage::Format_ARGB32_Premultiplied);
}

// A digest of the pixels as ARGB (16 bits a channel for a deeper picture), premultiplied or straight as `straight`
// says, taken a strip of rows at a time: a picture near the memory budget is never held twice over for its check.
// Straight, the colour of a wholly clear pixel is nothing anyone sees, and counts as black.
QByteArray pixelDigest(const QImage& image, bool straight) {
    QCryptographicHash hash(QCryptographicHash::Md5);
    const int width = image.width();
    const bool deep = ImageCodec::isDeep(image);
    const QImage::Format format = deep ? (straight ? QImage::Format_RGBA64 : QImage::Format_RGBA64_Premultiplied)
                                       : (straight ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied);
    const qsizetype rowBytes = qsizetype(width) * (deep ? 8 : 4);
    const int strip = int(std::clamp<qint64>((qint64(4) << 20) / std::max<qint64>(1, rowBytes), 1, 4096));
    QByteArray line(straight ? rowBytes : 0, Qt::Uninitialized);
    for (int y = 0; y < image.height(); y += strip) {
        const int rows = std::min(strip, image.height() - y);
        const bool direct = image.format() == format;
        const QImage part = direct ? image : converted(image.copy(0, y, width, rows), format);
        const int from = direct ? y : 0;
        if (part.isNull())
            return {};
        for (int row = 0; row < rows; ++row) {
            const auto* pixels = reinterpret_cast<const char*>(part.constScanLine(from + row));
            if (!straight) {
                hash.addData(QByteArrayView(pixels, rowBytes));
                continue;
            }
            std::memcpy(line.data(), pixels, size_t(rowBytes));
            for (int x = 0; x < width; ++x) {
                if (deep) {
                    auto* p = reinterpret_cast<QRgba64*>(line.data()) + x;
                    if (p->alpha() == 0)
                        *p = QRgba64::fromRgba64(0);
                } else {
                    auto* p = reinterpret_cast<QRgb*>(line.data()) + x;
                    if (qAlpha(*p) == 0)
                        *p = 0;
                }
            }
            hash.addData(line);
        }
    }
    hash.addData(QByteArray::number(width) + 'x' + QByteArray::number(image.height()) + (deep ? "/16" : "/8"));
    return hash.result();
}

// Whether pixels labelled with the two colour spaces look the same: colours across the cube, each turned into
// sRGB from either space, land within a step of each other. No colour space is sRGB.
bool sameLook(const QColorSpace& a, const QColorSpace& b) {
    const QColorSpace srgb(QColorSpace::SRgb);
    const auto plain = [&srgb](const QColorSpace& s) { return !s.isValid() || s == srgb; };
    if (plain(a) && plain(b))
        return true;
    if (a == b)
        return true;
    const QColorTransform fromA = plain(a) ? QColorTransform() : a.transformationToColorSpace(srgb);
    const QColorTransform fromB = plain(b) ? QColorTransform() : b.transformationToColorSpace(srgb);
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int bl = 0; bl < 256; bl += 51) {
                const QRgb probe = qRgb(r, g, bl);
                const QRgb one = fromA.map(probe), other = fromB.map(probe);
                if (std::abs(qRed(one) - qRed(other)) > 1 || std::abs(qGreen(one) - qGreen(other)) > 1 ||
                    std::abs(qBlue(one) - qBlue(other)) > 1)
                    return false;
            }
    return true;
}

// The formats written with more than 8 bits a channel for a deeper picture: PNG and TIFF at 16, HEIC at 10.
bool holdsDeep(ImageFormat format) {
    return format == ImageFormat::png || format == ImageFormat::tiff || format == ImageFormat::heic;
}

// What the source file shows, as decoded with its colour description: what the new file must show too, judged
// from the file rather than from the picture made of it, which a step on the way (a turn) may have stripped.
struct Source {
    QColorSpace space;
    bool deep = false; // more than 8 bits a channel, to be kept where the new file's format holds them
};

// What a picture must read back as: its size, its look (its colour space) and, for a lossless format, every
// pixel at its depth (through their digest).
struct Expected {
    QSize size;
    QColorSpace space;
    bool deep = false;
    bool straight = false; // the digest is of straight alpha
    QByteArray digest;     // empty for a lossy format
};

// Whether the encoded bytes read back as the picture. What we write takes the original's place, so a codec that
// garbles it, drops its profile or its depth must not pass for a success.
bool readsBack(const QByteArray& bytes, ImageFormat format, const Expected& expected) {
    const QImage back =
        ImageCodec::decodeAs(bytes, format, nullptr, expected.deep ? ImageCodec::Depth::kept : ImageCodec::Depth::eight,
                             ImageCodec::Alpha::asStored);
    if (back.isNull() || back.size() != expected.size || !sameLook(back.colorSpace(), expected.space))
        return false;
    if (expected.deep && !ImageCodec::isDeep(back))
        return false;
    return expected.digest.isEmpty() || pixelDigest(back, expected.straight) == expected.digest;
}

// A picture in a colour space of its own laid over white as a screen shows it: each see-through pixel is turned
// into sRGB, mixed with white there and turned back, where mixing the picture's own numbers would give another
// colour (a wide-gamut profile's curve is not sRGB's). Opaque pixels keep their own numbers. A strip of rows at a
// time, so the picture is never held twice at 16 bits a channel.
QImage overWhiteAsShown(const QImage& image) {
    const QColorSpace own = image.colorSpace();
    const QColorSpace srgb(QColorSpace::SRgb);
    QImage result(image.size(), QImage::Format_RGB32);
    if (result.isNull())
        fail(QStringLiteral("Can't create bitmap"));
    result.setColorSpace(own);
    const int strip = 256;
    for (int y = 0; y < image.height(); y += strip) {
        const int rows = std::min(strip, image.height() - y);
        const QImage part = image.copy(0, y, image.width(), rows).convertToFormat(QImage::Format_RGBA64);
        QImage mixed = part;
        mixed.convertToColorSpace(srgb);
        if (part.isNull() || mixed.isNull())
            fail(QStringLiteral("Can't flatten image"));
        for (int row = 0; row < rows; ++row) {
            auto* line = reinterpret_cast<QRgba64*>(mixed.scanLine(row));
            for (int x = 0; x < image.width(); ++x) {
                const QRgba64 p = line[x];
                const quint32 a = p.alpha(), show = 0xffff - a;
                const auto over = [&](quint16 c) {
                    return quint16((quint32(c) * a + 0xffffu * show + 0x7fff) / 0xffff);
                };
                line[x] = QRgba64::fromRgba64(over(p.red()), over(p.green()), over(p.blue()), 0xffff);
            }
        }
        mixed.setColorSpace(srgb);
        mixed.convertToColorSpace(own);
        if (mixed.isNull())
            fail(QStringLiteral("Can't flatten image"));
        for (int row = 0; row < rows; ++row) {
            const auto* kept = reinterpret_cast<const QRgba64*>(part.constScanLine(row));
            const auto* back = reinterpret_cast<const QRgba64*>(mixed.constScanLine(row));
            auto* out = reinterpret_cast<QRgb*>(result.scanLine(y + row));
            for (int x = 0; x < image.width(); ++x) {
                const QRgba64 p = kept[x].alpha() == 0xffff ? kept[x] : back[x];
                out[x] = qRgb(p.red8(), p.green8(), p.blue8());
            }
        }
    }
    return result;
}

// flatten() for a picture handed over: an opaque one only changes its format, and premultiplied pixels of which
// it is the only holder are laid over white where they are, so the picture is never held twice.
QImage flattened(QImage image) {
    if (!image.hasAlphaChannel())
        return image.format() == QImage::Format_RGB32 ? image : std::move(image).convertToFormat(QImage::Format_RGB32);
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
        return overWhiteAsShown(image);
    const bool straight = image.format() == QImage::Format_ARGB32;
    if ((!straight && image.format() != QImage::Format_ARGB32_Premultiplied) || !image.isDetached())
        return flatten(image);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // Over opaque white: the colour as much as it covers, plus the white the alpha leaves showing.
            const QRgb p = row[x];
            const int a = qAlpha(p), show = 255 - a;
            const auto over = [&](int c) { return std::min(255, (straight ? (c * a + 127) / 255 : c) + show); };
            row[x] = qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p)));
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

// A new file, and why its source must stay beside it even so.
struct Written {
    QString path;
    QString kept;
};

// Encodes and writes a picture as the first free name of the sequence. The picture is let go of once encoded,
// so the read-back holds the only full copy when the caller handed over its own. The file has no name until it
// is whole and has read back: an end meanwhile leaves nothing behind.

Written writeNew(QImage image, ImageFormat format, double quality, const NewFiles::Candidates& names,
                 const Source* source = nullptr) {
    NewFiles::Pending pending(names);
    if (!pending.ok())
        fail(NewFiles::cantWrite(NewFiles::firstFree(names), pending.lastError()));
    const bool deep = ImageCodec::isDeep(image) || (source && source->deep);
    Expected expected{
        image.size(), source ? source->space : image.colorSpace(), deep && holdsDeep(format), straightAlpha(image), {}};
    const bool exact = format == ImageFormat::png || format == ImageFormat::tiff;
    if (exact)
        expected.digest = pixelDigest(image, expected.straight);
    // A lossy file of 8 bits a channel moves each by a level or more: in a colour space wider than any screen's, a
    // level is a visible step, and the file can't be shown to look as the picture does. A deep HEIC has 10.
    const bool eightBitLossy = !exact && !(expected.deep && format == ImageFormat::heic);
    const QString tooWide =
        eightBitLossy && ColourManage::veryWide(expected.space)
            ? QStringLiteral("its colour space is too wide for a %1 to show it exactly").arg(format.title())
            : QString();
    QByteArray bytes = exact && expected.digest.isEmpty() ? QByteArray() : ImageCodec::encode(image, format, quality);
    image = QImage();
    QString failed;
    const bool whole = !bytes.isEmpty() && readsBack(bytes, format, expected) && pending.write(bytes);
    bytes = QByteArray();
    const QString path = whole ? pending.place(&failed) : QString();
    if (path.isEmpty())
        fail(NewFiles::cantWrite(failed.isEmpty() ? NewFiles::firstFree(names) : failed, pending.lastError()));
    return Written{path, tooWide};
}

} // namespace

QImage load(const QUrl& url) {
    const QString path = localPath(url);
    if (isPdfName(path))
        return loadPdf(path);
    QByteArray bytes;
    QImage image;
    if (!path.isEmpty() && ImageCodec::readFile(path, &bytes))
        image = ImageCodec::decode(bytes);
    if (image.isNull())
        fail(path.isEmpty() ? QStringLiteral("Can't read ") + fileName(url.path()) : cantRead(path));
    return image;
}

namespace {

Written writeBesideAs(QImage image, const QUrl& source, ImageFormat format, double quality, const Source* shown) {
    if (format == ImageFormat::pdf || !ImageCodec::canEncode(format))
        fail(QStringLiteral("This computer can't write ") + format.title());
    if (format == ImageFormat::jpeg)
        image = flattened(std::move(image));
    const QString path = localPath(source);
    return writeNew(std::move(image), format, quality,
                    NewFiles::numbered(folderOf(path), NewFiles::baseName(path), format.ext()), shown);
}

Replaced placeUnlessPaged(const QUrl& source, const Written& written, const Loaded& loaded, const QString& done) {
    return placeUnlessPaged(source, QUrl::fromLocalFile(written.path), loaded, done, written.kept);
}

} // namespace

QUrl writeBeside(QImage image, const QUrl& source, ImageFormat format, double quality) {
    return QUrl::fromLocalFile(writeBesideAs(std::move(image), source, format, quality, nullptr).path);
}

Replaced convert(const QUrl& source, ImageFormat format, double quality) {
    const AtWork atWork;
    // A deeper source keeps its bits where the new file's format holds them.
    Loaded loaded = loadCounting(source, holdsDeep(format) ? ImageCodec::Depth::kept : ImageCodec::Depth::eight);
    const Source shown{loaded.image.colorSpace(), loaded.deep};
    if (format == ImageFormat::pdf) {
        QString kept;
        const QUrl made = writePdf(loaded.image, localPath(source), &kept);
        return placeUnlessPaged(source, made, loaded, QStringLiteral("converted"), kept);
    }
    const Written written = writeBesideAs(std::exchange(loaded.image, QImage()), source, format, quality, &shown);
    return placeUnlessPaged(source, written, loaded, QStringLiteral("converted"));
}

Compressed compress(const QUrl& source) {
    const AtWork atWork;
    Compressed result;
    result.bytesBefore = fileSize(source);
    Loaded loaded = loadCounting(source);
    QImage image = std::exchange(loaded.image, QImage());
    // A JPEG has no transparency: a cut-out would come out on white, its white parts lost.
    if (hasTransparency(image))
        fail(keptTransparent);
    const int longer = std::max(image.width(), image.height());
    if (longer > compressedSide) {
        // Whole-number arithmetic: the longer side is exactly the limit, the shorter one cut toward zero
        // (a floating factor lands on 1799 for many widths), and never below one pixel.
        const auto shorten = [longer](int side) {
            return int(std::max<qint64>(1, qint64(side) * compressedSide / longer));
        };
        const int w = image.width() >= image.height() ? compressedSide : shorten(image.width());
        const int h = image.width() >= image.height() ? shorten(image.height()) : compressedSide;
        image = scaled(image, w, h);
    }
    if (!ImageCodec::canEncode(ImageFormat::jpeg))
        fail(QStringLiteral("Can't write JPEG"));
    const QString path = localPath(source);
    image = flattened(std::move(image));
    const Written written = writeNew(
        std::move(image), ImageFormat::jpeg, compressedQuality,
        NewFiles::numbered(folderOf(path), NewFiles::baseName(path) + QStringLiteral(" small"), QStringLiteral("jpg")));
    result.bytesAfter = fileSize(QUrl::fromLocalFile(written.path));
    // A file already small in its own format (a WebP, a flat PNG) can grow as a JPEG: no gain, only loss.
    if (result.bytesAfter >= result.bytesBefore) {
        QFile::remove(written.path);
        fail(keptNotSmaller);
    }
    const Replaced placed = placeUnlessPaged(source, written, loaded, QStringLiteral("compressed"));
    result.url = placed.url;
    result.trashFailure = placed.trashFailure;
    return result;
}

namespace {
QImage scaledTelling(const QImage& image, int width, int height, bool* coarse);
} // namespace

Replaced resize(const QUrl& source, int width, int height) {
    const AtWork atWork;
    const std::optional<ImageFormat> format = ImageFormat::of(source);
    if (!format || !format->utType())
        fail(QStringLiteral("Resize works on images, not PDFs"));
    if (width <= 0 || height <= 0)
        fail(QStringLiteral("Too small"));
    Loaded loaded = loadCounting(source, holdsDeep(*format) ? ImageCodec::Depth::kept : ImageCodec::Depth::eight);
    if (loaded.image.width() == width && loaded.image.height() == height)
        fail(QStringLiteral("Already %1 × %2").arg(width).arg(height));
    const Source shown{loaded.image.colorSpace(), loaded.deep};
    // Half-clear colours of a picture too large to blend at 16 bits lose levels at 8, which a colour space wider
    // than sRGB shows.
    const QColorSpace space = loaded.image.colorSpace();
    const bool wider = space.isValid() && !sameLook(space, QColorSpace(QColorSpace::SRgb));
    const bool seeThrough = wider && hasPartialTransparency(loaded.image);
    bool coarse = false;
    QImage resized = scaledTelling(std::exchange(loaded.image, QImage()), width, height, &coarse);
    Written written = writeBesideAs(std::move(resized), source, *format, resizeQuality, &shown);
    if (coarse && seeThrough && written.kept.isEmpty())
        written.kept = QStringLiteral("it is too large to resize its half-clear colours without losing levels");
    return placeUnlessPaged(source, written, loaded, QStringLiteral("resized"));
}

Resized resize(const QUrl& source, int maxWidth) {
    const QImage image = load(source);
    const int w = image.width();
    if (maxWidth <= 0 || w <= maxWidth)
        fail(QStringLiteral("Already %1 px wide").arg(w));
    const int h = int(std::max<long>(1, std::lround(double(image.height()) * maxWidth / w)));
    const Replaced placed = resize(source, maxWidth, h);
    return Resized{placed.url, maxWidth, h, placed.trashFailure};
}

namespace {

// scaled(), and whether it had to premultiply straight 8-bit colours at 8 bits (the deeper copy would not fit).
QImage scaledTelling(const QImage& image, int width, int height, bool* coarse) {
    if (image.isNull() || width <= 0 || height <= 0 || !ImageCodec::fitsBudget(QSize(width, height)))
        fail(QStringLiteral("Can't resize"));
    const bool deep = ImageCodec::isDeep(image);
    // Straight see-through colours are blended at 16 bits and come back straight: premultiplied at 8, a half-clear
    // colour loses levels that a wide colour space shows. Where the deeper copy would not fit, at 8 as painting does.
    const auto fits = [](QSize size) { return qint64(size.width()) * size.height() * 8 <= ImageCodec::budgetBytes(); };
    const bool straight = straightAlpha(image) && (deep || (fits(image.size()) && fits(QSize(width, height))));
    if (coarse)
        *coarse = straightAlpha(image) && !straight;
    const QImage working = !straight ? image
                           : deep    ? premultiplied(image)
                                     : image.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    const QImage result = working.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(straight ? (deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32)
                                                        : (deep ? QImage::Format_RGBA64_Premultiplied
                                                                : QImage::Format_ARGB32_Premultiplied));
    if (result.isNull() || result.width() != width || result.height() != height)
        fail(QStringLiteral("Can't resize"));
    return result;
}

} // namespace

QImage scaled(const QImage& image, int width, int height) {
    return scaledTelling(image, width, height, nullptr);
}

QImage flatten(const QImage& image) {
    QImage result(image.size(), QImage::Format_RGB32);
    if (image.isNull() || result.isNull())
        fail(QStringLiteral("Can't create bitmap"));
    // The same colours in the same space: the picture's colour profile goes with them into the file.
    result.setColorSpace(image.colorSpace());
    result.fill(Qt::white);
    QPainter painter;
    if (!painter.begin(&result))
        fail(QStringLiteral("Can't flatten image"));
    painter.drawImage(0, 0, image);
    if (!painter.end())
        fail(QStringLiteral("Can't flatten image"));
    return result;
}

QUrl uniqueURL(const QUrl& beside, const QString& ext) {
    const QString path = localPath(beside);
    const NewFiles::Candidates names = NewFiles::numbered(folderOf(path), NewFiles::baseName(path), ext);
    for (int n = 1;; ++n) {
        const QString candidate = names(n);
        if (!NewFiles::taken(candidate))
            return QUrl::fromLocalFile(candidate);
    }
}

Replaced replace(const QUrl& source, const QUrl& newFile) {
    const QString sourcePath = localPath(source);
    const QString newPath = localPath(newFile);
    const Trash::Result trashed = Trash::moveToTrash(sourcePath);
    if (!trashed.ok())
        return Replaced{newFile, trashed.error + QStringLiteral(", so both files were kept")};
    const QString target = folderOf(sourcePath) + QLatin1Char('/') + NewFiles::baseName(sourcePath) + QLatin1Char('.') +
                           QFileInfo(newPath).suffix();
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(newPath).absoluteFilePath() || NewFiles::taken(target))
        return Replaced{newFile, {}};
    // Never over another file: one that appeared after the test keeps its name, and so does ours.
    if (FileOps::renameNoReplace(newPath, target) == 0)
        return Replaced{QUrl::fromLocalFile(target), {}};
    return Replaced{newFile, {}};
}

Replaced remake(const QUrl& source, const std::function<QImage(const QImage&)>& make, const QString& done) {
    const AtWork atWork;
    const std::optional<ImageFormat> format = ImageFormat::of(source);
    if (!format || *format == ImageFormat::pdf || !format->utType())
        fail(QStringLiteral("Works on images, not PDFs"));
    Loaded loaded = loadCounting(source, ImageCodec::Depth::kept);
    const Source shown{loaded.image.colorSpace(), loaded.deep || ImageCodec::isDeep(loaded.image)};
    QImage made = make(std::exchange(loaded.image, QImage()));
    const Written written = writeBesideAs(std::move(made), source, *format, 0.9, &shown);
    return placeUnlessPaged(source, written, loaded, done);
}

void Notes::add(const QUrl& source, const QString& note) {
    if (note.isEmpty())
        return;
    if (first.isEmpty())
        first = note;
    else
        others.append(fileName(localPath(source)));
}

QString Notes::text() const {
    if (others.isEmpty())
        return first;
    constexpr int named = 5;
    QString text = first + QStringLiteral("; also kept: ") + others.mid(0, named).join(QStringLiteral(", "));
    if (others.size() > named)
        text += QStringLiteral(" and %1 more").arg(others.size() - named);
    return text;
}

bool finishAll(int timeoutMs) {
    Running& r = running();
    std::unique_lock<std::mutex> hold(r.lock);
    r.ending = true;
    return r.idle.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&r] { return r.count == 0; });
}

qint64 fileSize(const QUrl& url) {
    const QFileInfo info(localPath(url));
    return info.exists() && info.isFile() ? info.size() : 0;
}

QImage thumbnail(const QUrl& url, int maxPixels) {
    const QString path = localPath(url);
    if (path.isEmpty() || maxPixels <= 0)
        return {};
    if (isPdfName(path)) {
        const IsolatedDecode::Result page = firstPage(path);
        if (!page.ok())
            return {};
        const QImage& full = page.image;
        if (full.width() <= maxPixels && full.height() <= maxPixels)
            return ImageCodec::normalized(full);
        return ImageCodec::normalized(full.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    // A large file is read and reduced in the decoding child, under its limits.
    QByteArray bytes;
    qint64 size = 0;
    if (!ImageCodec::readHead(path, ImageCodec::headLength, &bytes, &size) || !ImageCodec::recognizes(bytes))
        return {};
    if (size > thumbnailReadHereLimit) {
        IsolatedDecode::Job job;
        job.source = path;
        job.thumbnail = maxPixels;
        return IsolatedDecode::run(job).image;
    }
    if (size > bytes.size() && !ImageCodec::readFile(path, &bytes))
        return {};
    return ImageCodec::decodeThumbnail(bytes, maxPixels);
}

} // namespace ImageConvert
