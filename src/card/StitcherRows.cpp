#include "card/StitcherRows.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace Stitcher::Rows {

namespace {

// A window's own moving parts (a scrollbar's thumb) lie within this many columns of its left or right edge, and
// at most an eighth of its width. They move by other amounts than the page, so they are not compared.
constexpr int edgeReach = 32;
// Above this many pixels a frame's rows are hashed on a thread of their own.
constexpr qint64 parallelPixels = 1'000'000;
// A shift is only judged on enough changed rows: at least this many, and an eighth of all.
constexpr int minCompared = 16;
constexpr int comparedShare = 8;
// At most a quarter of the compared rows may differ at a shift that is taken: the rest of the page lines up
// exactly. What differs is the page's own life (a blinking caret, a hovered link, an animation).
constexpr int missShare = 4;

struct Pair {
    QImage a, b;
    quint32 mask = 0xffffffff; // the bits of a pixel that show: a screen grab's padding byte is left out
    int left = 0, right = 0;   // the middle columns, [left, right)
};

// Edges: whether the columns near the window's sides, where a scrollbar's thumb moves on its own, are compared.
Pair comparable(const QImage& a, const QImage& b, bool edges = false) {
    Pair pair;
    const QImage::Format format = a.format();
    if (format == b.format() && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied)) {
        pair.a = a;
        pair.b = b;
        pair.mask = format == QImage::Format_RGB32 ? 0x00ffffff : 0xffffffff;
    } else {
        pair.a = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        pair.b = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    const int reach = edges ? 0 : std::min(edgeReach, a.width() / 8);
    pair.left = reach;
    pair.right = a.width() - reach;
    return pair;
}

inline const QRgb* line(const QImage& image, int y) {
    return reinterpret_cast<const QRgb*>(image.constScanLine(y));
}

bool rowDiffers(const Pair& p, int y) {
    const QRgb *a = line(p.a, y), *b = line(p.b, y);
    quint32 bits = 0;
    for (int x = p.left; x < p.right; ++x)
        bits |= a[x] ^ b[x];
    return (bits & p.mask) != 0;
}

// A fixed odd multiplier per column: the sum of a row's pixels times them tells rows apart as well as their
// pixels do, but for a chance of about one in 2^40.
quint64 multiplier(int x) {
    quint64 z = quint64(x) + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return (z ^ (z >> 31)) | 1;
}

std::vector<quint64> rowHashes(const QImage& image, const std::vector<quint64>& multipliers, int left, int right,
                               quint32 mask) {
    std::vector<quint64> hashes(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* p = line(image, y);
        quint64 h = 0;
        for (int x = left; x < right; ++x)
            h += quint64(p[x] & mask) * multipliers[size_t(x)];
        hashes[size_t(y)] = h;
    }
    return hashes;
}

struct Fit {
    int shift = 0;
    int misses = 0;
    int compared = 0;
    bool alone = true; // no other shift shows every compared row either
};

// Fewer missed rows for the rows compared; a fit on few rows (a large shift) needs to miss fewer. Counting one
// miss more than seen keeps a handful of rows that happen to repeat further down from beating the true shift.
inline bool better(int misses, int compared, const Fit& than) {
    return qint64(misses + 1) * than.compared < qint64(than.misses + 1) * compared;
}

// The shift s at which the changed rows r of `to` best show rows r + s of `from`.
std::optional<Fit> bestFit(const std::vector<quint64>& from, const std::vector<quint64>& to,
                           const std::vector<int>& changedRows, int minShift, int bottomMargin) {
    const int rows = int(from.size());
    const int needed = std::max(minCompared, int(changedRows.size()) / comparedShare);
    std::optional<Fit> best;
    for (int s = minShift; s <= rows - bottomMargin; ++s) {
        const int compared =
            int(std::lower_bound(changedRows.begin(), changedRows.end(), rows - s) - changedRows.begin());
        if (compared < needed)
            break; // fewer still for every larger shift
        // The most misses that could still be taken, and beat the best so far; none at all is always looked for,
        // since a second shift that shows every row leaves the move undecided.
        int allowed = compared / missShare;
        if (best)
            allowed = std::max<qint64>(
                0, std::min<qint64>(allowed, (qint64(best->misses + 1) * compared - 1) / best->compared - 1));
        int misses = 0;
        for (int k = 0; k < compared && misses <= allowed; ++k) {
            const size_t r = size_t(changedRows[size_t(k)]);
            misses += from[r + size_t(s)] != to[r];
        }
        if (misses > allowed)
            continue;
        if (best && misses == 0 && best->misses == 0)
            best->alone = false;
        else if (!best || better(misses, compared, *best))
            best = Fit{s, misses, compared};
    }
    return best;
}

} // namespace

bool middleChanged(const QImage& a, const QImage& b, int divisor) {
    if (a.isNull() || b.isNull() || a.size() != b.size())
        return false;
    const Pair pair = comparable(a, b);
    if (pair.a.isNull() || pair.b.isNull())
        return false;
    const int enough = std::max(1, a.height() / divisor);
    int differing = 0;
    for (int y = 0; y < a.height() && differing < enough; ++y)
        differing += rowDiffers(pair, y);
    return differing >= enough;
}

namespace {

// The rows of both frames as hashes of the columns that tell the page's move: columns that show the same in
// every row of both frames (a sidebar, a margin, the shared start of lines moved by whole lines) cannot tell one
// shift from another and are left out. Nothing when no column changed.
struct Hashes {
    std::vector<quint64> before, after;
};

std::optional<Hashes> movingColumnHashes(const Pair& pair) {
    const int rows = pair.a.height();
    std::vector<quint32> moved(size_t(pair.a.width()), 0);
    for (int y = 0; y < rows; ++y) {
        const QRgb *a = line(pair.a, y), *b = line(pair.b, y);
        for (int x = pair.left; x < pair.right; ++x)
            moved[size_t(x)] |= a[x] ^ b[x];
    }
    std::vector<quint64> multipliers(size_t(pair.a.width()), 0);
    int left = pair.right, right = pair.left;
    for (int x = pair.left; x < pair.right; ++x)
        if (moved[size_t(x)] & pair.mask) {
            multipliers[size_t(x)] = multiplier(x);
            left = std::min(left, x);
            right = x + 1;
        }
    if (left >= right)
        return std::nullopt;

    Hashes hashes;
    if (qint64(right - left) * rows >= parallelPixels && std::thread::hardware_concurrency() > 1) {
        std::thread other([&] { hashes.after = rowHashes(pair.b, multipliers, left, right, pair.mask); });
        hashes.before = rowHashes(pair.a, multipliers, left, right, pair.mask);
        other.join();
    } else {
        hashes.before = rowHashes(pair.a, multipliers, left, right, pair.mask);
        hashes.after = rowHashes(pair.b, multipliers, left, right, pair.mask);
    }
    return hashes;
}

} // namespace

std::optional<int> newRows(const QImage& prev, const QImage& next, int minShift, int bottomMargin, int divisor) {
    if (prev.isNull() || prev.size() != next.size() || prev.height() < 2)
        return std::nullopt;
    const Pair pair = comparable(prev, next);
    if (pair.a.isNull() || pair.b.isNull())
        return std::nullopt;
    const int rows = prev.height();
    const std::optional<Hashes> hashes = movingColumnHashes(pair);
    if (!hashes)
        return 0;
    const std::vector<quint64>&before = hashes->before, &after = hashes->after;

    // Rows that changed in place are those the page's move shows in: a title bar, a status line or blank space
    // stays put and would line up at any shift.
    std::vector<int> changedRows;
    for (int y = 0; y < rows; ++y)
        if (before[size_t(y)] != after[size_t(y)])
            changedRows.push_back(y);
    if (int(changedRows.size()) < std::max(1, rows / divisor))
        return 0;

    const std::optional<Fit> forward = bestFit(before, after, changedRows, minShift, bottomMargin);
    // A page whose lines repeat exactly (the same line over and over) fits at every shift by a whole number of
    // them: how far it moved cannot be told, and a guess would add or drop lines.
    if (!forward || !forward->alone)
        return std::nullopt;
    if (forward->misses == 0)
        return forward->shift;
    // A window scrolled back up may also line up, less well, at some downward shift when its lines look alike.
    const std::optional<Fit> backward = bestFit(after, before, changedRows, minShift, bottomMargin);
    if (backward && better(backward->misses, backward->compared, *forward))
        return std::nullopt;
    return forward->shift;
}

std::optional<int> stillBottomRows(const QImage& prev, const QImage& next, int shift) {
    if (prev.isNull() || prev.size() != next.size() || shift <= 0 || shift >= prev.height())
        return std::nullopt;
    const Pair pair = comparable(prev, next, true);
    if (pair.a.isNull() || pair.b.isNull())
        return std::nullopt;
    const int rows = prev.height(), width = prev.width();
    // The columns where the page went: those that show, in most rows, what the earlier frame showed `shift` rows
    // further down. A caret at the start of a terminal's line is in them, though the lines there are alike and the
    // column shows the same in place; a fixed sidebar beside the page is not, so it hides no row's move. Every
    // fourth row of the overlap tells them well enough.
    std::vector<int> misses(size_t(width), 0);
    int sampled = 0;
    for (int y = shift; y < rows; y += 4, ++sampled) {
        const QRgb *a = line(pair.a, y), *b = line(pair.b, y - shift);
        for (int x = 0; x < width; ++x)
            misses[size_t(x)] += ((a[x] ^ b[x]) & pair.mask) != 0;
    }
    std::vector<quint32> columns(size_t(width), 0);
    bool any = false;
    for (int x = 0; x < width; ++x)
        if (qint64(misses[size_t(x)]) * missShare <= sampled) {
            columns[size_t(x)] = pair.mask;
            any = true;
        }
    if (!any)
        return std::nullopt;
    auto same = [&](const QImage& image, int y, int otherY) {
        const QRgb *a = line(pair.a, y), *b = line(image, otherY);
        quint32 bits = 0;
        for (int x = 0; x < width; ++x)
            bits |= (a[x] ^ b[x]) & columns[size_t(x)];
        return bits == 0;
    };
    // A row that shows the same in place as moved (a blank line between lines moved by whole lines) tells
    // nothing: the search goes on above it.
    for (int y = rows - 1; y >= shift; --y)
        if (same(pair.b, y, y - shift) && !same(pair.b, y, y))
            return rows - 1 - y;
    return std::nullopt;
}

int equalBottomRows(const QList<QImage>& frames) {
    if (frames.size() < 2)
        return 0;
    const QImage& first = frames.front();
    for (const QImage& frame : frames)
        if (frame.isNull() || frame.size() != first.size() || frame.format() != first.format())
            return 0;
    const size_t rowBytes = (size_t(first.width()) * size_t(first.depth()) + 7) / 8;
    int rows = 0;
    for (int y = first.height() - 1; y >= 0; --y) {
        for (qsizetype i = 1; i < frames.size(); ++i)
            if (std::memcmp(first.constScanLine(y), frames[i].constScanLine(y), rowBytes) != 0)
                return rows;
        ++rows;
    }
    return rows;
}

} // namespace Stitcher::Rows
