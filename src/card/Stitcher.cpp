#include "card/Stitcher.h"

#include "imaging/UserError.h"

#include <QString>
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace Stitcher {

namespace {

// changed(): about this many rows are sampled, and their summed difference may reach 40 full rows of
// one grey step per sample before the frame counts as new.
constexpr int sampledRows = 40;
constexpr int changedTotalLimit = signatureWidth * 40;

// staticColumns(): a column is static when at least 92 % of its rows differ by less than 7.
constexpr int staticTolerance = 7;
constexpr int staticPercent = 92;

// newRows()
constexpr int minRows = 21;
constexpr int minColumns = 12;
constexpr int rowChangeMean = 3;      // a row changed when its mean difference is above this
constexpr int changedRowDivisor = 14; // fewer than R / 14 changed rows: nothing scrolled
constexpr int minShift = 2;
constexpr int bottomMargin = 11; // the largest shift tried is R - 11
constexpr int agreeTolerance = 14;
constexpr int agreeTenths = 7; // a row matches when 70 % of its columns agree
constexpr int minTested = 8;
constexpr double minRatio = 0.72;
// Among shifts whose probes agree, the one whose whole overlap differs least (mean grey difference per
// sample) is the true one: lines of text that look alike (numbered lines, a list, bands of similar
// colour) agree within the probes' tolerance at many shifts, but only one repeats every row exactly.
// One overlap beats another when it differs clearly less: by a quarter, and at least by a tenth of a
// grey level (a moving scrollbar thumb keeps even the true shift from a perfect 0).
bool clearlyBetter(double mean, double than) {
    return mean < than - std::max(0.1, than * 0.25);
}

QString cantStitch() {
    return QStringLiteral("Can't stitch");
}

inline int absDiff(quint8 a, quint8 b) {
    return a > b ? a - b : b - a;
}

int rowDistance(const SignatureRow& a, const SignatureRow& b) {
    int sum = 0;
    for (int c = 0; c < signatureWidth; ++c)
        sum += absDiff(a[c], b[c]);
    return sum;
}

// 32-bit pixels whose colour channels can be read as they are: opaque, or already premultiplied (which is
// the picture drawn over black).
bool readableAsIs(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

// Squeezes pixel rows into signature rows. Pixels in other formats are converted a chunk of rows at a
// time, so a tall frame is never duplicated whole.
class RowSampler {
public:
    RowSampler(const QImage& image, int chunkRows) : image(image), chunkRows(chunkRows) {
        const qint64 w = image.width();
        for (int c = 0; c < signatureWidth; ++c) {
            // Bands split the row evenly; a row narrower than 64 pixels repeats its pixels.
            const qint64 start = c * w / signatureWidth;
            const qint64 end = std::max(start + 1, (c + 1) * w / signatureWidth);
            bandStart[c] = int(start);
            bandEnd[c] = int(end);
        }
    }

    bool sample(int y, SignatureRow& out) {
        const QRgb* px = row(y);
        if (!px)
            return false;
        for (int c = 0; c < signatureWidth; ++c) {
            quint64 r = 0, g = 0, b = 0;
            // Red and blue are summed side by side in one word; 256 pixels cannot carry blue into red.
            for (int x = bandStart[c]; x < bandEnd[c];) {
                const int stop = std::min(bandEnd[c], x + 256);
                quint32 rb = 0, gg = 0;
                for (; x < stop; ++x) {
                    const QRgb p = px[x];
                    rb += p & 0x00ff00ff;
                    gg += p & 0x0000ff00;
                }
                r += rb >> 16;
                g += gg >> 8;
                b += rb & 0xffff;
            }
            // Rec. 601 luma with weights summing to 256, rounded to the nearest grey.
            const quint64 n = quint64(bandEnd[c] - bandStart[c]);
            out[c] = quint8((77 * r + 150 * g + 29 * b + 128 * n) / (256 * n));
        }
        return true;
    }

private:
    const QRgb* row(int y) {
        if (readableAsIs(image.format()))
            return reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (chunk.isNull() || y < chunkTop || y >= chunkTop + chunk.height()) {
            chunkTop = y;
            const int rows = std::min(chunkRows, image.height() - y);
            chunk = image.copy(0, y, image.width(), rows).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (chunk.isNull())
                return nullptr;
        }
        return reinterpret_cast<const QRgb*>(chunk.constScanLine(y - chunkTop));
    }

    const QImage& image;
    const int chunkRows;
    QImage chunk;
    int chunkTop = 0;
    std::array<int, signatureWidth> bandStart{};
    std::array<int, signatureWidth> bandEnd{};
};

int changedStep(qint64 rows) {
    return rows < sampledRows ? 1 : int(rows / sampledRows);
}

// How many listed columns of two rows agree within the tolerance. The mask is 1 for listed columns and 0
// for the others, which keeps the loop free of branches.
inline int agreeing(const SignatureRow& a, const SignatureRow& b, const SignatureRow& mask) {
    int n = 0;
    for (int c = 0; c < signatureWidth; ++c)
        n += int(absDiff(a[c], b[c]) <= agreeTolerance) & mask[c];
    return n;
}

inline int listedDistance(const SignatureRow& a, const SignatureRow& b, const SignatureRow& mask) {
    int sum = 0;
    for (int c = 0; c < signatureWidth; ++c)
        sum += absDiff(a[c], b[c]) * mask[c];
    return sum;
}

} // namespace

Signature signatures(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    try {
        Signature sig(size_t(image.height()));
        RowSampler sampler(image, 64);
        for (int y = 0; y < image.height(); ++y) {
            if (!sampler.sample(y, sig[size_t(y)]))
                return {};
        }
        return sig;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool changed(const Signature& a, const Signature& b) {
    if (a.size() != b.size() || a.empty())
        return true;
    const size_t step = size_t(changedStep(qint64(a.size())));
    qint64 total = 0;
    for (size_t i = 0; i < a.size(); i += step)
        total += rowDistance(a[i], b[i]);
    return total > changedTotalLimit;
}

bool changed(const QImage& a, const QImage& b) {
    const int rows = a.isNull() ? 0 : a.height();
    const int rowsB = b.isNull() ? 0 : b.height();
    if (rows != rowsB || rows <= 0)
        return true;
    // Only the sampled rows are squeezed: this runs after every grab on the UI thread.
    const int step = changedStep(rows);
    RowSampler sa(a, 1), sb(b, 1);
    qint64 total = 0;
    for (int y = 0; y < rows; y += step) {
        SignatureRow ra, rb;
        if (!sa.sample(y, ra) || !sb.sample(y, rb))
            return true;
        total += rowDistance(ra, rb);
    }
    return total > changedTotalLimit;
}

ColumnFlags staticColumns(const Signature& prev, const Signature& next) {
    ColumnFlags flags{};
    const qint64 rows = qint64(prev.size());
    if (rows == 0)
        return flags;
    // Rows missing from next count as changed rather than being read past its end.
    const size_t common = std::min(prev.size(), next.size());
    std::array<qint64, signatureWidth> same{};
    for (size_t i = 0; i < common; ++i) {
        for (int c = 0; c < signatureWidth; ++c)
            same[c] += absDiff(prev[i][c], next[i][c]) < staticTolerance;
    }
    for (int c = 0; c < signatureWidth; ++c)
        flags[c] = same[c] * 100 >= rows * staticPercent;
    return flags;
}

namespace {

// The shift from prev to next (0 when nothing moved) and the mean difference of its overlap.
std::optional<std::pair<int, double>> bestShift(const Signature& prev, const Signature& next) {
    if (prev.size() < size_t(minRows) || prev.size() > size_t(INT_MAX) || next.size() < prev.size())
        return std::nullopt;
    const int rows = int(prev.size());

    const ColumnFlags fixed = staticColumns(prev, next);
    SignatureRow mask{};
    int listed = 0;
    for (int c = 0; c < signatureWidth; ++c) {
        mask[c] = fixed[c] ? 0 : 1;
        listed += mask[c];
    }
    if (listed < minColumns) {
        mask.fill(1);
        listed = signatureWidth;
    }

    std::vector<int> changedRows;
    for (int r = 0; r < rows; ++r) {
        if (listedDistance(prev[size_t(r)], next[size_t(r)], mask) / listed > rowChangeMean)
            changedRows.push_back(r);
    }
    if (qint64(changedRows.size()) < rows / changedRowDivisor)
        return std::make_pair(0, 0.0);

    std::vector<int> probes;
    for (size_t i = 0; i < changedRows.size(); i += 2)
        probes.push_back(changedRows[i]);

    std::optional<int> best;
    double bestMismatch = 0;
    for (int s = minShift; s <= rows - bottomMargin; ++s) {
        // Probes are in increasing order, so those that stay inside prev are a prefix.
        const int tested = int(std::lower_bound(probes.begin(), probes.end(), rows - s) - probes.begin());
        if (tested < minTested)
            break; // fewer still for every larger shift
        // The probes only pick the candidates: a shift whose misses already rule out the acceptance ratio
        // is given up at once. Ratios use the same division as below, so the bound is exact.
        int matched = 0;
        bool hopeless = false;
        for (int k = 0; k < tested; ++k) {
            const int r = probes[size_t(k)];
            if (agreeing(prev[size_t(r + s)], next[size_t(r)], mask) * 10 >= listed * agreeTenths)
                ++matched;
            if (double(matched + tested - 1 - k) / tested <= minRatio) {
                hopeless = true;
                break;
            }
        }
        if (hopeless || double(matched) / tested <= minRatio)
            continue;
        // Every changed row of the overlap, sample by sample; rows that stay put (a title bar, a status
        // line) say nothing about the shift and are left out as the probes are.
        const int compared =
            int(std::lower_bound(changedRows.begin(), changedRows.end(), rows - s) - changedRows.begin());
        qint64 difference = 0;
        for (int k = 0; k < compared; ++k) {
            const int r = changedRows[size_t(k)];
            difference += listedDistance(prev[size_t(r + s)], next[size_t(r)], mask);
        }
        const double mismatch = double(difference) / (double(compared) * listed);
        if (!best || clearlyBetter(mismatch, bestMismatch)) {
            best = s;
            bestMismatch = mismatch;
        }
    }
    if (!best)
        return std::nullopt;
    return std::make_pair(*best, bestMismatch);
}

} // namespace

std::optional<int> newRows(const Signature& prev, const Signature& next) {
    const auto forward = bestShift(prev, next);
    if (!forward || forward->first == 0)
        return forward ? std::optional<int>(0) : std::nullopt;
    // A window scrolled back up also lines up, badly, at some downward shift when its rows look alike;
    // when the content lines up better moved down, that is what happened, and nothing is new below.
    const auto backward = bestShift(next, prev);
    if (backward && backward->first > 0 && clearlyBetter(backward->second, forward->second))
        return std::nullopt;
    return forward->first;
}

std::optional<int> newRows(const QImage& prev, const QImage& next) {
    if (prev.size() != next.size())
        return std::nullopt;
    const Signature p = signatures(prev);
    if (qint64(p.size()) < minRows)
        return std::nullopt;
    return newRows(p, signatures(next));
}

namespace {

// Fixed parts of the window (a scrollbar with its arrows and thumb, a still sidebar) stand in the same place
// in every frame while the page moves under them. Over the rows both frames show, a pixel column of the page
// matches the earlier frame `shift` rows further down; a fixed column matches it in the same place, and
// clearly better so. Plain page (a margin, a wide band of one colour) matches both ways alike and is kept
// as page. A column counts as fixed only where the new rows, too, are what the earlier frame showed there.
constexpr int fixedPercent = 90;  // at least this share of the overlap the same in place
constexpr int fixedTolerance = 6; // per colour channel

inline bool samePixel(QRgb a, QRgb b) {
    return a == b ||
           (std::abs(qRed(a) - qRed(b)) <= fixedTolerance && std::abs(qGreen(a) - qGreen(b)) <= fixedTolerance &&
            std::abs(qBlue(a) - qBlue(b)) <= fixedTolerance && std::abs(qAlpha(a) - qAlpha(b)) <= fixedTolerance);
}

// Which columns of `next`'s bottom `shift` rows belong to fixed parts, `next` being `prev` scrolled up by
// `shift` rows (same size, both premultiplied 32-bit, shift less than the height).
std::vector<bool> fixedColumns(const QImage& prev, const QImage& next, int shift) {
    const int width = prev.width(), height = prev.height();
    const int overlap = height - shift;
    std::vector<int> inPlace(static_cast<size_t>(width), 0), moved(static_cast<size_t>(width), 0);
    std::vector<bool> stripSame(static_cast<size_t>(width), true);
    for (int y = 0; y < height; ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(prev.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(next.constScanLine(y));
        if (y < overlap) {
            const auto* below = reinterpret_cast<const QRgb*>(prev.constScanLine(y + shift));
            for (int x = 0; x < width; ++x) {
                inPlace[size_t(x)] += samePixel(a[x], b[x]);
                moved[size_t(x)] += samePixel(below[x], b[x]);
            }
        } else {
            for (int x = 0; x < width; ++x)
                if (!samePixel(a[x], b[x]))
                    stripSame[size_t(x)] = false;
        }
    }
    std::vector<bool> fixed(static_cast<size_t>(width), false);
    for (int x = 0; x < width; ++x) {
        const qint64 stillMisses = overlap - inPlace[size_t(x)], movedMisses = overlap - moved[size_t(x)];
        fixed[size_t(x)] = stripSame[size_t(x)] && qint64(inPlace[size_t(x)]) * 100 >= qint64(overlap) * fixedPercent &&
                           movedMisses >= 2 && movedMisses > 2 * stillMisses;
    }
    return fixed;
}

// The colour a fixed column shows most often in a frame: the scrollbar's track, a margin's ground.
QRgb commonColour(const QImage& frame, int x) {
    std::vector<QRgb> column(size_t(frame.height()));
    for (int y = 0; y < frame.height(); ++y)
        column[size_t(y)] = reinterpret_cast<const QRgb*>(frame.constScanLine(y))[x];
    std::sort(column.begin(), column.end());
    QRgb best = column.front();
    size_t bestRun = 0;
    for (size_t i = 0; i < column.size();) {
        size_t j = i;
        while (j < column.size() && column[j] == column[i])
            ++j;
        if (j - i > bestRun) {
            bestRun = j - i;
            best = column[i];
        }
        i = j;
    }
    return best;
}

} // namespace

QImage stitch(const QList<QImage>& frames, const QList<int>& offsets) {
    if (frames.isEmpty())
        throw ConvertError(cantStitch());
    const QImage& first = frames.front();
    const int width = first.width();
    const int height = first.height();
    if (first.isNull() || width <= 0 || height <= 0)
        throw ConvertError(cantStitch());

    // Only offsets that have a frame to take rows from count, and a negative one adds nothing: otherwise
    // the picture would end in empty rows or lose the top of the first frame.
    const qsizetype used = std::min<qsizetype>(offsets.size(), frames.size() - 1);
    qint64 total = height;
    for (qsizetype i = 0; i < used && total <= maxStitchRows; ++i)
        total += std::max(0, offsets[i]);
    // Checked before allocating: on an overcommitting system a huge allocation would succeed and the
    // process be killed later, when the rows are written.
    if (total > maxStitchRows || qint64(width) * total * 4 > maxStitchBytes)
        throw ConvertError(cantStitch());

    QImage out(width, int(total), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        throw ConvertError(cantStitch());
    const size_t rowBytes = size_t(width) * 4;

    // Copies rows [from, from + count) of a frame of the first frame's size to rows starting at `to`.
    auto place = [&](const QImage& frame, int from, int count, int to) {
        if (readableAsIs(frame.format())) {
            for (int i = 0; i < count; ++i)
                std::memcpy(out.scanLine(to + i), frame.constScanLine(from + i), rowBytes);
            return;
        }
        const QImage band = frame.copy(0, from, width, count).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (band.isNull())
            throw ConvertError(cantStitch());
        for (int i = 0; i < count; ++i)
            std::memcpy(out.scanLine(to + i), band.constScanLine(i), rowBytes);
    };

    // Frames as premultiplied 32-bit pixels of the first frame's size, for comparing them with each other.
    auto comparable = [&](QImage frame) {
        if (!frame.isNull() && frame.size() != first.size())
            frame = frame.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!frame.isNull() && !readableAsIs(frame.format()))
            frame = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        return frame;
    };

    place(first, 0, height, 0);
    const QImage firstPixels = comparable(first);
    QImage previous = firstPixels;
    std::vector<QRgb> ground(static_cast<size_t>(width), 0);
    std::vector<bool> groundKnown(size_t(width), false);
    int y = height;
    for (qsizetype i = 0; i < used; ++i) {
        const int offset = std::max(0, offsets[i]);
        if (offset == 0)
            continue;
        const QImage frame = comparable(frames[i + 1]);
        if (!frames[i + 1].isNull() && frame.isNull())
            throw ConvertError(cantStitch());
        // The frame's bottom edge sits on the bottom of its band; a band taller than a frame keeps a
        // transparent gap above it, and a frame that is no picture leaves the whole band transparent.
        const int rows = frame.isNull() ? 0 : std::min(offset, height);
        for (int g = 0; g < offset - rows; ++g)
            std::memset(out.scanLine(y + g), 0, rowBytes);
        if (rows > 0) {
            const int top = y + offset - rows;
            place(frame, height - rows, rows, top);
            // The window's fixed parts were placed once, with the first frame; in a joined strip their columns
            // show what those columns show most, so a scrollbar's arrow does not come back on every strip.
            if (rows < height && !previous.isNull()) {
                const std::vector<bool> fixed = fixedColumns(previous, frame, rows);
                for (int x = 0; x < width; ++x) {
                    if (!fixed[size_t(x)])
                        continue;
                    if (!groundKnown[size_t(x)]) {
                        ground[size_t(x)] = commonColour(firstPixels, x);
                        groundKnown[size_t(x)] = true;
                    }
                    for (int r = 0; r < rows; ++r)
                        reinterpret_cast<QRgb*>(out.scanLine(top + r))[x] = ground[size_t(x)];
                }
            }
        }
        previous = frame;
        y += offset;
    }
    return out;
}

} // namespace Stitcher
