#include "imaging/ImageFormat.h"

#include "imaging/ImageCodec.h"

#include <QFileInfo>

#include <iterator>

namespace {

struct Names {
    const char* raw;
    const char* title;
    const char* ext;
    const char* mime; // nullptr: not written through a picture writer
};

// In declaration order of ImageFormat::Value.
constexpr Names names[] = {
    {"png", "PNG", "png", "image/png"},     {"jpeg", "JPEG", "jpg", "image/jpeg"},
    {"webp", "WebP", "webp", "image/webp"}, {"heic", "HEIC", "heic", "image/heic"},
    {"tiff", "TIFF", "tiff", "image/tiff"}, {"pdf", "PDF", "pdf", nullptr},
};
static_assert(std::size(names) == ImageFormat::pdf + 1);

} // namespace

QString ImageFormat::rawValue() const {
    return QLatin1String(names[value].raw);
}

QString ImageFormat::title() const {
    return QLatin1String(names[value].title);
}

QString ImageFormat::ext() const {
    return QLatin1String(names[value].ext);
}

std::optional<QString> ImageFormat::utType() const {
    if (!names[value].mime)
        return std::nullopt;
    return QLatin1String(names[value].mime);
}

std::optional<ImageFormat> ImageFormat::of(const QUrl& url) {
    const QString name = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString ext = QFileInfo(name).suffix().toLower();
    if (ext == QLatin1String("png"))
        return png;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return jpeg;
    if (ext == QLatin1String("webp"))
        return webp;
    if (ext == QLatin1String("heic"))
        return heic;
    if (ext == QLatin1String("tif") || ext == QLatin1String("tiff"))
        return tiff;
    if (ext == QLatin1String("pdf"))
        return pdf;
    return std::nullopt;
}

std::optional<ImageFormat> ImageFormat::readAs(const QUrl& url) {
    const QString name = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString ext = QFileInfo(name).suffix().toLower();
    if (ext == QLatin1String("heif") || ext == QLatin1String("hif"))
        return heic;
    return of(url);
}

std::optional<ImageFormat> ImageFormat::fromRawValue(const QString& raw) {
    for (ImageFormat format : allCases())
        if (format.rawValue() == raw)
            return format;
    return std::nullopt;
}

QList<ImageFormat> ImageFormat::allCases() {
    return {png, jpeg, webp, heic, tiff, pdf};
}

QList<ImageFormat> ImageFormat::available() {
    QList<ImageFormat> formats;
    for (ImageFormat format : allCases())
        if (!format.utType() || ImageCodec::canEncode(format))
            formats.append(format);
    return formats;
}
