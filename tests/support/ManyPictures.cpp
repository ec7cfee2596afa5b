#include "ManyPictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

#include <zlib.h>

namespace ManyPictures {

namespace {

QByteArray written(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

void le16(QByteArray& out, quint32 v) {
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void le24(QByteArray& out, quint32 v) {
    le16(out, v & 0xFFFF);
    out.append(char((v >> 16) & 0xFF));
}
void le32(QByteArray& out, quint32 v) {
    le16(out, v & 0xFFFF);
    le16(out, v >> 16);
}
void be32(QByteArray& out, quint32 v) {
    for (int shift : {24, 16, 8, 0})
        out.append(char((v >> shift) & 0xFF));
}
void setLe32(QByteArray& out, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = char((v >> (8 * i)) & 0xFF);
}

QByteArray riffChunk(const QByteArray& type, const QByteArray& data) {
    QByteArray out = type;
    le32(out, quint32(data.size()));
    out += data;
    if (data.size() % 2)
        out.append('\0');
    return out;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    QByteArray out;
    be32(out, quint32(data.size()));
    const QByteArray body = type + data;
    out += body;
    be32(out, quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    return out;
}

// The chunks of a PNG file by type, in order, their data only.
QList<std::pair<QByteArray, QByteArray>> pngChunks(const QByteArray& file) {
    QList<std::pair<QByteArray, QByteArray>> chunks;
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const quint32 length = qFromBigEndian<quint32>(file.constData() + at);
        chunks.append({file.mid(at + 4, 4), file.mid(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

QByteArray frameControl(quint32 sequence, QSize size) {
    QByteArray data;
    for (quint32 v : {sequence, quint32(size.width()), quint32(size.height()), 0u, 0u})
        be32(data, v);
    data.append('\0').append(char(1)).append('\0').append(char(10)); // 1/10 s
    data.append('\0').append('\0');                                  // no disposal, source over nothing
    return data;
}

} // namespace

QByteArray tiff(const QList<QImage>& pages) {
    QByteArray out("II*\0", 4);
    le32(out, 0);
    qsizetype nextPointer = 4;
    for (const QImage& page : pages) {
        const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
        const quint32 data = quint32(out.size());
        for (int y = 0; y < rgb.height(); ++y)
            out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
        const quint32 bits = quint32(out.size());
        for (int i = 0; i < 3; ++i)
            le16(out, 8);
        le16(out, 0);
        setLe32(out, nextPointer, quint32(out.size()));
        const struct {
            quint16 tag, type;
            quint32 count, value;
        } entries[] = {
            {256, 4, 1, quint32(rgb.width())},
            {257, 4, 1, quint32(rgb.height())},
            {258, 3, 3, bits},
            {259, 3, 1, 1},
            {262, 3, 1, 2},
            {273, 4, 1, data},
            {277, 3, 1, 3},
            {278, 4, 1, quint32(rgb.height())},
            {279, 4, 1, quint32(rgb.width() * rgb.height() * 3)},
            {284, 3, 1, 1},
        };
        le16(out, quint32(std::size(entries)));
        for (const auto& e : entries) {
            le16(out, e.tag);
            le16(out, e.type);
            le32(out, e.count);
            le32(out, e.value);
        }
        nextPointer = out.size();
        le32(out, 0);
    }
    return out;
}

QByteArray webp(const QList<QImage>& frames) {
    const QSize size = frames.value(0).size();
    QByteArray vp8x;
    vp8x.append(char(0x02 | 0x10)).append(3, '\0'); // animation, alpha
    le24(vp8x, quint32(size.width() - 1));
    le24(vp8x, quint32(size.height() - 1));
    QByteArray anim;
    le32(anim, 0xFFFFFFFF);
    le16(anim, 0);
    QByteArray body = QByteArray("WEBP") + riffChunk("VP8X", vp8x) + riffChunk("ANIM", anim);
    for (const QImage& frame : frames) {
        const QByteArray single = written(frame, "webp", 100);
        // The single picture's own bitstream chunks, after "RIFF", its size and "WEBP".
        QByteArray bitstream;
        for (qsizetype at = 12; at + 8 <= single.size();) {
            const QByteArray type = single.mid(at, 4);
            const quint32 length = qFromLittleEndian<quint32>(single.constData() + at + 4);
            const qsizetype whole = 8 + length + (length % 2);
            if (type == "VP8L" || type == "VP8 " || type == "ALPH")
                bitstream += single.mid(at, whole);
            at += whole;
        }
        QByteArray anmf;
        le24(anmf, 0);
        le24(anmf, 0);
        le24(anmf, quint32(frame.width() - 1));
        le24(anmf, quint32(frame.height() - 1));
        le24(anmf, 100);
        anmf.append(char(0x02)); // not blended over the frame before
        body += riffChunk("ANMF", anmf + bitstream);
    }
    QByteArray out("RIFF");
    le32(out, quint32(body.size()));
    return out + body;
}

QByteArray png(const QList<QImage>& frames) {
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    quint32 sequence = 0;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const auto chunks = pngChunks(written(frames.at(i), "png"));
        QByteArray data;
        for (const auto& [type, payload] : chunks)
            if (type == "IDAT")
                data += payload;
        if (i == 0) {
            out += pngChunk("IHDR", chunks.value(0).second);
            QByteArray control;
            be32(control, quint32(frames.size()));
            be32(control, 0);
            out += pngChunk("acTL", control);
            out += pngChunk("fcTL", frameControl(sequence++, frames.at(i).size()));
            out += pngChunk("IDAT", data);
            continue;
        }
        out += pngChunk("fcTL", frameControl(sequence++, frames.at(i).size()));
        QByteArray frameData;
        be32(frameData, sequence++);
        out += pngChunk("fdAT", frameData + data);
    }
    return out + pngChunk("IEND", {});
}

} // namespace ManyPictures
