#pragma once
// The user's signatures: transparent PNG files "sig-<milliseconds>.png" in the data folder, oldest first,
// and the turning of a photographed signature into ink on transparency.

#include <QImage>
#include <QList>
#include <QString>

#include <optional>

class SignatureStore {
public:
    SignatureStore() = delete;

    // <data>/Signatures, created on every call.
    static QString dir();
    // Every "*.png" (exactly lower case) in the folder, sorted by name.
    static QList<QString> all();
    // Writes a new file, never over an existing one; its path, or nothing when writing failed.
    static std::optional<QString> save(const QImage& image, qint64 nowMs);
    static std::optional<QString> save(const QImage& image);
    // A picture of a signature as black ink on transparency cropped to the ink; nothing without ink.
    static std::optional<QImage> cleaned(const QImage& image);
    static void remove(const QString& path);
    // A stored signature's picture; nothing when it is unreadable or implausibly large.
    static std::optional<QImage> read(const QString& path);
};
