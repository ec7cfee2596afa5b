#pragma once
// Home trees built by the library tests: files with given bytes, PNGs that carry a Software text.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <QtEndian>
#include <zlib.h>

namespace LibraryFixtures {

inline QString put(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

inline QByteArray chunk(const char* type, const QByteArray& data) {
    QByteArray out(4, 0);
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
                          crc.data());
    return out + body + crc;
}

// A PNG header, an IHDR, an optional text chunk ("tEXt" or "iTXt") and IEND; no pixels are needed
// to test what is read before them.
inline QByteArray png(const char* textType = nullptr, const QByteArray& software = {}) {
    QByteArray ihdr(13, 0);
    ihdr[3] = 1;
    ihdr[7] = 1;
    ihdr[8] = 8;
    ihdr[9] = 6;
    QByteArray bytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr);
    if (textType && QByteArray(textType) == "tEXt")
        bytes += chunk("tEXt", QByteArray("Software", 9) + software);
    else if (textType)
        bytes += chunk("iTXt", QByteArray("Software", 9) + QByteArray(2, 0) + QByteArray(2, 0) + software);
    return bytes + chunk("IEND", {});
}

} // namespace LibraryFixtures
