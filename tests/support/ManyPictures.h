#pragma once
// Picture files that hold more than one picture. ImageMagick writes the TIFF and the WebP; it writes no animated
// PNG without a video library, so that one is put together here from the toolkit's single pictures.

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

} // namespace ManyPictures
