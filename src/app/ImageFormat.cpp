#include "app/ImageFormat.h"

#include "app/ImageCodec.h"

#include <QFileInfo>

QString ImageFormat::rawValue() const {
    switch (value) {
    case png:
        return QStringLiteral("png");
    case jpeg:
        return QStringLiteral("jpeg");
    case webp:
        return QStringLiteral("webp");
    case heic:
        return QStringLiteral("heic");
    case tiff:
        return QStringLiteral("tiff");
    case pdf:
        return QStringLiteral("pdf");
    }
    return {};
}

QString ImageFormat::title() const {
    switch (value) {
    case png:
        return QStringLiteral("PNG");
    case jpeg:
        return QStringLiteral("JPEG");
    case webp:
        return QStringLiteral("WebP");
    case heic:
        return QStringLiteral("HEIC");
    case tiff:
        return QStringLiteral("TIFF");
    case pdf:
        return QStringLiteral("PDF");
    }
    return {};
}

QString ImageFormat::ext() const {
    switch (value) {
    case png:
        return QStringLiteral("png");
    case jpeg:
        return QStringLiteral("jpg");
    case webp:
        return QStringLiteral("webp");
    case heic:
        return QStringLiteral("heic");
    case tiff:
        return QStringLiteral("tiff");
    case pdf:
        return QStringLiteral("pdf");
    }
    return {};
}

std::optional<QString> ImageFormat::utType() const {
    switch (value) {
    case png:
        return QStringLiteral("image/png");
    case jpeg:
        return QStringLiteral("image/jpeg");
    case webp:
        return QStringLiteral("image/webp");
    case heic:
        return QStringLiteral("image/heic");
    case tiff:
        return QStringLiteral("image/tiff");
    case pdf:
        return std::nullopt;
    }
    return std::nullopt;
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
