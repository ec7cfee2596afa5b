#include "text/PageScan.h"

#include "text/Barcodes.h"
#include "text/InkImage.h"
#include "text/PageScanRules.h"
#include "text/SharedWork.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace TextVision {

namespace {

constexpr int edgeStep = 40;          // brightness step that counts as an edge of ink
constexpr double readableHeight = 16; // ink height of a line the engine reads well as it is
constexpr double enlargedHeight = 26; // what smaller text is enlarged to
constexpr double maxScale = 3;
constexpr double maxScaledPixels = 40e6;
constexpr qint64 smallPicture = 300'000; // pixels below which one band is quickest

// A window taken with its border has a rule of ink along each edge; the engine takes a rule
// touching the rows of text beside it for a picture and drops them. No text is set as a line
// along the picture's very edge: a row or column there that is nearly all ink is ground.
void clearFrame(QImage& grey) {
    const int w = grey.width(), h = grey.height();
    const auto inkShare = [&](int x0, int y0, int dx, int dy, int count) {
        int ink = 0;
        for (int i = 0; i < count; ++i)
            ink += grey.constScanLine(y0 + i * dy)[x0 + i * dx] < 128;
        return double(ink) / count;
    };
    constexpr int deepest = 3;
    constexpr double rule = 0.9;
    for (int d = 0; d < deepest && d < h / 2 && inkShare(0, d, 1, 0, w) >= rule; ++d)
        std::memset(grey.scanLine(d), 255, size_t(w));
    for (int d = 0; d < deepest && d < h / 2 && inkShare(0, h - 1 - d, 1, 0, w) >= rule; ++d)
        std::memset(grey.scanLine(h - 1 - d), 255, size_t(w));
    for (int d = 0; d < deepest && d < w / 2 && inkShare(d, 0, 0, 1, h) >= rule; ++d)
        for (int y = 0; y < h; ++y)
            grey.scanLine(y)[d] = 255;
    for (int d = 0; d < deepest && d < w / 2 && inkShare(w - 1 - d, 0, 0, 1, h) >= rule; ++d)
        for (int y = 0; y < h; ++y)
            grey.scanLine(y)[w - 1 - d] = 255;
}

// The window's icon at one end of a title bar and its buttons at the other are pictures about as tall
// as the bar and no wider than tall, which the engine reads as letters ("x", "i", ">) GB"). They go,
// from each end inwards up to the first piece that is not such a picture: a title's words are lower
// than the bar's pictures, and wider than tall.
void clearDecorations(QImage& grey, int top, int bottom) {
    constexpr uchar inked = 200;
    const int w = grey.width(), barHeight = bottom - top;
    struct Piece {
        int left, right, inkTop, inkBottom;
    };
    std::vector<Piece> pieces;
    // Letters of a word stand a column or two apart, the buttons further.
    const int joined = std::max(2, barHeight / 6);
    for (int x = 0; x < w; ++x) {
        int first = -1, last = -1;
        for (int y = top; y < bottom; ++y)
            if (grey.constScanLine(y)[x] < inked) {
                first = first < 0 ? y : first;
                last = y;
            }
        if (first < 0)
            continue;
        if (!pieces.empty() && x - pieces.back().right <= joined) {
            Piece& piece = pieces.back();
            piece.right = x;
            piece.inkTop = std::min(piece.inkTop, first);
            piece.inkBottom = std::max(piece.inkBottom, last);
        } else {
            pieces.push_back({x, x, first, last});
        }
    }
    const auto decoration = [&](const Piece& p) {
        const int width = p.right - p.left + 1, height = p.inkBottom - p.inkTop + 1;
        return height >= 0.6 * barHeight && width <= 1.5 * height;
    };
    const auto clear = [&](const Piece& p) {
        for (int y = top; y < bottom; ++y)
            std::memset(grey.scanLine(y) + p.left, 255, size_t(p.right - p.left + 1));
    };
    size_t left = 0, right = pieces.size();
    if (!pieces.empty() && pieces.front().left < 2 * barHeight)
        while (left < right && decoration(pieces[left]))
            clear(pieces[left++]);
    if (right > left && w - 1 - pieces.back().right < 2 * barHeight)
        while (right > left && decoration(pieces[right - 1]))
            clear(pieces[--right]);
}

// A window taken with its frame has a title bar across its top, shaded from one grey to another with
// a rule under it. A shade has no patch of one colour to be taken for ground, so the whole bar stands
// as faint ink with the rule as its darkest edge, right over the window's first line: the engine
// takes bar, rule and that line for a picture and reads none of it, or reads the bar's buttons as a
// letter. Each row of the bar is its own ground: what differs from the row's usual shade is ink (the
// title, the icons), the shade and the rule are not.
void groundTitleBar(QImage& grey) {
    const int w = grey.width(), h = grey.height();
    if (w < 64 || h < 32)
        return;
    constexpr uchar white = 250;
    constexpr double shaded = 0.9;
    const auto shadedShare = [&](int y) {
        const uchar* row = grey.constScanLine(y);
        return double(std::count_if(row, row + w, [](uchar v) { return v < white; })) / w;
    };
    // Under the frame's border (already cleared) and a line of highlight or two.
    int top = 0;
    while (top < 4 && shadedShare(top) < shaded)
        ++top;
    int bottom = top;
    const int tallest = std::min(h / 4, 96);
    while (bottom < h && bottom - top <= tallest && shadedShare(bottom) >= shaded)
        ++bottom;
    // A bar a few letters tall, with open ground under it: not a page shaded from its top down.
    if (top >= 4 || bottom - top < 10 || bottom - top > tallest || bottom >= h || shadedShare(bottom) > 0.5)
        return;
    // The frame's sides, already cleared, are no part of the bar.
    const auto cleared = [&](int x) {
        for (int y = top; y < bottom; ++y)
            if (grey.constScanLine(y)[x] != 255)
                return false;
        return true;
    };
    int left = 0, right = w;
    while (left < 3 && cleared(left))
        ++left;
    while (right > w - 3 && cleared(right - 1))
        --right;
    std::vector<uchar> row;
    for (int y = top; y < bottom; ++y) {
        uchar* line = grey.scanLine(y);
        row.assign(line + left, line + right);
        std::nth_element(row.begin(), row.begin() + qsizetype(row.size() / 2), row.end());
        const int ground = row[row.size() / 2];
        for (int x = left; x < right; ++x)
            line[x] = uchar(255 - std::abs(int(line[x]) - ground));
    }
    clearDecorations(grey, top, bottom);
}

// The picture's own brightness, for the code reader. A screen grab (no alpha) takes the quick
// weighted sum of its channels, several times cheaper than the general conversion.
QImage plainGrey(const QImage& image) {
    if (image.format() != QImage::Format_RGB32)
        return image.convertToFormat(QImage::Format_Grayscale8);
    QImage grey(image.size(), QImage::Format_Grayscale8);
    const int w = image.width();
    uchar* bits = grey.bits();
    const qsizetype stride = grey.bytesPerLine();
    shareRows(image.height(), [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            uchar* out = bits + y * stride;
            for (int x = 0; x < w; ++x)
                out[x] = uchar(qGray(in[x]));
        }
    });
    return grey;
}

} // namespace

PageScan::PageScan(const QImage& image) {
    // A code's modules read as rows of stray letters; its payload comes from the code reader.
    // Codes are looked for in the picture's own brightness, either way round: in the ink picture
    // the larger light or dark module patches pass for ground of their own.
    std::vector<QPolygon> codes[2];
    const QImage plain = plainGrey(image);
    shareWork(3, [&](int item) {
        if (item == 2) {
            greyImage = inkImage(image);
        } else if (item == 1) {
            QImage inverted = plain.copy();
            inverted.invertPixels();
            codes[1] = codeAreas(inverted);
        } else {
            codes[0] = codeAreas(plain);
        }
    });
    if (!codes[0].empty() || !codes[1].empty()) {
        QPainter painter(&greyImage);
        for (const auto& found : codes)
            for (const QPolygon& code : found) {
                // The quiet zone and the finder patterns' outer rings lie just outside the corners found.
                const QRect box = code.boundingRect();
                const int margin = std::max(4, box.width() / 12);
                painter.fillRect(box.adjusted(-margin, -margin, margin, margin), Qt::white);
            }
    }
    clearFrame(greyImage);
    groundTitleBar(greyImage);
    ruleBoxes = clearRules(greyImage);
    for (const QRect& rule : clearFaintUprights(greyImage))
        ruleBoxes.push_back(rule);
    bars = findBarRuns(greyImage);
    blankBarRuns(greyImage, bars);
    const int w = greyImage.width(), h = greyImage.height();
    rowInk.resize(size_t(h));
    for (int y = 0; y < h; ++y) {
        const uchar* row = greyImage.constScanLine(y);
        int edges = 0;
        for (int x = 1; x < w; ++x)
            edges += std::abs(int(row[x]) - int(row[x - 1])) > edgeStep;
        rowInk[size_t(y)] = edges;
    }
    // Runs of inked rows between blank ones are lines of text (or pictures); their median
    // height is the text's.
    std::vector<int> runs;
    int run = 0;
    for (int y = 0; y <= h; ++y) {
        if (y < h && !blank(y)) {
            ++run;
            continue;
        }
        if (run >= 4 && run <= std::max(4, h / 4))
            runs.push_back(run);
        run = 0;
    }
    if (!runs.empty()) {
        std::nth_element(runs.begin(), runs.begin() + qsizetype(runs.size() / 2), runs.end());
        lineHeight = runs[runs.size() / 2];
    }
}

bool PageScan::blank(int row) const {
    return rowInk[size_t(row)] <= std::max(2, greyImage.width() / 400);
}

double PageScan::scale(double height) const {
    const double target = height > 0 ? height : enlargedHeight;
    if (lineHeight >= (height > 0 ? 0.9 * height : readableHeight))
        return 1;
    const double pixels = double(greyImage.width()) * greyImage.height();
    const double limit = std::sqrt(maxScaledPixels / pixels);
    // Small enlargements only blur; below the readable height go well past it. Without a
    // measure of the text (a picture with no blank rows) enlarge moderately.
    const double wanted = lineHeight > 0 ? std::max(1.5, target / lineHeight) : 2.0;
    return std::clamp(std::min(wanted, limit), 1.0, maxScale);
}

int PageScan::overlapAt(int cut) const {
    if (cut > 0 && cut < greyImage.height() && blank(cut))
        return 2;
    // Enough for a line up to four times the usual height to lie whole in the band that owns it.
    return int(std::max(32.0, 2 * lineHeight));
}

std::vector<Band> PageScan::bandsAt(std::vector<int> cuts) const {
    const int h = greyImage.height(), w = greyImage.width();
    std::sort(cuts.begin(), cuts.end());
    std::erase_if(cuts, [h](int c) { return c <= 0 || c >= h; });
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<Band> out;
    int top = 0, topOverlap = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const int bottom = i < cuts.size() ? cuts[i] : h;
        const int bottomOverlap = i < cuts.size() ? overlapAt(bottom) : 0;
        const int from = std::max(0, top - topOverlap), to = std::min(h, bottom + bottomOverlap);
        out.push_back({QRect(0, from, w, to - from), top, bottom});
        top = bottom;
        topOverlap = bottomOverlap;
    }
    return out;
}

std::vector<PageScan::Gap> PageScan::gaps() const {
    // The blank runs between lines of text. A run of a row or two inside a line (the dots over its
    // i's, an accent) is no gap.
    const int h = greyImage.height();
    const int within = std::max(1, int(lineHeight / 6));
    std::vector<Gap> out;
    for (int y = 0; y < h;) {
        if (!blank(y)) {
            ++y;
            continue;
        }
        const int first = y;
        while (y < h && blank(y))
            ++y;
        if (y - first > within)
            out.push_back({first, y - 1, false});
    }
    // Lines set close together form a block; a gap clearly wider than the spacing of the lines on
    // either side of it ends one (the picture's top and bottom margins are edges too).
    const auto width = [&](size_t i) { return out[i].last - out[i].first + 1; };
    for (size_t i = 0; i < out.size(); ++i) {
        int spacing = std::numeric_limits<int>::max();
        if (i > 0 && out[i].first > 0)
            spacing = std::min(spacing, width(i - 1));
        if (i + 1 < out.size() && out[i].last + 1 < h)
            spacing = std::min(spacing, width(i + 1));
        out[i].edge =
            spacing == std::numeric_limits<int>::max() || width(i) >= 1.5 * spacing + std::max(2.0, lineHeight / 4);
    }
    return out;
}

std::vector<Band> PageScan::bands(int count) const {
    const int h = greyImage.height();
    const double minHeight = std::max(96.0, 8 * lineHeight);
    if (qint64(greyImage.width()) * h < smallPicture)
        count = 1;
    count = std::clamp(count, 1, std::max(1, int(h / minHeight)));
    const std::vector<Gap> blanks = gaps();
    std::vector<int> cuts;
    for (int k = 1; k < count; ++k) {
        const int nominal = int(qint64(h) * k / count);
        int best = nominal;
        const int radius = h / (4 * count);
        for (int d = 0; d <= radius; ++d)
            for (int row : {nominal - d, nominal + d})
                if (row > 0 && row < h && rowInk[size_t(row)] < rowInk[size_t(best)])
                    best = row;
        // Cut inside a block of lines set close together, a band may hold only a line or two of
        // it, which the engine, without the rest of the block to measure columns and spacing by,
        // reads badly: the cut moves to the block's edge, when that is near.
        const auto inside = std::find_if(blanks.begin(), blanks.end(), [&](const Gap& g) { return g.last >= best; });
        if (inside != blanks.end() && inside->first <= best && inside->edge) {
            cuts.push_back(best);
            continue;
        }
        // The lines of the block on either side of the cut, and the edges that end it. A run of
        // inked rows several lines tall holds as many lines (of columns side by side, say).
        const auto linesIn = [&](int from, int to) {
            return std::max(1, int(std::lround((to - from) / std::max(1.0, lineHeight))));
        };
        const bool inGap = inside != blanks.end() && inside->first <= best;
        const Gap* below = nullptr;
        int linesBelow = 0;
        int from = inGap ? inside->last + 1 : best;
        for (auto g = inGap ? inside + 1 : inside; g != blanks.end() && !below; ++g) {
            linesBelow += linesIn(from, g->first);
            from = g->last + 1;
            if (g->edge)
                below = &*g;
        }
        const Gap* above = nullptr;
        int linesAbove = 0;
        int to = inGap ? inside->first : best;
        for (auto g = std::make_reverse_iterator(inside); g != blanks.rend() && !above; ++g) {
            linesAbove += linesIn(g->last + 1, to);
            to = g->first;
            if (g->edge)
                above = &*g;
        }
        // A short paragraph holds no columns to lose.
        int moved = -1, distance = std::numeric_limits<int>::max();
        for (const auto& [g, lines] : {std::pair{below, linesBelow}, std::pair{above, linesAbove}}) {
            if (!g || lines > 2 || linesAbove + linesBelow < 5)
                continue;
            const int row = std::clamp(best, g->first, g->last);
            if (std::abs(row - best) < distance) {
                distance = std::abs(row - best);
                // Clear of the lines either side, since a cut in blank rows is read with no overlap.
                const int clear = std::min((g->last - g->first) / 2, int(std::max(4.0, lineHeight / 2)));
                moved = std::clamp(best, g->first + clear, g->last - clear);
            }
        }
        cuts.push_back(moved >= 0 ? moved : best);
    }
    return bandsAt(std::move(cuts));
}

} // namespace TextVision
