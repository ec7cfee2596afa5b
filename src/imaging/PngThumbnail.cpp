#include "imaging/PngThumbnail.h"

#include "imaging/PngReader.h"

#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace PngThumbnail {

namespace {

bool isPng(const QByteArray& bytes) {
    return bytes.size() >= 33 && PngReader::recognizes(bytes);
}

quint32 bigEndian(const QByteArray& bytes, int at) {
    const auto* d = reinterpret_cast<const unsigned char*>(bytes.constData()) + at;
    return quint32(d[0]) << 24 | quint32(d[1]) << 16 | quint32(d[2]) << 8 | d[3];
}

// The source pixels that fall into each of `to` cells: cell i covers [edges[i], edges[i + 1]).
std::vector<int> boxEdges(int from, int to) {
    std::vector<int> edges(size_t(to) + 1);
    for (int i = 0; i <= to; ++i)
        edges[size_t(i)] = int(qint64(i) * from / to);
    return edges;
}

// Everything the reduction allocates, owned outside the frames a libpng error jumps out of.
struct Work {
    QImage out;
    std::vector<int> columns, rows;
    std::vector<png_byte> row;
    std::vector<quint64> sums;
};

// The row-by-row reduction. Nothing here may have a destructor: an error longjmps past it.
bool reduce(png_structp png, png_infop info, QSize target, Work* work) {
    png_read_info(png, info);
    const int width = int(png_get_image_width(png, info));
    const int height = int(png_get_image_height(png, info));
    if (width < target.width() || height < target.height() || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    bool alpha = false;
    if (!PngReader::toRgba8(png, info, &alpha))
        return false;

    work->out = QImage(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (work->out.isNull())
        return false;
    work->columns = boxEdges(width, target.width());
    work->rows = boxEdges(height, target.height());
    const std::vector<int>& columns = work->columns;
    const std::vector<int>& rows = work->rows;
    work->row.resize(size_t(width) * 4);
    work->sums.assign(size_t(target.width()) * 4, 0);
    std::vector<png_byte>& row = work->row;
    std::vector<quint64>& sums = work->sums;
    int outRow = 0;
    for (int y = 0; y < height; ++y) {
        png_read_row(png, row.data(), nullptr);
        // Each cell's span of the row summed in registers; with alpha, averaged premultiplied as the smooth
        // scaling of such a picture does.
        for (int cell = 0; cell < target.width(); ++cell) {
            const png_byte* p = row.data() + size_t(columns[size_t(cell)]) * 4;
            const png_byte* end = row.data() + size_t(columns[size_t(cell) + 1]) * 4;
            quint32 r = 0, g = 0, b = 0, a = 0;
            if (alpha) {
                for (; p < end; p += 4) {
                    const quint32 k = p[3];
                    r += (p[0] * k + 127) / 255;
                    g += (p[1] * k + 127) / 255;
                    b += (p[2] * k + 127) / 255;
                    a += k;
                }
            } else {
                for (; p < end; p += 4) {
                    r += p[0];
                    g += p[1];
                    b += p[2];
                }
            }
            quint64* sum = &sums[size_t(cell) * 4];
            sum[0] += r;
            sum[1] += g;
            sum[2] += b;
            sum[3] += a;
        }
        if (y + 1 < rows[size_t(outRow) + 1])
            continue;
        const quint64 tall = quint64(rows[size_t(outRow) + 1] - rows[size_t(outRow)]);
        auto* line = reinterpret_cast<QRgb*>(work->out.scanLine(outRow));
        for (int cell = 0; cell < target.width(); ++cell) {
            const quint64 n = tall * quint64(columns[size_t(cell) + 1] - columns[size_t(cell)]);
            quint64* sum = &sums[size_t(cell) * 4];
            line[cell] = qRgba(int((sum[0] + n / 2) / n), int((sum[1] + n / 2) / n), int((sum[2] + n / 2) / n),
                               alpha ? int((sum[3] + n / 2) / n) : 255);
        }
        std::fill(sums.begin(), sums.end(), 0);
        ++outRow;
    }
    // Through to the end chunk: a file cut short after its last row is still a broken file.
    png_read_end(png, nullptr);
    return true;
}

bool run(png_structp png, png_infop info, QSize target, Work* work) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    return reduce(png, info, target, work);
}

} // namespace

QSize size(const QByteArray& bytes) {
    if (!isPng(bytes) || bytes.mid(12, 4) != "IHDR")
        return {};
    const quint32 w = bigEndian(bytes, 16), h = bigEndian(bytes, 20);
    if (w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff)
        return {};
    return QSize(int(w), int(h));
}

bool applies(const QByteArray& bytes, QSize target) {
    const QSize full = size(bytes);
    if (!full.isValid() || target.isEmpty() || full == target)
        return false;
    return full.width() >= target.width() && full.height() >= target.height() && bytes.at(28) == 0;
}

QImage decode(const QByteArray& bytes, QSize target) {
    if (!applies(bytes, target))
        return {};
    Work work;
    PngReader::Session session(bytes);
    if (!session.ok() || !run(session.png, session.info, target, &work))
        return {};
    return work.out;
}

} // namespace PngThumbnail
