#include "text/BarRuns.h"

#include <algorithm>
#include <cstdlib>

namespace TextVision {

namespace {

constexpr int minHeight = 12; // shorter strokes are too small to tell a bar from a letter's stem
constexpr int minStrokes = 3;
constexpr uchar inkLevel =
    192; // the grey picture is dark ink on a light ground; a thin stroke between two columns of pixels is grey

struct Stroke {
    int left, right, top, bottom; // inclusive columns, rows [top, bottom)
};

bool ink(const QImage& grey, int x, int y) {
    return grey.constScanLine(y)[x] < inkLevel;
}

// Upright runs of ink in each column, read row by row; runs of neighbouring columns with the same
// top and bottom (a pixel either way) make one stroke.
std::vector<Stroke> strokes(const QImage& grey) {
    const int w = grey.width(), h = grey.height();
    struct Segment {
        int x, top, bottom;
    };
    std::vector<Segment> segments;
    std::vector<int> start(size_t(w), -1);
    for (int y = 0; y <= h; ++y) {
        const uchar* row = y < h ? grey.constScanLine(y) : nullptr;
        for (int x = 0; x < w; ++x) {
            const bool inked = row && row[x] < inkLevel;
            int& top = start[size_t(x)];
            if (inked && top < 0) {
                top = y;
            } else if (!inked && top >= 0) {
                if (y - top >= minHeight)
                    segments.push_back({x, top, y});
                top = -1;
            }
        }
    }
    // Column by column: a segment carries on a stroke of the column before that has its top and
    // bottom; the strokes not carried on are done.
    std::sort(segments.begin(), segments.end(),
              [](const Segment& a, const Segment& b) { return a.x != b.x ? a.x < b.x : a.top < b.top; });
    std::vector<Stroke> done, open, next;
    for (size_t i = 0; i < segments.size();) {
        const int x = segments[i].x;
        if (!open.empty() && open.front().right != x - 1) {
            done.insert(done.end(), open.begin(), open.end());
            open.clear();
        }
        next.clear();
        for (; i < segments.size() && segments[i].x == x; ++i) {
            const Segment& s = segments[i];
            const auto same = std::find_if(open.begin(), open.end(), [&](const Stroke& d) {
                return std::abs(d.top - s.top) <= 1 && std::abs(d.bottom - s.bottom) <= 1;
            });
            if (same != open.end()) {
                next.push_back({same->left, x, std::min(same->top, s.top), std::max(same->bottom, s.bottom)});
                open.erase(same);
            } else {
                next.push_back({x, x, s.top, s.bottom});
            }
        }
        done.insert(done.end(), open.begin(), open.end());
        open.swap(next);
    }
    done.insert(done.end(), open.begin(), open.end());
    return done;
}

// A bar is thin for its height and has only ground beside it, a little way out on either side.
bool isBar(const QImage& grey, const Stroke& s) {
    const int height = s.bottom - s.top;
    const int width = s.right - s.left + 1;
    if (width > std::max(2, height / 6))
        return false;
    const int clear = std::max(2, height / 8);
    for (int y = std::max(0, s.top - 1); y < std::min(grey.height(), s.bottom + 1); ++y)
        for (int x = std::max(0, s.left - clear); x <= std::min(grey.width() - 1, s.right + clear); ++x)
            if ((x < s.left || x > s.right || y < s.top || y >= s.bottom) && ink(grey, x, y))
                return false;
    return true;
}

// A bar reaches below the line its row's letters stand on. Letters of one stroke (I, l) do not:
// beside them, most columns of ink end where they end. Where nothing stands beside the run, the
// run passes.
bool reachesBelowTheLine(const QImage& grey, const QRect& run) {
    const int height = run.height();
    std::vector<int> bottoms;
    for (int x = std::max(0, run.left() - 4 * height); x <= std::min(grey.width() - 1, run.right() + 4 * height); ++x) {
        if (x >= run.left() - 1 && x <= run.right() + 1)
            continue;
        for (int y = std::min(grey.height() - 1, run.bottom() + 2); y >= run.top(); --y)
            if (ink(grey, x, y)) {
                bottoms.push_back(y);
                break;
            }
    }
    if (bottoms.empty())
        return true;
    std::nth_element(bottoms.begin(), bottoms.begin() + qsizetype(bottoms.size() / 2), bottoms.end());
    return run.bottom() >= bottoms[bottoms.size() / 2] + std::max(2, height / 10);
}

} // namespace

QRect BarRun::box() const {
    QRect box = strokes.front().united(strokes.back());
    for (const QRect& stroke : strokes)
        box = box.united(stroke);
    return box;
}

std::vector<BarRun> findBarRuns(const QImage& grey) {
    std::vector<Stroke> bars;
    for (const Stroke& s : strokes(grey))
        if (isBar(grey, s))
            bars.push_back(s);
    std::sort(bars.begin(), bars.end(),
              [](const Stroke& a, const Stroke& b) { return a.top != b.top ? a.top < b.top : a.left < b.left; });
    std::vector<BarRun> runs;
    std::vector<bool> used(bars.size(), false);
    for (size_t i = 0; i < bars.size(); ++i) {
        if (used[i])
            continue;
        // Follow the row to the right: the next bar of the same height, one pitch on.
        std::vector<size_t> run{i};
        int pitch = 0;
        for (size_t j = i + 1; j < bars.size() && bars[j].top <= bars[run.back()].top + 1; ++j) {
            const Stroke& last = bars[run.back()];
            const Stroke& candidate = bars[j];
            if (used[j] || std::abs(candidate.bottom - last.bottom) > 1)
                continue;
            const int step = candidate.left - last.left;
            const int height = last.bottom - last.top;
            // A monospaced letter's width on (half the bar's height: a bar reaches from above the
            // capitals to below the line), give or take the rounding of where each letter is drawn.
            // A proportional face's I and l are narrower for their height.
            if (step < height * 45 / 100 || step > height * 9 / 10 ||
                (pitch > 0 && std::abs(step - pitch) > std::max(1, pitch * 35 / 100)))
                continue;
            pitch = pitch > 0 ? pitch : step;
            run.push_back(j);
        }
        if (run.size() < size_t(minStrokes))
            continue;
        BarRun found;
        for (size_t k : run) {
            used[k] = true;
            const Stroke& s = bars[k];
            found.strokes.emplace_back(QPoint(s.left, s.top), QPoint(s.right, s.bottom - 1));
        }
        if (reachesBelowTheLine(grey, found.box()))
            runs.push_back(std::move(found));
    }
    return runs;
}

void blankBarRuns(QImage& grey, const std::vector<BarRun>& runs) {
    // The stroke's smoothed edges too, a pixel round it, which the engine would still see.
    for (const BarRun& run : runs)
        for (const QRect& stroke : run.strokes) {
            const QRect edges = stroke.adjusted(-1, -1, 1, 1).intersected(grey.rect());
            for (int y = edges.top(); y <= edges.bottom(); ++y)
                std::fill_n(grey.scanLine(y) + edges.left(), edges.width(), uchar(255));
        }
}

} // namespace TextVision
