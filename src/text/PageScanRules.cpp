#include "text/PageScanRules.h"

#include "text/SharedWork.h"

#include <algorithm>
#include <cstring>

namespace TextVision {

namespace {

constexpr uchar inkLevel = 192; // as dark as a stroke; a rule of faint grey troubles the engine no more than ground
constexpr int thickest = 5;     // a border of two points on a doubled screen, with a blended row beside it
constexpr int shortest = 8;     // a side of a cell one small line tall
constexpr int longAlone = 96;   // a rule with nothing joined to it: past any dash or stroke of a letter
constexpr double bareShare = 0.6;

// A run of ink along rows (or, in the turned picture, along columns): along is the run's own
// direction, across its thickness; both inclusive.
struct Rule {
    int along0, along1, across0, across1;
    int length() const { return along1 - along0 + 1; }
};

// The picture turned about its diagonal, in tiles that stay in the cache.
QImage turned(const QImage& grey) {
    const int w = grey.width(), h = grey.height();
    constexpr int tile = 64;
    QImage out(h, w, QImage::Format_Grayscale8);
    uchar* bits = out.bits();
    const qsizetype stride = out.bytesPerLine();
    for (int y0 = 0; y0 < h; y0 += tile)
        for (int x0 = 0; x0 < w; x0 += tile)
            for (int y = y0; y < std::min(h, y0 + tile); ++y) {
                const uchar* row = grey.constScanLine(y);
                for (int x = x0; x < std::min(w, x0 + tile); ++x)
                    bits[x * stride + y] = row[x];
            }
    return out;
}

bool inkAt(const QImage& grey, int x, int y) {
    return x >= 0 && y >= 0 && x < grey.width() && y < grey.height() && grey.constScanLine(y)[x] < inkLevel;
}

// Thin runs of ink along the rows, a few rows thick at most, with ground above and below most of
// their length. A band of ink thicker than a rule (a bar of a heavy letter, a filled shape) gives none.
std::vector<Rule> thinRuns(const QImage& grey) {
    const int w = grey.width(), h = grey.height();
    std::vector<Rule> done, open, next;
    for (int y = 0; y <= h; ++y) {
        next.clear();
        if (y < h) {
            const uchar* row = grey.constScanLine(y);
            for (int x = 0; x < w;) {
                if (row[x] >= inkLevel) {
                    ++x;
                    continue;
                }
                const int first = x;
                while (x < w && row[x] < inkLevel)
                    ++x;
                if (x - first < shortest)
                    continue;
                Rule run{first, x - 1, y, y};
                // A run lying on one of the row before carries its rule on.
                const auto on = std::find_if(open.begin(), open.end(), [&](const Rule& r) {
                    const int common = std::min(r.along1, run.along1) - std::max(r.along0, run.along0) + 1;
                    return common >= std::min(r.length(), run.length()) / 2;
                });
                if (on != open.end()) {
                    run = {std::min(on->along0, run.along0), std::max(on->along1, run.along1), on->across0, y};
                    open.erase(on);
                }
                next.push_back(run);
            }
        }
        done.insert(done.end(), open.begin(), open.end());
        open.swap(next);
    }
    std::erase_if(done, [&](const Rule& r) {
        if (r.across1 - r.across0 + 1 > thickest)
            return true;
        int bare = 0;
        for (int x = r.along0; x <= r.along1; ++x)
            bare += !inkAt(grey, x, r.across0 - 1) && !inkAt(grey, x, r.across1 + 1);
        return bare < bareShare * r.length();
    });
    return done;
}

// Whether the end of a run at `along` (its thickness from across0 to across1) meets a run the other
// way; at a corner, where also that run ends.
bool meets(int along, int across0, int across1, const Rule& other, bool corner) {
    if (other.across0 - 1 > along || along > other.across1 + 1 || other.along0 - 1 > across1 ||
        across0 > other.along1 + 1)
        return false;
    const auto within = [&](int end) { return end >= across0 - 1 && end <= across1 + 1; };
    return !corner || within(other.along0) || within(other.along1);
}

// The runs of one direction by the row (or column) where each starts across, so that the runs an
// end may meet are found without trying every run of a page full of letters.
using ByPlace = std::vector<std::vector<const Rule*>>;

ByPlace byPlace(const std::vector<Rule>& rules, int size) {
    ByPlace out(size_t(std::max(size, 0)));
    for (const Rule& r : rules)
        out[size_t(r.across0)].push_back(&r);
    return out;
}

bool bothEndsMeet(const Rule& r, const ByPlace& others, bool corners) {
    const auto at = [&](int along) {
        for (int place = std::max(0, along - thickest - 1); place <= along + 1 && place < int(others.size()); ++place)
            for (const Rule* o : others[size_t(place)])
                if (meets(along, r.across0, r.across1, *o, corners))
                    return true;
        return false;
    };
    return at(r.along0) && at(r.along1);
}

} // namespace

std::vector<QRect> clearRules(QImage& grey) {
    if (grey.width() < shortest || grey.height() < shortest)
        return {};
    std::vector<Rule> across, down;
    shareWork(2, [&](int item) {
        if (item == 0)
            across = thinRuns(grey);
        else
            down = thinRuns(turned(grey));
    });
    if (across.empty())
        return {};
    // A long rule stands on its own; a short one is the side of a box, joined at both its corners to
    // sides the other way (a letter's bar meets its stems, if at all, along them: an H, an E). The
    // upright sides then run from rule to rule.
    const ByPlace downByColumn = byPlace(down, grey.width());
    std::erase_if(across,
                  [&](const Rule& r) { return r.length() < longAlone && !bothEndsMeet(r, downByColumn, true); });
    const ByPlace acrossByRow = byPlace(across, grey.height());
    std::vector<Rule> upright;
    for (const Rule& r : down)
        if (bothEndsMeet(r, acrossByRow, false))
            upright.push_back(r);

    std::vector<QRect> out;
    for (const Rule& r : across)
        out.emplace_back(QPoint(r.along0, r.across0), QPoint(r.along1, r.across1));
    for (const Rule& r : upright)
        out.emplace_back(QPoint(r.across0, r.along0), QPoint(r.across1, r.along1));

    // A letter crossing a rule (a descender through an underline) keeps its ink where it crosses.
    const QImage before = grey.copy();
    const auto onUpright = [&](int x, int y) {
        return std::any_of(upright.begin(), upright.end(), [&](const Rule& r) {
            return x >= r.across0 && x <= r.across1 && y >= r.along0 && y <= r.along1;
        });
    };
    for (const Rule& r : across)
        for (int x = r.along0; x <= r.along1; ++x) {
            const bool crossed = inkAt(before, x, r.across0 - 1) && inkAt(before, x, r.across1 + 1);
            if (crossed && !onUpright(x, r.across0))
                continue;
            for (int y = r.across0; y <= r.across1; ++y)
                grey.scanLine(y)[x] = 255;
        }
    for (const Rule& r : upright)
        for (int y = r.along0; y <= r.along1; ++y) {
            const bool crossed = inkAt(before, r.across0 - 1, y) && inkAt(before, r.across1 + 1, y);
            const bool onRule = std::any_of(across.begin(), across.end(), [&](const Rule& a) {
                return y >= a.across0 && y <= a.across1 && r.across0 <= a.along1 && r.across1 >= a.along0;
            });
            if (crossed && !onRule)
                continue;
            std::memset(grey.scanLine(y) + r.across0, 255, size_t(r.across1 - r.across0 + 1));
        }
    return out;
}

std::vector<QRect> clearFaintUprights(QImage& grey) {
    constexpr uchar bareLevel = 250; // ground, with a level or two of noise
    constexpr int widest = 3;
    constexpr int reachAcross = 8; // a rule across reaches this far on both sides where it crosses
    constexpr int gapRows = 4;     // letters set close beside the rule hide its bare side for a row or two
    const int w = grey.width(), h = grey.height();
    const int tallest = std::max(longAlone, h / 4);
    if (w < 2 * widest + 2 || h < tallest)
        return {};
    const auto bare = [&](const uchar* row, int x) { return x < 0 || x >= w || row[x] >= bareLevel; };
    const auto inked = [&](const uchar* row, int x) { return x >= 0 && x < w && row[x] < bareLevel; };
    // Per row, the thin runs of faint ink with bare ground either side, by their first column; and per column,
    // the row where its current run of such rows started and where it was last seen.
    struct Open {
        int first = -1, last = -1, right = 0;
        std::vector<int> cuts; // rows where a rule across crossed it
    };
    std::vector<Open> runs(static_cast<size_t>(w));
    std::vector<QRect> found;
    // A run tall enough is a rule however often rules across cross it: the column borders of a table whose
    // rows are ruled as faintly would otherwise stay in the picture, a row tall each, and read as bars. It is
    // given in its pieces between the crossings, which part no columns where they are a row tall.
    const auto close = [&](int x) {
        Open& o = runs[size_t(x)];
        if (o.first >= 0 && o.last - o.first + 1 >= tallest) {
            int from = o.first;
            o.cuts.push_back(o.last + 1);
            for (const int cut : o.cuts) {
                if (cut - 1 >= from)
                    found.emplace_back(QPoint(x, from), QPoint(o.right, std::min(cut - 1, o.last)));
                from = cut + 1;
            }
        }
        o = Open();
    };
    for (int y = 0; y < h; ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < w;) {
            if (!inked(row, x)) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < w && inked(row, x))
                ++x;
            const int last = x - 1;
            if (last - first + 1 > widest || !bare(row, first - 1) || !bare(row, last + 1))
                continue;
            Open& o = runs[size_t(first)];
            if (o.first >= 0 && y - o.last > gapRows + 1)
                close(first);
            if (o.first < 0)
                o.first = y;
            o.last = y;
            o.right = std::max(o.right, last);
        }
        // A rule across as faint, crossing: the run is parted there. Its row holds ink a good way on both sides.
        for (int x = 0; x < w; ++x) {
            Open& o = runs[size_t(x)];
            if (o.first < 0)
                continue;
            if (y - o.last > gapRows) {
                close(x);
                continue;
            }
            bool across = o.last < y;
            for (int d = 1; across && d <= reachAcross; ++d)
                across = inked(row, x - d) && inked(row, o.right + d);
            if (across && (o.cuts.empty() || o.cuts.back() < y - 1))
                o.cuts.push_back(y);
        }
    }
    for (int x = 0; x < w; ++x)
        close(x);
    for (const QRect& r : found)
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memset(grey.scanLine(y) + r.left(), 255, size_t(r.width()));
    return found;
}

} // namespace TextVision
