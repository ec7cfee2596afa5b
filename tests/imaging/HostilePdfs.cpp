#include "HostilePdfs.h"

#include <QList>

#include <algorithm>
#include <functional>

#include <zlib.h>

namespace HostilePdfs {

namespace {

QByteArray deflated(const std::function<QByteArray(qint64)>& chunk, qint64 total) {
    z_stream z{};
    deflateInit(&z, Z_BEST_SPEED);
    QByteArray out;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0; done < total;) {
        QByteArray in = chunk(std::min<qint64>(total - done, 1 << 24));
        done += in.size();
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = uInt(in.size());
        const int flush = done >= total ? Z_FINISH : Z_NO_FLUSH;
        int status = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = uInt(buffer.size());
            status = deflate(&z, flush);
            out.append(buffer.constData(), buffer.size() - qsizetype(z.avail_out));
        } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }
    deflateEnd(&z);
    return out;
}

QByteArray document(const QByteArray& stream) {
    return objects({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream +
            "\nendstream",
    });
}

} // namespace

QByteArray objects(const QList<QByteArray>& objects, const QByteArray& trailer) {
    QByteArray pdf = "%PDF-1.7\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " + trailer +
           " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray stream(const QByteArray& data, const QByteArray& entries) {
    return "<< /Length " + QByteArray::number(data.size()) + " " + entries + " >>\nstream\n" + data + "\nendstream";
}

QByteArray busyPage(int lines) {
    const QByteArray stroke = "10 10 m 600 780 l S\n";
    return document(deflated([&](qint64 n) { return stroke.repeated(qsizetype(n / stroke.size())); },
                             qint64(lines) * stroke.size()));
}

QByteArray inflating(qint64 bytes) {
    return document(deflated([](qint64 n) { return QByteArray(qsizetype(n), ' '); }, bytes));
}

} // namespace HostilePdfs
