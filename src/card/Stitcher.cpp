#include "card/Stitcher.h"

#include "card/StitcherRows.h"

#include "imaging/UserError.h"

#include <QString>
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

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
            // Dividing by 256 n is multiplying by its reciprocal rounded up, which is exact while the
            // dividend (below 2^24 for bands of at most 256 pixels) times the divisor stays below
            // 2^reciprocalShift.
            const quint64 divisor = 256 * quint64(end - start);
            bandReciprocal[c] = end - start <= 256 ? ((quint64(1) << reciprocalShift) + divisor - 1) / divisor : 0;
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
#if defined(__SSE2__)
                // Four pixels at a time, each in its own lane: the same sums, split four ways.
                if (stop - x >= 4) {
                    const __m128i rbMask = _mm_set1_epi32(0x00ff00ff), gMask = _mm_set1_epi32(0x0000ff00);
                    __m128i rb4 = _mm_setzero_si128(), g4 = _mm_setzero_si128();
                    for (; x + 4 <= stop; x += 4) {
                        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + x));
                        rb4 = _mm_add_epi32(rb4, _mm_and_si128(p, rbMask));
                        g4 = _mm_add_epi32(g4, _mm_and_si128(p, gMask));
                    }
                    alignas(16) quint32 lanes[8];
                    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), rb4);
                    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), g4);
                    rb = lanes[0] + lanes[1] + lanes[2] + lanes[3];
                    gg = lanes[4] + lanes[5] + lanes[6] + lanes[7];
                }
#endif
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
            const quint64 luma = 77 * r + 150 * g + 29 * b + 128 * n;
            out[c] = quint8(bandReciprocal[c] ? (luma * bandReciprocal[c]) >> reciprocalShift : luma / (256 * n));
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
    static constexpr int reciprocalShift = 40;
    std::array<quint64, signatureWidth> bandReciprocal{}; // 0: divide
};

int changedStep(qint64 rows) {
    return rows < sampledRows ? 1 : int(rows / sampledRows);
}

// The listed columns of a row pair as byte masks (0xff listed, 0 not), the form the vector loops take.
using ByteMask = std::array<quint8, signatureWidth>;

ByteMask byteMask(const SignatureRow& mask) {
    ByteMask bytes{};
    for (int c = 0; c < signatureWidth; ++c)
        bytes[c] = mask[c] ? 0xff : 0;
    return bytes;
}

#if defined(__SSE2__)

// How many listed columns of two rows agree within the tolerance.
inline int agreeing(const SignatureRow& a, const SignatureRow& b, const ByteMask& mask) {
    const __m128i tolerance = _mm_set1_epi8(char(agreeTolerance));
    quint64 bits = 0;
    for (int i = 0; i < signatureWidth / 16; ++i) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + 16 * i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + 16 * i));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.data() + 16 * i));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
        const __m128i close = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(d, tolerance), d), m);
        bits |= quint64(quint16(_mm_movemask_epi8(close))) << (16 * i);
    }
    return std::popcount(bits);
}

// The summed difference of the listed columns: unlisted ones are zeroed in both rows first.
inline int listedDistance(const SignatureRow& a, const SignatureRow& b, const ByteMask& mask) {
    __m128i sum = _mm_setzero_si128();
    for (int i = 0; i < signatureWidth / 16; ++i) {
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.data() + 16 * i));
        const __m128i x = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + 16 * i)), m);
        const __m128i y = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + 16 * i)), m);
        sum = _mm_add_epi64(sum, _mm_sad_epu8(x, y));
    }
    return _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sum, sum));
}

#else

inline int agreeing(const SignatureRow& a, const SignatureRow& b, const ByteMask& mask) {
    int n = 0;
    for (int c = 0; c < signatureWidth; ++c)
        n += int(absDiff(a[c], b[c]) <= agreeTolerance) & mask[c] & 1;
    return n;
}

inline int listedDistance(const SignatureRow& a, const SignatureRow& b, const ByteMask& mask) {
    int sum = 0;
    for (int c = 0; c < signatureWidth; ++c)
        sum += absDiff(a[c], b[c]) * (mask[c] & 1);
    return sum;
}

#endif

// How many of the first `tested` probes match at shift s, or most when more misses than tested - most
// have already ruled the shift out.
template <typename Agreeing>
inline int countMatched(const Signature& prev, const Signature& next, const int* probes, int tested, int s, int needed,
                        int most, Agreeing agree) {
    int matched = 0;
    for (int k = 0; k < tested; ++k) {
        const int r = probes[k];
        matched += agree(prev[size_t(r + s)], next[size_t(r)]) >= needed;
        if (matched + tested - 1 - k <= most)
            return most;
    }
    return matched;
}

#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
// The same count with 32 samples at a time, on processors that have the wider registers.
__attribute__((target("avx2,popcnt"))) int matchedProbesWide(const Signature& prev, const Signature& next,
                                                             const int* probes, int tested, int s, const ByteMask& mask,
                                                             int needed, int most) {
    const __m256i tolerance = _mm256_set1_epi8(char(agreeTolerance));
    const __m256i m0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask.data()));
    const __m256i m1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask.data() + 32));
    int matched = 0;
    for (int k = 0; k < tested; ++k) {
        const quint8* a = prev[size_t(probes[k] + s)].data();
        const quint8* b = next[size_t(probes[k])].data();
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
        const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 32));
        const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32));
        const __m256i d0 = _mm256_or_si256(_mm256_subs_epu8(x0, y0), _mm256_subs_epu8(y0, x0));
        const __m256i d1 = _mm256_or_si256(_mm256_subs_epu8(x1, y1), _mm256_subs_epu8(y1, x1));
        const __m256i c0 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(d0, tolerance), d0), m0);
        const __m256i c1 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(d1, tolerance), d1), m1);
        const quint64 bits =
            quint64(quint32(_mm256_movemask_epi8(c0))) | (quint64(quint32(_mm256_movemask_epi8(c1))) << 32);
        matched += int(_mm_popcnt_u64(bits)) >= needed;
        if (matched + tested - 1 - k <= most)
            return most;
    }
    return matched;
}
#endif

int matchedProbes(const Signature& prev, const Signature& next, const int* probes, int tested, int s,
                  const ByteMask& mask, int needed, int most) {
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    if (wide)
        return matchedProbesWide(prev, next, probes, tested, s, mask, needed, most);
#endif
    return countMatched(prev, next, probes, tested, s, needed, most,
                        [&](const SignatureRow& a, const SignatureRow& b) { return agreeing(a, b, mask); });
}

// The most matches out of `tested` that still leave a shift at or below the acceptance ratio, found
// with the very division the ratio is judged by, so whole numbers can stand in for it in the loop.
int mostRejected(int tested) {
    int most = int(minRatio * tested);
    while (most + 1 <= tested && double(most + 1) / tested <= minRatio)
        ++most;
    while (most >= 0 && double(most) / tested > minRatio)
        --most;
    return most;
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
    // A page of lines alike but for a few digits, moved by whole lines, hardly changes its signature rows;
    // its pixel rows do, all down the window, where a blinking caret changes a line's height of them.
    return total > changedTotalLimit || Rows::middleChanged(a, b, changedRowDivisor);
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
    SignatureRow listedColumns{};
    int listed = 0;
    for (int c = 0; c < signatureWidth; ++c) {
        listedColumns[c] = fixed[c] ? 0 : 1;
        listed += listedColumns[c];
    }
    if (listed < minColumns) {
        listedColumns.fill(1);
        listed = signatureWidth;
    }
    const ByteMask mask = byteMask(listedColumns);

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

    const int needed = (listed * agreeTenths + 9) / 10; // agreeing columns that make a probe match
    std::optional<int> best;
    double bestMismatch = 0;
    for (int s = minShift; s <= rows - bottomMargin; ++s) {
        // Probes are in increasing order, so those that stay inside prev are a prefix.
        const int tested = int(std::lower_bound(probes.begin(), probes.end(), rows - s) - probes.begin());
        if (tested < minTested)
            break; // fewer still for every larger shift
        // The probes only pick the candidates: a shift whose misses already rule out the acceptance ratio
        // is given up at once. The bound is the acceptance ratio's own, so it is exact.
        const int most = mostRejected(tested);
        if (matchedProbes(prev, next, probes.data(), tested, s, mask, needed, most) <= most)
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
    // No overlap can be clearly better than one that differs by a tenth of a grey level or less.
    if (!clearlyBetter(0.0, forward->second))
        return forward->first;
    const auto backward = bestShift(next, prev);
    if (backward && backward->first > 0 && clearlyBetter(backward->second, forward->second))
        return std::nullopt;
    return forward->first;
}

std::optional<int> newRows(const QImage& prev, const QImage& next) {
    if (prev.size() != next.size())
        return std::nullopt;
    if (prev.height() < minRows)
        return std::nullopt;
    // Decided on whole rows: lines alike but for a digit or two squeeze into the same signature rows.
    return Rows::newRows(prev, next, minShift, bottomMargin, changedRowDivisor);
}

namespace {

// What a joined strip may leave out, and what it never may. Each row of the stitched picture is, pixel for
// pixel, the row of the frame it came from, except in one place: the window's own still parts at its left and
// right edges (a scrollbar with its arrows and thumb, the window manager's frame). Those stand in the same place
// in every frame while the page moves under them, so a strip taken from the bottom of each frame would repeat
// the scrollbar's down arrow on every strip; in the strips their columns show their usual colour instead. Page
// content is never painted over, even where it looks the same on every line (a listing whose permissions,
// owner or year repeat line after line, scrolled by whole lines, matches itself in place as well as moved).
//
// So a column is left out of a strip only when all of these hold:
//  - it lies within a window's edge parts' reach of the left or right edge, and no column between it and that
//    edge is one of the page;
//  - over the rows where the page moved, it stood where it was while the page moved away from it: a column of
//    the page is where the page went in every such row, however alike its lines, and never stands still;
//  - the strip's own rows show what the earlier frame showed there.
// Only rows where the page is seen to have moved tell a still column from one of the page: rows whose middle
// is, but for a few pixels, what the earlier frame showed `shift` rows further down. Elsewhere (a title bar, a
// toolbar, a notice over the page, its shadow, the window's bottom edge) the row stands still or changes on
// its own, and compared with the page that moved under it, it differs in any column with ink, page or not.
constexpr int fixedPercent = 75;  // at least this share of the rows where the page moved the same in place
constexpr int fixedTolerance = 6; // per colour channel
constexpr int edgeBandPixels = 64;

inline bool samePixel(QRgb a, QRgb b) {
    return a == b ||
           (std::abs(qRed(a) - qRed(b)) <= fixedTolerance && std::abs(qGreen(a) - qGreen(b)) <= fixedTolerance &&
            std::abs(qBlue(a) - qBlue(b)) <= fixedTolerance && std::abs(qAlpha(a) - qAlpha(b)) <= fixedTolerance);
}

// Which columns of `next`'s bottom `shift` rows belong to the window's still parts at its edges, `next` being
// `prev` scrolled up by `shift` rows (same size, both premultiplied 32-bit, shift less than the height).
std::vector<bool> fixedColumns(const QImage& prev, const QImage& next, int shift) {
    const int width = prev.width(), height = prev.height();
    const int overlap = height - shift;
    const size_t w = size_t(width);
    // Per column, over the rows where the page moved: rows where it stood where it was while the page moved away
    // from it, rows where it was neither where it was nor where the page went, and rows where it changed.
    std::vector<int> standing(w, 0), lost(w, 0), changed(w, 0);
    std::vector<bool> stripSame(w, true);
    // Edge parts lie within this reach of the window's sides; the middle of every row is page or header. Only
    // the columns the band can take, and the one past each, are followed column by column.
    const int reach = std::min(edgeBandPixels, width / 4);
    const int middleLeft = std::min(reach + 1, width), middleRight = std::max(middleLeft, width - reach - 1);
    const int allowedMisses = (width - 2 * reach) / 100; // in the middle of a row where the page moved
    int scrolledRows = 0;                                // rows where the page moved
    bool pageSeen = false;
    auto edgeColumns = [&](auto&& visit) {
        for (int x = 0; x < middleLeft; ++x)
            visit(size_t(x));
        for (int x = middleRight; x < width; ++x)
            visit(size_t(x));
    };
    for (int y = 0; y < height; ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(prev.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(next.constScanLine(y));
        if (y < overlap) {
            const auto* below = reinterpret_cast<const QRgb*>(prev.constScanLine(y + shift));
            int middleMisses = 0;
            for (int x = reach; x < width - reach && middleMisses <= allowedMisses; ++x)
                middleMisses += !samePixel(below[x], b[x]);
            if (middleMisses > allowedMisses)
                continue;
            // Above the first row whose middle shows the move (it differs from what the earlier frame showed in
            // place), a plain middle may be a header's band that stands still as a whole: what stands still
            // beside it (the header's title) is no window edge.
            if (!pageSeen) {
                int inPlaceMisses = 0;
                for (int x = reach; x < width - reach && inPlaceMisses <= allowedMisses; ++x)
                    inPlaceMisses += !samePixel(a[x], b[x]);
                if (inPlaceMisses <= allowedMisses)
                    continue;
                pageSeen = true;
            }
            ++scrolledRows;
            edgeColumns([&](size_t x) {
                const bool inPlace = samePixel(a[x], b[x]), moved = samePixel(below[x], b[x]);
                standing[x] += inPlace && !moved;
                lost[x] += !inPlace && !moved;
                changed[x] += !inPlace;
            });
        } else {
            edgeColumns([&](size_t x) {
                if (!samePixel(a[x], b[x]))
                    stripSame[x] = false;
            });
        }
    }
    std::vector<bool> fixed(w, false);
    if (scrolledRows == 0)
        return fixed;
    // A column of the page is where the page went in every one of these rows, however alike its lines are, so
    // it never stands still in any. A scrollbar's arrows stand still; its thumb moves, but less than the page and
    // mostly over itself, so it stands still in at least as many rows as it is lost in.
    auto still = [&](int x) {
        const size_t i = size_t(x);
        return stripSame[i] && standing[i] >= 2 && standing[i] >= lost[i] &&
               qint64(changed[i]) * 100 <= qint64(scrolledRows) * (100 - fixedPercent);
    };
    // From each edge inwards, up to the first column of the page: one that changed and went where the page went.
    // Columns that tell nothing (a border, a margin) or move on their own (the rounded end of a thumb) are passed
    // over and left as they are. Still columns that go on past where edge parts reach are something else (a part
    // of the page that stands still, a page that looks still throughout): then nothing on that side is left out.
    auto band = [&](int from, int step) {
        std::vector<int> taken;
        for (int k = 0, x = from; k < width; ++k, x += step) {
            const size_t i = size_t(x);
            if (changed[i] >= 2 && standing[i] + lost[i] < 2)
                break;
            if (still(x)) {
                if (k >= reach)
                    return;
                taken.push_back(x);
            } else if (k >= reach) {
                break;
            }
        }
        for (int x : taken)
            fixed[size_t(x)] = true;
    };
    band(0, 1);
    band(width - 1, -1);
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

int stillBottomRows(const QList<QImage>& frames, const QList<int>& offsets) {
    const qsizetype used = std::min<qsizetype>(offsets.size(), frames.size() - 1);
    if (used <= 0 || frames.front().isNull())
        return 0;
    const QSize size = frames.front().size();
    QList<QImage> joined{frames.front()};
    int still = 0, largest = 0;
    for (qsizetype i = 0; i < used; ++i) {
        if (offsets[i] <= 0)
            continue;
        joined.append(frames[i + 1]);
        largest = std::max(largest, offsets[i]);
        // Of the earlier frame joined: the one the offset was measured from.
        const QImage& prev = joined[joined.size() - 2];
        if (prev.size() == size && frames[i + 1].size() == size)
            still = std::max(still, Rows::stillBottomRows(prev, frames[i + 1], offsets[i]).value_or(0));
    }
    still = std::max(still, Rows::equalBottomRows(joined));
    return std::max(0, std::min({still, size.height() - largest, size.height() / 2}));
}

QImage stitchPage(const QList<QImage>& frames, const QList<int>& offsets) {
    const int still = stillBottomRows(frames, offsets);
    const qsizetype used = std::min<qsizetype>(offsets.size(), frames.size() - 1);
    const QSize size = frames.isEmpty() ? QSize() : frames.front().size();
    for (qsizetype i = 1; i <= used; ++i)
        if (frames[i].size() != size)
            return stitch(frames, offsets); // scaled to the first, where rows do not line up anyway
    if (still <= 0)
        return stitch(frames, offsets);
    const int cut = size.height() - still;
    // The cut frames share the frames' pixels: nothing is copied before the picture is written.
    auto above = [&](const QImage& frame, int top) {
        return QImage(frame.constScanLine(top), frame.width(), cut, frame.bytesPerLine(), frame.format());
    };
    QList<QImage> views{above(frames.front(), 0)};
    QList<int> withStill;
    const QImage* last = &frames.front();
    for (qsizetype i = 0; i < used; ++i) {
        views.append(above(frames[i + 1], 0));
        withStill.append(offsets[i]);
        if (offsets[i] > 0)
            last = &frames[i + 1];
    }
    // Rows [still, height) of the last frame joined: its bottom `still` rows are the still rows themselves.
    views.append(above(*last, still));
    withStill.append(still);
    return stitch(views, withStill);
}

} // namespace Stitcher
