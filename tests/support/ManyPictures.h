#pragma once
// Picture files that hold more than one picture, and a WebP that claims far more than its bytes. ImageMagick writes
// the TIFF and the WebP; it writes no animated PNG without a video library, so that one is put together here from
// the toolkit's single pictures.

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

namespace ManyPictures {

// The pictures as the pages or frames of one file in the format ("tiff", "webp"; lossless).
inline QByteArray file(const QList<QImage>& pictures, const QString& format) {
    QTemporaryDir dir;
    QStringList args;
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        args << dir.filePath(QString::number(i) + QStringLiteral(".png"));
        pictures.at(i).save(args.last());
    }
    const QString out = dir.filePath(QStringLiteral("out"));
    args << QStringLiteral("-define") << QStringLiteral("webp:lossless=true") << format + u':' + out;
    QFile made(out);
    if (QProcess::execute(QStringLiteral("convert"), args) != 0 || !made.open(QIODevice::ReadOnly))
        return {};
    return made.readAll();
}

// An animated PNG of `frames` frames of the picture, the first also what a reader without animation shows.
inline QByteArray png(const QImage& picture, quint32 frames) {
    QByteArray single, data;
    QBuffer buffer(&single);
    picture.save(&buffer, "png");
    for (qsizetype at = 8, length = 0; at + 12 <= single.size(); at += 12 + length) {
        length = qFromBigEndian<quint32>(single.constData() + at);
        if (single.mid(at + 4, 4) == "IDAT")
            data += single.mid(at + 8, length);
    }
    const auto be32 = [](quint32 v) {
        v = qToBigEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&v), 4);
    };
    const auto chunk = [&](const char* type, const QByteArray& body) {
        const QByteArray typed = QByteArray(type, 4) + body;
        return be32(quint32(body.size())) + typed +
               be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))));
    };
    // IHDR's data is always the 13 bytes after the signature and its chunk head.
    QByteArray out =
        QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", single.mid(16, 13)) + chunk("acTL", be32(frames) + be32(0));
    for (quint32 i = 0, sequence = 0; i < frames; ++i) {
        out += chunk("fcTL", be32(sequence++) + be32(quint32(picture.width())) + be32(quint32(picture.height())) +
                                 be32(0) + be32(0) + QByteArray("\0\1\0\12\0\0", 6)); // 1/10 s, no disposal
        out += i == 0 ? chunk("IDAT", data) : chunk("fdAT", be32(sequence++) + data);
    }
    return out + chunk("IEND", {});
}

// A lossless WebP of one colour: every prefix code has a single symbol, so each pixel costs no bits and a
// picture of any size fits in a few bytes, while decoding it takes its full size in memory.
inline QByteArray oneColourWebp(int width, int height) {
    QList<bool> bits;
    const auto put = [&](quint32 value, int count) {
        for (int i = 0; i < count; ++i)
            bits.append((value >> i) & 1);
    };
    put(quint32(width - 1), 14);
    put(quint32(height - 1), 14);
    put(0, 4);                                                 // no alpha hint, version 0
    put(0, 3);                                                 // no transform, no colour cache, no meta prefix codes
    for (const quint32 symbol : {128u, 48u, 192u, 255u, 0u}) { // green, red, blue, alpha, distance
        put(1, 2);                                             // a simple code of one symbol
        put(1, 1);                                             // an 8-bit symbol
        put(symbol, 8);
    }
    QByteArray data(1, '\x2f');
    for (qsizetype i = 0; i < bits.size(); i += 8) {
        char byte = 0;
        for (int j = 0; j < 8 && i + j < bits.size(); ++j)
            byte = char(byte | (bits[i + j] << j));
        data.append(byte);
    }
    const quint32 size = quint32(data.size());
    if (data.size() % 2)
        data.append('\0');
    const auto le = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    const QByteArray body = "VP8L" + le(size) + data;
    return "RIFF" + le(quint32(4 + body.size())) + "WEBP" + body;
}

} // namespace ManyPictures
