#include "editors/SignatureStore.h"

#include "imaging/NewFiles.h"
#include "platform/XdgPaths.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// A signature is a small picture; a file claiming more is not decoded at all.
constexpr qint64 maxPixels = 40'000'000;

} // namespace

QString SignatureStore::dir() {
    const QString path = XdgPaths::dataDir() + QStringLiteral("/Signatures");
    QDir().mkpath(path);
    return path;
}

QList<QString> SignatureStore::all() {
    const QDir folder(dir());
    QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& name) { return !name.endsWith(QLatin1String(".png")); }),
                names.end());
    std::stable_sort(names.begin(), names.end());
    QList<QString> paths;
    for (const QString& name : names)
        paths.append(folder.filePath(name));
    return paths;
}

std::optional<QString> SignatureStore::save(const QImage& image, qint64 nowMs) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return std::nullopt;
    const QString folder = dir();
    // Two signatures within one millisecond take the next free one rather than replace each other.
    NewFiles::Pending pending(
        [folder, nowMs](int n) { return folder + QStringLiteral("/sig-%1.png").arg(nowMs + n - 1); });
    if (!pending.write(png))
        return std::nullopt;
    QString failed;
    const QString path = pending.place(&failed);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> SignatureStore::save(const QImage& image) {
    return save(image, QDateTime::currentMSecsSinceEpoch());
}

std::optional<QImage> SignatureStore::cleaned(const QImage& source) {
    if (source.width() <= 0 || source.height() <= 0)
        return std::nullopt;
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return std::nullopt;
    const int w = image.width(), h = image.height();
    bool opaque = true;
    for (int y = 0; y < h && opaque; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(line[x]) < 250) {
                opaque = false;
                break;
            }
    }
    // Paper lighter than 0.92 of white vanishes, ink darker than 0.37 is fully black, tones between fade.
    // The ink box is found in the same pass.
    // The weighted sum 299 R + 587 G + 114 B takes 255,001 values: one table lookup a pixel.
    std::vector<uchar> alphaOf;
    if (opaque) {
        alphaOf.resize(255'001);
        for (int sum = 0; sum <= 255'000; ++sum) {
            const double a = (0.92 - sum / 255'000.0) / 0.55;
            alphaOf[size_t(sum)] = uchar(a >= 1 ? 255 : int(std::max(a, 0.0) * 255));
        }
    }
    int minX = w, minY = h, maxX = -1, maxY = -1;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x) {
            if (opaque) {
                const QRgb p = line[x];
                line[x] = QRgb(alphaOf[size_t(299 * qRed(p) + 587 * qGreen(p) + 114 * qBlue(p))]) << 24;
            }
            if (qAlpha(line[x]) > 20) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first >= 0) {
            minX = std::min(minX, first);
            maxX = std::max(maxX, last);
            minY = std::min(minY, y);
            maxY = y;
        }
    }
    if (maxX < 0)
        return std::nullopt;
    return image.copy(minX, minY, maxX - minX + 1, maxY - minY + 1);
}

void SignatureStore::remove(const QString& path) {
    QFile::remove(path);
}

std::optional<QImage> SignatureStore::read(const QString& path) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > maxPixels)
        return std::nullopt;
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}
