#include "imaging/ImageConvert.h"

#include "imaging/ImageCodec.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/NewFiles.h"
#include "platform/FileOps.h"
#include "platform/Trash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <utility>

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
        fail(QStringLiteral("Can't read ") + fileName(path));
    if (pages)
        *pages = page.pageCount;
    return ImageCodec::normalized(page.image);
}

// The first picture of a file, and how many the file holds: pages of a PDF or TIFF, frames of an animation.
struct Loaded {
    QImage image;
    int pictures = 1;
    bool frames = false;
};

Loaded loadCounting(const QUrl& url) {
    Loaded loaded;
    const QString path = localPath(url);
    if (isPdfName(path)) {
        loaded.image = loadPdf(path, &loaded.pictures);
        return loaded;
    }
    QByteArray bytes;
    if (!path.isEmpty() && ImageCodec::readFile(path, &bytes))
        loaded.image = ImageCodec::decode(bytes);
    if (loaded.image.isNull())
        fail(QStringLiteral("Can't read ") + fileName(path.isEmpty() ? url.path() : path));
    loaded.pictures = ImageCodec::frameCount(bytes);
    loaded.frames = ImageCodec::isAnimation(bytes);
    return loaded;
}

// A new picture made of a file of several pages or frames holds the first of them alone: the source stays
// where it is then, and the note says how much of it the new file holds.
Replaced placeUnlessPaged(const QUrl& source, const QUrl& written, const Loaded& loaded, const QString& done) {
    if (loaded.pictures <= 1)
        return replace(source, written);
    return Replaced{written, QStringLiteral("only %1 1 of %2 was %3, so %4 was kept")
                                 .arg(loaded.frames ? QStringLiteral("frame") : QStringLiteral("page"))
                                 .arg(loaded.pictures)
                                 .arg(done, fileName(localPath(source)))};
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

QUrl writePdf(const QImage& image, const QString& source) {
    QString failed;
    const QString path = NewFiles::reserve(
        NewFiles::numbered(folderOf(source), NewFiles::baseName(source), QStringLiteral("pdf")), &failed);
    if (path.isEmpty())
        fail(QStringLiteral("Can't write PDF"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QFile::remove(path);
        fail(QStringLiteral("Can't write PDF"));
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
    if (!drawn) {
        file.close();
        QFile::remove(path);
        fail(QStringLiteral("Can't create PDF page"));
    }
    const bool written = file.flush() && file.error() == QFileDevice::NoError;
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(path);
        fail(QStringLiteral("Can't write PDF"));
    }
    return QUrl::fromLocalFile(path);
}

// A digest of the pixels as premultiplied ARGB, taken a strip of rows at a time: a picture near the memory
// budget is never held twice over for its check.
QByteArray pixelDigest(const QImage& image) {
    QCryptographicHash hash(QCryptographicHash::Md5);
    const int width = image.width();
    const qsizetype rowBytes = qsizetype(width) * 4;
    const int strip = int(std::clamp<qint64>((qint64(4) << 20) / std::max<qint64>(1, rowBytes), 1, 4096));
    for (int y = 0; y < image.height(); y += strip) {
        const int rows = std::min(strip, image.height() - y);
        const bool direct = image.format() == QImage::Format_ARGB32_Premultiplied;
        const QImage part =
            direct ? image : image.copy(0, y, width, rows).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const int from = direct ? y : 0;
        if (part.isNull())
            return {};
        for (int row = 0; row < rows; ++row)
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(part.constScanLine(from + row)), rowBytes));
    }
    hash.addData(QByteArray::number(width) + 'x' + QByteArray::number(image.height()));
    return hash.result();
}

// Whether the encoded bytes read back as the picture: every pixel (through their digest) for a lossless format,
// the size for a lossy one. What we write takes the original's place, so a codec that garbles it must not pass
// for a success.
bool readsBack(const QByteArray& bytes, ImageFormat format, QSize size, const QByteArray& digest) {
    const QImage back = ImageCodec::decodeAs(bytes, format);
    if (back.isNull() || back.size() != size)
        return false;
    return digest.isEmpty() || pixelDigest(back) == digest;
}

// Encodes and writes a picture as the first free name of the sequence. The picture is let go of once encoded,
// so the read-back holds the only full copy when the caller handed over its own.
QString writeNew(QImage image, ImageFormat format, double quality, const NewFiles::Candidates& names) {
    QString failed;
    const QString path = NewFiles::reserve(names, &failed);
    if (path.isEmpty())
        fail(QStringLiteral("Couldn't write ") + failed);
    const QSize size = image.size();
    const bool exact = format == ImageFormat::png || format == ImageFormat::tiff;
    const QByteArray digest = exact ? pixelDigest(image) : QByteArray();
    const QByteArray bytes = exact && digest.isEmpty() ? QByteArray() : ImageCodec::encode(image, format, quality);
    image = QImage();
    if (bytes.isEmpty() || !readsBack(bytes, format, size, digest) || !NewFiles::fill(path, bytes)) {
        QFile::remove(path);
        fail(QStringLiteral("Couldn't write ") + fileName(path));
    }
    return path;
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
        fail(QStringLiteral("Can't read ") + fileName(path.isEmpty() ? url.path() : path));
    return image;
}

QUrl writeBeside(QImage image, const QUrl& source, ImageFormat format, double quality) {
    if (format == ImageFormat::pdf || !ImageCodec::canEncode(format))
        fail(QStringLiteral("This computer can't write ") + format.title());
    if (format == ImageFormat::jpeg)
        image = flatten(image);
    const QString path = localPath(source);
    return QUrl::fromLocalFile(writeNew(std::move(image), format, quality,
                                        NewFiles::numbered(folderOf(path), NewFiles::baseName(path), format.ext())));
}

Replaced convert(const QUrl& source, ImageFormat format, double quality) {
    Loaded loaded = loadCounting(source);
    const QUrl written = format == ImageFormat::pdf
                             ? writePdf(loaded.image, localPath(source))
                             : writeBeside(std::exchange(loaded.image, QImage()), source, format, quality);
    return placeUnlessPaged(source, written, loaded, QStringLiteral("converted"));
}

Compressed compress(const QUrl& source) {
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
    image = flatten(image);
    const QString written = writeNew(
        std::move(image), ImageFormat::jpeg, compressedQuality,
        NewFiles::numbered(folderOf(path), NewFiles::baseName(path) + QStringLiteral(" small"), QStringLiteral("jpg")));
    result.bytesAfter = fileSize(QUrl::fromLocalFile(written));
    // A file already small in its own format (a WebP, a flat PNG) can grow as a JPEG: no gain, only loss.
    if (result.bytesAfter >= result.bytesBefore) {
        QFile::remove(written);
        fail(keptNotSmaller);
    }
    const Replaced placed =
        placeUnlessPaged(source, QUrl::fromLocalFile(written), loaded, QStringLiteral("compressed"));
    result.url = placed.url;
    result.trashFailure = placed.trashFailure;
    return result;
}

Replaced resize(const QUrl& source, int width, int height) {
    const std::optional<ImageFormat> format = ImageFormat::of(source);
    if (!format || !format->utType())
        fail(QStringLiteral("Resize works on images, not PDFs"));
    if (width <= 0 || height <= 0)
        fail(QStringLiteral("Too small"));
    Loaded loaded = loadCounting(source);
    if (loaded.image.width() == width && loaded.image.height() == height)
        fail(QStringLiteral("Already %1 × %2").arg(width).arg(height));
    QImage resized = scaled(std::exchange(loaded.image, QImage()), width, height);
    const QUrl written = writeBeside(std::move(resized), source, *format, resizeQuality);
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

QImage scaled(const QImage& image, int width, int height) {
    if (image.isNull() || width <= 0 || height <= 0 || !ImageCodec::fitsBudget(QSize(width, height)))
        fail(QStringLiteral("Can't resize"));
    const QImage result = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (result.isNull() || result.width() != width || result.height() != height)
        fail(QStringLiteral("Can't resize"));
    return result;
}

QImage flatten(const QImage& image) {
    QImage result(image.size(), QImage::Format_RGB32);
    if (image.isNull() || result.isNull())
        fail(QStringLiteral("Can't create bitmap"));
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

Replaced replaceSingle(const QUrl& source, const QUrl& newFile, const QString& done) {
    Loaded counted;
    const QString path = localPath(source);
    if (isPdfName(path)) {
        counted.pictures = std::max(1, firstPage(path).pageCount);
    } else {
        QByteArray bytes;
        if (ImageCodec::readFile(path, &bytes)) {
            counted.pictures = ImageCodec::frameCount(bytes);
            counted.frames = ImageCodec::isAnimation(bytes);
        }
    }
    return placeUnlessPaged(source, newFile, counted, done);
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
    QByteArray bytes;
    if (!ImageCodec::readFile(path, &bytes))
        return {};
    return ImageCodec::decodeThumbnail(bytes, maxPixels);
}

} // namespace ImageConvert
