#pragma once
// The picture file formats this program reads and writes, with the names shown for them.

#include <QList>
#include <QString>
#include <QUrl>
#include <QtGlobal>
#include <functional>
#include <optional>

class ImageFormat {
public:
    enum Value : quint8 { png, jpeg, webp, heic, tiff, pdf };

    constexpr ImageFormat(Value v) : value(v) {}
    constexpr operator Value() const { return value; }

    // "png", "jpeg", "webp", "heic", "tiff", "pdf".
    QString rawValue() const;
    // The name shown to the user: "PNG", "JPEG", "WebP", "HEIC", "TIFF", "PDF".
    QString title() const;
    // The extension written for the format ("jpg" for JPEG).
    QString ext() const;
    // The MIME type of the picture writer; nothing for PDF, which is written as a document page instead.
    std::optional<QString> utType() const;

    // By the lower-cased extension of the file name; nothing for any other extension (gif, heif, none).
    static std::optional<ImageFormat> of(const QUrl& url);
    // The reader a file handed to the program goes through: of(), and HEIC also for the other names the desktop
    // gives HEIF files (heif, hif), which the program is registered to open.
    static std::optional<ImageFormat> readAs(const QUrl& url);
    // The format whose raw value is exactly `raw`.
    static std::optional<ImageFormat> fromRawValue(const QString& raw);
    static QList<ImageFormat> allCases();
    // The formats this machine can write, in declaration order; PDF always. Asked afresh on every call.
    static QList<ImageFormat> available();

    Value value;
};

inline size_t qHash(ImageFormat format, size_t seed = 0) noexcept {
    return ::qHash(int(format.value), seed);
}

template <> struct std::hash<ImageFormat> {
    size_t operator()(ImageFormat format) const noexcept { return std::hash<int>()(int(format.value)); }
};
