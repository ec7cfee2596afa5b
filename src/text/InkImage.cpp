#include "text/InkImage.h"

#include "text/SharedWork.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

namespace TextVision {

namespace {

// A pixel is open ground when the square of this radius around it is all one colour: panels,
// bubbles and margins are, the strokes and joints of text up to bold headings are not.
constexpr int groundRadius = 4;
constexpr int sameColour = 3; // per channel, what still counts as one colour (dithering, JPEG)

bool alike(QRgb a, QRgb b) {
    // Most neighbours on a screen are exactly the same colour.
    if (a == b)
        return true;
    return std::abs(qRed(a) - qRed(b)) <= sameColour && std::abs(qGreen(a) - qGreen(b)) <= sameColour &&
           std::abs(qBlue(a) - qBlue(b)) <= sameColour;
}

int difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// How far a colour lies from every blend of two others (max over channels); with past, whether it lies
// clearly past b, further from a than b is (dark letters on a plate over a darker page).
int blendResidual(QRgb colour, QRgb a, QRgb b, bool* past = nullptr) {
    const double v[3] = {double(qRed(colour) - qRed(a)), double(qGreen(colour) - qGreen(a)),
                         double(qBlue(colour) - qBlue(a))};
    const double d[3] = {double(qRed(b) - qRed(a)), double(qGreen(b) - qGreen(a)), double(qBlue(b) - qBlue(a))};
    const double length = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double along = length > 0 ? (v[0] * d[0] + v[1] * d[1] + v[2] * d[2]) / length : 0;
    if (past)
        *past = along > 1.1;
    const double t = std::clamp(along, 0.0, 1.0);
    return int(std::max({std::abs(v[0] - t * d[0]), std::abs(v[1] - t * d[1]), std::abs(v[2] - t * d[2])}));
}

QImage opaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

// The commonest colour of the ring of pixels `depth` in from the picture's edges, and its share of the ring.
std::pair<QRgb, double> ringColour(const QImage& flat, int depth) {
    const int w = flat.width(), h = flat.height();
    const int left = std::min(depth, w - 1), right = std::max(w - 1 - depth, left);
    const int top = std::min(depth, h - 1), bottom = std::max(h - 1 - depth, top);
    std::vector<QRgb> ring;
    ring.reserve(size_t(2 * (w + h)));
    for (int x = left; x <= right; ++x) {
        ring.push_back(flat.pixel(x, top));
        ring.push_back(flat.pixel(x, bottom));
    }
    for (int y = top; y <= bottom; ++y) {
        ring.push_back(flat.pixel(left, y));
        ring.push_back(flat.pixel(right, y));
    }
    std::sort(ring.begin(), ring.end());
    QRgb best = ring.front();
    size_t bestRun = 0;
    for (size_t i = 0; i < ring.size();) {
        size_t j = i;
        while (j < ring.size() && ring[j] == ring[i])
            ++j;
        if (j - i > bestRun) {
            bestRun = j - i;
            best = ring[i];
        }
        i = j;
    }
    return {best, double(bestRun) / double(ring.size())};
}

// The ground a slice was cut from: the commonest colour along its edges, inside the frame of a window
// taken with its border (a ring of nearly one colour that the ring inside it does not share); and its
// share of the ring.
std::pair<QRgb, double> edgeColour(const QImage& flat) {
    constexpr int deepestFrame = 3;
    auto [colour, share] = ringColour(flat, 0);
    for (int depth = 1; depth <= deepestFrame && share >= 0.9; ++depth) {
        const auto [inner, innerShare] = ringColour(flat, depth);
        if (alike(inner, colour))
            break;
        colour = inner;
        share = innerShare;
    }
    return {colour, share};
}

// The share of neighbours along the picture's edges that are alike: high on a gradient, low on a photo's grain.
double edgeSmoothness(const QImage& flat) {
    const int w = flat.width(), h = flat.height();
    int same = 0, pairs = 0;
    for (int x = 1; x < w; ++x)
        for (const int y : {0, h - 1}) {
            same += alike(flat.pixel(x - 1, y), flat.pixel(x, y));
            ++pairs;
        }
    for (int y = 1; y < h; ++y)
        for (const int x : {0, w - 1}) {
            same += alike(flat.pixel(x, y - 1), flat.pixel(x, y));
            ++pairs;
        }
    return pairs ? double(same) / pairs : 1;
}

// A slice cut a pixel or two round a line holds no square of open ground above or below its letters,
// so they would be measured against whatever stands in for ground. Read inside a margin of the slice's
// own ground, they are measured as they were on the screen.
QImage withMargin(const QImage& flat, QRgb colour, int margin) {
    QImage framed(flat.width() + 2 * margin, flat.height() + 2 * margin, QImage::Format_RGB32);
    framed.fill(colour);
    QPainter painter(&framed);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(margin, margin, flat);
    return framed;
}

// The strokes of a large bold heading on a doubled screen are wider than the square that tells open
// ground, so the middle of each stroke passes for ground of the letters' colour, and the letters come
// out hollow. Open ground lies in patches several times wider than that square is, joined up to the
// margins and panels; what is nowhere more than a few pixels across either way, and joins no such
// patch, is the inside of a stroke. Returns whether any open ground is left.
bool dropStrokeCores(std::vector<uint16_t>& distance, std::vector<QRgb>& ground, int w, int h) {
    constexpr int deep = 6; // a stroke of up to 14 pixels leaves no more than this of open ground across
    const size_t n = size_t(w) * size_t(h);
    const auto at = [w](int x, int y) { return size_t(y) * size_t(w) + size_t(x); };
    const auto open = [&](size_t i) { return distance[i] == 0; };
    // Open ground in a run longer than `deep` across, then (in slices of columns) down as well.
    std::vector<uint8_t> reached(n, 0);
    shareRows(h, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            for (int x = 0; x < w;) {
                if (!open(at(x, y))) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < w && open(at(x, y)))
                    ++x;
                if (x - start > deep)
                    std::fill_n(&reached[at(start, y)], x - start, uint8_t(1));
            }
    });
    shareRows(w, [&](int first, int end) {
        std::vector<int> start(size_t(end - first), -1);
        for (int y = 0; y <= h; ++y)
            for (int x = first; x < end; ++x) {
                int& top = start[size_t(x - first)];
                if (y < h && open(at(x, y))) {
                    if (top < 0)
                        top = y;
                    continue;
                }
                if (top >= 0 && y - top <= deep)
                    for (int r = top; r < y; ++r)
                        reached[at(x, r)] = 0;
                top = -1;
            }
    });
    // Open ground joined to a patch wide both ways stays ground; a sweep each way reaches all but
    // the most winding strips, which take the colour of the ground nearest them instead.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = at(x, y);
            if (!reached[i] && open(i) && ((x > 0 && reached[i - 1]) || (y > 0 && reached[i - size_t(w)])))
                reached[i] = 1;
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = at(x, y);
            if (!reached[i] && open(i) && ((x + 1 < w && reached[i + 1]) || (y + 1 < h && reached[i + size_t(w)])))
                reached[i] = 1;
        }
    std::atomic<bool> left = false;
    shareRows(h, [&](int first, int end) {
        bool any = false;
        for (size_t i = at(0, first); i < at(0, end); ++i) {
            if (open(i) && !reached[i]) {
                distance[i] = 0xffff;
                ground[i] = qRgb(255, 255, 255);
            }
            any = any || open(i);
        }
        if (any)
            left = true;
    });
    return left;
}

// A plate found on the picture: its frame, its colour, and per column of the frame the rows from its top edge
// to its bottom edge where letters cut in from the page beyond (the stem of a p or the tail of a g reaching
// the bottom of a blue cell over a white page).
// Where an edge is cut in along one column (or row): the first and last row (or column), first > last for none;
// near for the top (or left) edge, far for the bottom (or right).
struct Notch {
    std::pair<int, int> near{1, 0}, far{1, 0};
    bool holds(int at) const {
        return (at >= near.first && at <= near.second) || (at >= far.first && at <= far.second);
    }
};

struct Plate {
    QRect frame;
    QRgb colour;
    std::vector<Notch> notches; // per column
};

// The rows of each column where a patch's top or bottom edge is cut in from outside: the edge lies
// further out on both sides within `reach` columns (a letter's stroke is narrow), where rounded ends and the
// steps of a selection over several lines only ever move it one way. Columns without the patch have top -1.
// Turned about, the same tells where letters cut into a patch's left and right ends.
std::vector<Notch> edgeNotches(const std::vector<int>& top, const std::vector<int>& bottom, int reach) {
    const int n = int(top.size());
    std::vector<Notch> out(static_cast<size_t>(n));
    for (int x = 0; x < n; ++x) {
        if (top[size_t(x)] < 0)
            continue;
        int topLeft = INT_MAX, topRight = INT_MAX, bottomLeft = -1, bottomRight = -1;
        for (int k = 1; k <= reach; ++k) {
            if (x - k >= 0 && top[size_t(x - k)] >= 0) {
                topLeft = std::min(topLeft, top[size_t(x - k)]);
                bottomLeft = std::max(bottomLeft, bottom[size_t(x - k)]);
            }
            if (x + k < n && top[size_t(x + k)] >= 0) {
                topRight = std::min(topRight, top[size_t(x + k)]);
                bottomRight = std::max(bottomRight, bottom[size_t(x + k)]);
            }
        }
        const int topBridge = std::max(topLeft, topRight), bottomBridge = std::min(bottomLeft, bottomRight);
        if (topBridge < top[size_t(x)])
            out[size_t(x)].near = {topBridge, top[size_t(x)] - 1};
        if (bottomBridge > bottom[size_t(x)])
            out[size_t(x)].far = {bottom[size_t(x)] + 1, bottomBridge};
    }
    return out;
}

// A badge, a chip, a highlighter's mark, a selected word or a terminal's coloured cells can be hardly
// taller than their letters: no open square fits on them, and their letters would be measured against the
// page round them, so a light word on a small dark plate comes out as a dark blob with holes. A plate is a
// patch of one colour, not yet ground, at least a few pixels tall and wider than tall, that fills most of its
// frame (or, a staircase as a selection over lines of different lengths is, of each row's span), runs nearly the
// whole way along its top and bottom, and holds something of another colour: its letters (which may reach its
// very ends, as a terminal's coloured cells hold them). The bars of a meter hold nothing; a word of touching bold
// letters runs along neither its top nor its bottom. Plates become ground of their own. Returns which pixels are
// plates.
template <typename Pixel>
std::vector<uint8_t> findPlates(std::vector<uint16_t>& distance, std::vector<QRgb>& ground, int w, int h,
                                const Pixel& pixel, std::vector<Plate>& frames) {
    constexpr int lowest = 7; // a 12 pixel pill with its rounded ends
    const size_t n = size_t(w) * size_t(h);
    std::vector<uint8_t> plate(n, 0), seen(n, 0);
    constexpr uint8_t candidate = 2; // the members of the patch being weighed
    std::vector<size_t> stack, members;
    for (size_t start = 0; start < n; ++start) {
        if (distance[start] == 0 || seen[start])
            continue;
        const int x0 = int(start % size_t(w)), y0 = int(start / size_t(w));
        const QRgb colour = pixel(x0, y0);
        members.clear();
        stack.assign(1, start);
        seen[start] = 1;
        int left = x0, right = x0, top = y0, bottom = y0;
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            members.push_back(i);
            const int x = int(i % size_t(w)), y = int(i / size_t(w));
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            const auto visit = [&](int nx, int ny) {
                const size_t j = size_t(ny) * size_t(w) + size_t(nx);
                if (distance[j] != 0 && !seen[j] && alike(pixel(nx, ny), colour)) {
                    seen[j] = 1;
                    stack.push_back(j);
                }
            };
            if (x > 0)
                visit(x - 1, y);
            if (x + 1 < w)
                visit(x + 1, y);
            if (y > 0)
                visit(x, y - 1);
            if (y + 1 < h)
                visit(x, y + 1);
        }
        const int pw = right - left + 1, ph = bottom - top + 1;
        if (ph < lowest || pw < ph + ph / 2)
            continue;
        // Each row is weighed along its own span: a selection over several lines starts its first line and
        // ends its last one part of the way across, and a row of it is no shorter for that.
        std::vector<int> rowFirst(size_t(ph), right + 1), rowLast(size_t(ph), left - 1);
        for (const size_t i : members) {
            const int x = int(i % size_t(w)), row = int(i / size_t(w)) - top;
            rowFirst[size_t(row)] = std::min(rowFirst[size_t(row)], x);
            rowLast[size_t(row)] = std::max(rowLast[size_t(row)], x);
        }
        // A selection is a staircase: bands of rows a line tall each, that start and end alike but for a letter
        // cutting in at an end (shortening a row by the letter's width, no more). A letter's own strokes
        // reach further out from row to row.
        const auto stepped = [&] {
            constexpr int slack = 3;
            const int cut = std::max(slack, ph / 2);
            int bands = 0;
            for (int row = 0; row < ph; ++bands) {
                const int first = rowFirst[size_t(row)], last = rowLast[size_t(row)];
                int end = row + 1;
                while (end < ph && rowFirst[size_t(end)] >= first - slack && rowFirst[size_t(end)] <= first + cut &&
                       rowLast[size_t(end)] <= last + slack && rowLast[size_t(end)] >= last - cut)
                    ++end;
                if (end - row < lowest)
                    return false;
                row = end;
            }
            return bands >= 2;
        }();
        double spans = 0;
        for (int row = 0; row < ph; ++row)
            spans += stepped ? rowLast[size_t(row)] - rowFirst[size_t(row)] + 1 : pw;
        if (double(members.size()) < 0.45 * spans)
            continue;
        for (const size_t i : members)
            plate[i] = candidate;
        const auto mine = [&](int x, int y) { return plate[size_t(y) * size_t(w) + size_t(x)] == candidate; };
        // A row along the top or the bottom is a stretch of the plate still, twice its height long or a quarter
        // of its width: the tops of a word's tall letters are short pieces, or gapped where they stand apart.
        const auto rowShare = [&](int y) {
            const int first = stepped ? rowFirst[size_t(y - top)] : left,
                      last = stepped ? rowLast[size_t(y - top)] : right, span = last - first + 1;
            if (span < std::min(2 * ph, pw) && span < pw / 4)
                return 0.0;
            int count = 0;
            for (int x = first; x <= last; ++x)
                count += mine(x, y);
            return double(count) / span;
        };
        // Rounded ends take a few rows to reach their full length.
        const int inset = std::max(2, ph / 3);
        const auto along = [&](int from, int step, int count, const auto& share, double enough) {
            for (int k = 0; k < count; ++k)
                if (share(from + k * step) >= enough)
                    return true;
            return false;
        };
        int held = 0;
        if (along(top, 1, inset, rowShare, 0.7) && along(bottom, -1, inset, rowShare, 0.7))
            for (int y = top + 1; y < bottom; ++y)
                for (int x = left + 1; x < right; ++x)
                    held += !mine(x, y) && !alike(pixel(x, y), colour);
        const bool isPlate = held >= std::max(4, pw * ph / 50);
        for (const size_t i : members) {
            plate[i] = isPlate;
            if (isPlate) {
                distance[i] = 0;
                ground[i] = colour;
            }
        }
        if (!isPlate)
            continue;
        std::vector<int> tops(size_t(pw), -1), bottoms(size_t(pw), -1);
        for (const size_t i : members) {
            const int column = int(i % size_t(w)) - left, y = int(i / size_t(w));
            tops[size_t(column)] = tops[size_t(column)] < 0 ? y : std::min(tops[size_t(column)], y);
            bottoms[size_t(column)] = std::max(bottoms[size_t(column)], y);
        }
        frames.push_back({QRect(left, top, pw, ph), colour, edgeNotches(tops, bottoms, std::max(3, ph / 4))});
    }
    return plate;
}

// A ground of one colour that is more than a strip (a selection over several lines, a highlighter's mark, a badge
// or a panel), with per row of its frame its first and last column.
struct GroundPiece {
    QRgb colour;
    int top;
    std::vector<int> first, last;
};

// The grounds at least `lowest` rows tall, each one piece of alike colour: runs of ground along each row, joined
// to the runs of the row above that they touch.
std::vector<GroundPiece> groundPieces(const std::vector<uint16_t>& distance, const std::vector<QRgb>& ground, int w,
                                      int h, int lowest) {
    struct Run {
        int y, x0, x1;
        QRgb colour;
    };
    std::vector<Run> runs;
    std::vector<size_t> rowStart(size_t(h) + 1, 0);
    for (int y = 0; y < h; ++y) {
        rowStart[size_t(y)] = runs.size();
        const size_t row = size_t(y) * size_t(w);
        for (int x = 0; x < w;) {
            if (distance[row + size_t(x)] != 0) {
                ++x;
                continue;
            }
            const int start = x++;
            while (x < w && distance[row + size_t(x)] == 0 &&
                   alike(ground[row + size_t(x)], ground[row + size_t(x - 1)]))
                ++x;
            runs.push_back({y, start, x - 1, ground[row + size_t(start)]});
        }
    }
    rowStart[size_t(h)] = runs.size();
    std::vector<size_t> parent(runs.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = i;
    const auto find = [&](size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    for (int y = 1; y < h; ++y) {
        size_t a = rowStart[size_t(y)], b = rowStart[size_t(y - 1)];
        const size_t aEnd = rowStart[size_t(y) + 1], bEnd = rowStart[size_t(y)];
        while (a < aEnd && b < bEnd) {
            const Run &ra = runs[a], &rb = runs[b];
            if (ra.x0 <= rb.x1 && rb.x0 <= ra.x1 && alike(ra.colour, rb.colour)) {
                const size_t pa = find(a), pb = find(b);
                parent[std::max(pa, pb)] = std::min(pa, pb);
            }
            if (ra.x1 < rb.x1)
                ++a;
            else
                ++b;
        }
    }
    // A piece's first run is its root and lies in its top row; its last row is the lowest of its runs.
    std::vector<int> bottom(runs.size(), -1);
    for (size_t i = 0; i < runs.size(); ++i) {
        const size_t root = find(i);
        bottom[root] = std::max(bottom[root], runs[i].y);
    }
    std::vector<int> index(runs.size(), -1);
    std::vector<GroundPiece> pieces;
    for (size_t i = 0; i < runs.size(); ++i) {
        const size_t root = parent[i];
        if (bottom[root] - runs[root].y + 1 < lowest)
            continue;
        if (index[root] < 0) {
            index[root] = int(pieces.size());
            const size_t rows = size_t(bottom[root] - runs[root].y + 1);
            pieces.push_back(
                {runs[root].colour, runs[root].y, std::vector<int>(rows, INT_MAX), std::vector<int>(rows, -1)});
        }
        GroundPiece& piece = pieces[size_t(index[root])];
        const size_t r = size_t(runs[i].y - piece.top);
        piece.first[r] = std::min(piece.first[r], runs[i].x0);
        piece.last[r] = std::max(piece.last[r], runs[i].x1);
    }
    return pieces;
}

// A selection that starts at a phone number's first digit, or a highlighter's mark that ends at a key's last letter,
// has the letter right on its end, where the page beyond may be the letter's own colour: the letter took the page's
// ground through the gap, and its edge, a blend of letter and ground, passed for the rim where two grounds meet.
// Where the end of a ground of its own is cut in from outside, as a plate's edges are, and what cut in touches the
// page beyond, it is measured against the ground it cuts into, with no rim (cutIn in `measured`). A shorter line
// of a selection leaves its end further in too, but only the page's ground lies in the bay, past the rim of the
// line's end: it is left as it is. `open` marks the middles of the squares of open ground.
void measureEndCuts(std::vector<uint16_t>& distance, std::vector<QRgb>& ground, std::vector<uint8_t>& measured,
                    const std::vector<uint8_t>& open, int w, int h, uint8_t cutIn) {
    constexpr int tallestCut = 64; // a letter's height in rows, on a doubled screen too
    const auto inOpenSquare = [&](int x, int y) {
        for (int dy = -groundRadius; dy <= groundRadius; ++dy)
            for (int dx = -groundRadius; dx <= groundRadius; ++dx)
                if (x + dx >= 0 && y + dy >= 0 && x + dx < w && y + dy < h &&
                    open[size_t(y + dy) * size_t(w) + size_t(x + dx)])
                    return true;
        return false;
    };
    for (const GroundPiece& piece : groundPieces(distance, ground, w, h, 7)) {
        const int rows = int(piece.first.size());
        const std::vector<Notch> cuts = edgeNotches(piece.first, piece.last, std::clamp(rows, 3, tallestCut));
        for (int r = 0; r < rows; ++r) {
            const int y = piece.top + r;
            const size_t row = size_t(y) * size_t(w);
            // From the outer end of the cut inwards.
            const Notch& cut = cuts[size_t(r)];
            for (const auto& [outer, inner, step] :
                 {std::tuple{cut.near.first, cut.near.second, 1}, std::tuple{cut.far.second, cut.far.first, -1}}) {
                if ((inner - outer) * step < 0 || outer - step < 0 || outer - step >= w)
                    continue;
                const QRgb beyond = ground[row + size_t(outer - step)];
                if (alike(beyond, piece.colour))
                    continue;
                // What cut in: pixels that are no ground, and the page's ground between them (the middle of a
                // stroke in the page's colour), up to open ground or the last of them.
                int reached = outer - step;
                for (int x = outer; (x - inner) * step <= 0; x += step) {
                    const size_t i = row + size_t(x);
                    if (measured[i] || inOpenSquare(x, y))
                        break;
                    if (distance[i] != 0)
                        reached = x;
                    else if (!alike(ground[i], beyond))
                        break;
                }
                // A letter touches the page beyond; the rim at the end of a shorter line stands clear of it.
                const auto noGround = [&](int x) {
                    return (x - reached) * step <= 0 && distance[row + size_t(x)] != 0;
                };
                if ((reached - outer) * step < 0 || !(noGround(outer) || noGround(outer + step)))
                    continue;
                for (int x = outer; (x - reached) * step <= 0; x += step) {
                    const size_t i = row + size_t(x);
                    if (distance[i] == 0 || alike(ground[i], beyond) || alike(ground[i], piece.colour)) {
                        distance[i] = std::max<uint16_t>(distance[i], 1);
                        ground[i] = piece.colour;
                        measured[i] = cutIn;
                    }
                }
            }
        }
    }
}
} // namespace

QImage inkImage(const QImage& image) {
    // A photo's grain cut to its edges has no one colour along them, nor colours that shade into each
    // other as a gradient's do: a margin of any colour would become the only open ground, and every pixel
    // of the picture would be measured against it as ink.
    constexpr double groundShare = 0.1, smooth = 0.9;
    const QImage bare = opaque(image);
    const auto [edge, share] = edgeColour(bare);
    const bool grounded = share >= groundShare || edgeSmoothness(bare) >= smooth;
    const int margin = grounded ? 2 * groundRadius + 2 : 0;
    const QImage flat = withMargin(bare, edge, margin);
    const int w = flat.width(), h = flat.height();
    const size_t n = size_t(w) * size_t(h);
    const auto* bits = reinterpret_cast<const QRgb*>(flat.constBits());
    const size_t stride = size_t(flat.bytesPerLine()) / sizeof(QRgb);
    const auto pixel = [bits, stride](int x, int y) { return bits[size_t(y) * stride + size_t(x)]; };

    // Colour changes to the right or below, then their count over a window across and down:
    // where a whole square holds none, the pixel is open ground.
    const int side = 2 * groundRadius;
    std::vector<uint8_t> across(n);
    shareRows(h, [&](int first, int end) {
        std::vector<uint8_t> change(static_cast<size_t>(w));
        for (int y = first; y < end; ++y) {
            for (int x = 0; x < w; ++x)
                change[size_t(x)] = (x + 1 < w && !alike(pixel(x, y), pixel(x + 1, y))) ||
                                    (y + 1 < h && !alike(pixel(x, y), pixel(x, y + 1)));
            uint8_t* row = &across[size_t(y) * size_t(w)];
            int sum = 0;
            for (int x = 0; x < w; ++x) {
                sum += change[size_t(x)];
                if (x >= side)
                    sum -= change[size_t(x - side)];
                row[x] = uint8_t(std::min(sum, 255));
            }
        }
    });
    constexpr uint16_t far = 0xffff;
    std::vector<uint16_t> distance(n, far);
    std::vector<QRgb> ground(n, qRgb(255, 255, 255));
    std::atomic<bool> any = false;
    shareRows(h, [&](int first, int end) {
        // Column sums over the last `side` rows, started `side` rows above the slice.
        std::vector<int> sum(static_cast<size_t>(w), 0);
        bool found = false;
        const int start = std::max(0, first - side);
        for (int y = start; y < end; ++y) {
            const uint8_t* row = &across[size_t(y) * size_t(w)];
            const uint8_t* gone = y - side >= start ? &across[size_t(y - side) * size_t(w)] : nullptr;
            for (int x = 0; x < w; ++x) {
                sum[size_t(x)] += row[x] - (gone ? gone[x] : 0);
                // The window just summed ends at (x, y); its centre is the pixel tested.
                if (y >= first && y >= side && x >= side && sum[size_t(x)] == 0) {
                    const size_t i = size_t(y - groundRadius) * size_t(w) + size_t(x - groundRadius);
                    distance[i] = 0;
                    ground[i] = pixel(x - groundRadius, y - groundRadius);
                    found = true;
                }
            }
        }
        if (found)
            any = true;
    });
    across = {};
    if (any)
        any = dropStrokeCores(distance, ground, w, h);
    // Open ground is never a letter, whatever the spread below joins to it.
    std::vector<uint8_t> open(n);
    for (size_t i = 0; i < n; ++i)
        open[i] = any && distance[i] == 0;
    if (!any) {
        // No open ground at all (a photograph, a tiny crop): the picture's corner stands in.
        std::fill(ground.begin(), ground.end(), pixel(0, 0));
        std::fill(distance.begin(), distance.end(), 0);
    }

    // Ground runs on through every pixel of its own colour next to it: a highlighted row only a
    // little taller than its letters holds no open square above or below them, and its letters
    // would otherwise take the ground outside the row, nearer than the row's own between its words.
    // A pass down and one back up reach the strips over and under the letters from the gaps
    // between words.
    auto spread = [&](size_t i, size_t from, QRgb colour) {
        if (distance[from] == 0 && alike(colour, ground[from])) {
            distance[i] = 0;
            ground[i] = ground[from];
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x > 0)
                spread(i, i - 1, pixel(x, y));
            if (y > 0 && distance[i] != 0)
                spread(i, i - size_t(w), pixel(x, y));
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x + 1 < w)
                spread(i, i + 1, pixel(x, y));
            if (y + 1 < h && distance[i] != 0)
                spread(i, i + size_t(w), pixel(x, y));
        }

    // Which pixels are measured against a plate, carried along with the ground below.
    constexpr uint8_t cutIn = 2; // a letter's pixel in a notch of the plate's edge
    std::vector<Plate> plates;
    std::vector<uint8_t> plate = findPlates(distance, ground, w, h, pixel, plates);

    // Every pixel takes the colour of the nearest ground (two chamfer passes).
    auto relax = [&](size_t i, size_t from, uint16_t cost) {
        if (distance[from] != far && distance[from] + cost < distance[i]) {
            distance[i] = uint16_t(std::min(int(far) - 1, distance[from] + cost));
            ground[i] = ground[from];
            plate[i] = plate[from];
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x > 0)
                relax(i, i - 1, 2);
            if (y > 0) {
                relax(i, i - size_t(w), 2);
                if (x > 0)
                    relax(i, i - size_t(w) - 1, 3);
                if (x + 1 < w)
                    relax(i, i - size_t(w) + 1, 3);
            }
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x + 1 < w)
                relax(i, i + 1, 2);
            if (y + 1 < h) {
                relax(i, i + size_t(w), 2);
                if (x + 1 < w)
                    relax(i, i + size_t(w) + 1, 3);
                if (x > 0)
                    relax(i, i + size_t(w) - 1, 3);
            }
        }

    // What stands within a plate is measured against it, though the page's ground be as near: the letters
    // of a terminal's coloured cells reach the cells' ends, and a light letter cutting into the plate's edge
    // where the page beyond is its own colour, which took the page's ground through the gap.
    for (const auto& [frame, colour, notches] : plates)
        for (int y = frame.top(); y <= frame.bottom(); ++y)
            for (int x = frame.left(); x <= frame.right(); ++x) {
                const size_t i = size_t(y) * size_t(w) + size_t(x);
                const bool notch = notches[size_t(x - frame.left())].holds(y) && !plate[i] && !alike(ground[i], colour);
                if (distance[i] != 0 || notch) {
                    distance[i] = std::max<uint16_t>(distance[i], 1);
                    ground[i] = colour;
                    plate[i] = notch ? cutIn : 1;
                }
            }

    measureEndCuts(distance, ground, plate, open, w, h, cutIn);

    QImage out(w - 2 * margin, h - 2 * margin, QImage::Format_Grayscale8);
    shareRows(h - 2 * margin, [&](int first, int end) {
        for (int oy = first; oy < end; ++oy) {
            uchar* row = out.scanLine(oy);
            const int y = oy + margin;
            for (int ox = 0; ox < w - 2 * margin; ++ox) {
                const int x = ox + margin;
                const size_t i = size_t(y) * size_t(w) + size_t(x);
                int ink = distance[i] == 0 ? 0 : difference(pixel(x, y), ground[i]);
                // Where two grounds meet (a bubble's rim, a selected row's edge) the pixels blend
                // the two; that is an edge, not ink, and would read as a bar or a bracket.
                // A plate's letters stand a pixel or two inside its rim, and may be the colour of the
                // ground round it: there only the rim's own row of blended pixels is edge. A terminal's
                // letters may touch the end of their coloured cells, and no blend of cell and page is
                // darker than the page: such a pixel is the letter's.
                // A letter cut into the plate's edge meets the page in its own colour: no blend.
                const int reach = plate[i] == cutIn ? 0 : plate[i] ? 1 : 2;
                for (int dy = -reach; dy <= reach && ink > 0; ++dy)
                    for (int dx = -reach; dx <= reach && ink > 0; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const QRgb other = ground[size_t(ny) * size_t(w) + size_t(nx)];
                        bool past = false;
                        if (other == ground[i])
                            continue;
                        const int residual = blendResidual(pixel(x, y), ground[i], other, &past);
                        if (!(plate[i] && past))
                            ink = std::min(ink, residual);
                    }
                row[ox] = uchar(255 - ink);
            }
        }
    });
    // Letters on a plate are as dark as the plate is far from their colour: black on a terminal's green
    // cells comes out a middle grey beside the page's own black letters, and is read as badly as faint
    // text. Each plate's letters are brought to full strength.
    for (const auto& [frame, colour, notches] : plates) {
        const QRect area = frame.translated(-margin, -margin).intersected(out.rect());
        const auto measured = [&](int ox, int oy) {
            return plate[size_t(oy + margin) * size_t(w) + size_t(ox + margin)];
        };
        int strongest = 0;
        for (int oy = area.top(); oy <= area.bottom(); ++oy)
            for (int ox = area.left(); ox <= area.right(); ++ox)
                if (measured(ox, oy))
                    strongest = std::max(strongest, 255 - out.constScanLine(oy)[ox]);
        if (strongest < 32 || strongest >= 224)
            continue;
        for (int oy = area.top(); oy <= area.bottom(); ++oy) {
            uchar* row = out.scanLine(oy);
            for (int ox = area.left(); ox <= area.right(); ++ox)
                if (measured(ox, oy))
                    row[ox] = uchar(255 - std::min(255, (255 - row[ox]) * 255 / strongest));
        }
    }
    return out;
}

} // namespace TextVision
