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

inline QByteArray joined(const QList<QImage>& pictures, const QString& format) {
    QTemporaryDir dir;
    QStringList args;
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        args << dir.filePath(QString::number(i) + QStringLiteral(".png"));
        pictures.at(i).save(args.last());
    }
    const QString out = dir.filePath(QStringLiteral("out"));
    args << QStringLiteral("-define") << QStringLiteral("webp:lossless=true") << format + u':' + out;
    QFile file(out);
    if (QProcess::execute(QStringLiteral("convert"), args) != 0 || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline QByteArray tiff(const QList<QImage>& pages) {
    return joined(pages, QStringLiteral("tiff"));
}
inline QByteArray webp(const QList<QImage>& frames) {
    return joined(frames, QStringLiteral("webp"));
}

inline QByteArray be32(quint32 v) {
    QByteArray out(4, '\0');
    qToBigEndian(v, out.data());
    return out;
}

inline QByteArray pngChunk(const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type, 4) + data;
    return be32(quint32(data.size())) + body +
           be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

// Frames of the same size; the first is also the picture a reader without animation shows.
inline QByteArray png(const QList<QImage>& frames) {
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    quint32 sequence = 0;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QByteArray single, data;
        QBuffer buffer(&single);
        frames.at(i).save(&buffer, "png");
        for (qsizetype at = 8, length = 0; at + 12 <= single.size(); at += 12 + length) {
            length = qFromBigEndian<quint32>(single.constData() + at);
            if (single.mid(at + 4, 4) == "IDAT")
                data += single.mid(at + 8, length);
        }
        if (i == 0) // IHDR's data is always the 13 bytes after the signature and its chunk head
            out += pngChunk("IHDR", single.mid(16, 13)) + pngChunk("acTL", be32(quint32(frames.size())) + be32(0));
        const QSize size = frames.at(i).size();
        out += pngChunk("fcTL", be32(sequence++) + be32(quint32(size.width())) + be32(quint32(size.height())) +
                                    be32(0) + be32(0) + QByteArray("\0\1\0\12\0\0", 6)); // 1/10 s, no disposal
        out += i == 0 ? pngChunk("IDAT", data) : pngChunk("fdAT", be32(sequence++) + data);
    }
    return out + pngChunk("IEND", {});
}

} // namespace ManyPictures
