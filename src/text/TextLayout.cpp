#include "text/TextLayout.h"

#include "text/Graphemes.h"

#include <QStringList>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace TextVision {

QRectF unionOf(const QRectF& a, const QRectF& b) {
    const double left = std::min(minX(a), minX(b));
    const double bottom = std::min(minY(a), minY(b));
    const double right = std::max(maxX(a), maxX(b));
    const double top = std::max(maxY(a), maxY(b));
    return QRectF(left, bottom, right - left, top - bottom);
}

qsizetype characterCount(const QString& text) {
    return Graphemes::count(text);
}

namespace {

QStringView lastCharacter(const QString& text) {
    if (text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return QStringView(text).mid(start);
}

bool lineBefore(const Line& a, const Line& b) {
    const double h = std::min(a.box.height(), b.box.height());
    const double dy = midY(a.box) - midY(b.box);
    if (std::abs(dy) > 0.5 * h)
        return dy > 0;
    return minX(a.box) < minX(b.box);
}

QRectF frameOf(const Block& block) {
    QRectF frame = block.front().box;
    for (const Line& line : block)
        frame = unionOf(frame, line.box);
    return frame;
}

bool joined(const QRectF& a, const QRectF& b, double aspect) {
    const double h = std::min(a.height(), b.height());
    const double H = std::max(a.height(), b.height());
    if (H > 1.8 * h)
        return false;
    const double verticalGap = std::max(minY(a) - maxY(b), minY(b) - maxY(a));
    const double overlap = std::min(maxX(a), maxX(b)) - std::max(minX(a), minX(b));
    if (verticalGap >= 0) {
        if (verticalGap >= 1.25 * h)
            return false;
        return overlap > 0.25 * std::min(a.width(), b.width()) || std::abs(minX(a) - minX(b)) < 0.03;
    }
    // Side by side: the gap is measured in the picture's heights, like the line height it is
    // held against. On a wide screen a gutter between columns would otherwise count for less
    // than it shows and every row would run across it.
    return overlap <= 0 && -overlap * aspect < 1.2 * h;
}

// Row cut: blocks sorted by top; a block whose top lies strictly below the lowest bottom so far
// opens a new band.
std::vector<std::vector<size_t>> rowBands(const std::vector<QRectF>& frames, std::vector<size_t> indexes) {
    std::stable_sort(indexes.begin(), indexes.end(),
                     [&](size_t a, size_t b) { return maxY(frames[a]) > maxY(frames[b]); });
    std::vector<std::vector<size_t>> bands{{indexes.front()}};
    double floor = minY(frames[indexes.front()]);
    for (size_t k = 1; k < indexes.size(); ++k) {
        const QRectF& frame = frames[indexes[k]];
        if (maxY(frame) < floor) {
            bands.push_back({indexes[k]});
            floor = minY(frame);
        } else {
            bands.back().push_back(indexes[k]);
            floor = std::min(floor, minY(frame));
        }
    }
    return bands;
}

// Column cut: blocks sorted by left edge; a block starting right of everything so far (with a
// little tolerance) opens a new column.
std::vector<std::vector<size_t>> columnCuts(const std::vector<QRectF>& frames, std::vector<size_t> indexes) {
    std::stable_sort(indexes.begin(), indexes.end(),
                     [&](size_t a, size_t b) { return minX(frames[a]) < minX(frames[b]); });
    std::vector<std::vector<size_t>> cols{{indexes.front()}};
    double edge = maxX(frames[indexes.front()]);
    for (size_t k = 1; k < indexes.size(); ++k) {
        const QRectF& frame = frames[indexes[k]];
        if (minX(frame) > edge + 0.005) {
            cols.push_back({indexes[k]});
            edge = maxX(frame);
        } else {
            cols.back().push_back(indexes[k]);
            edge = std::max(edge, maxX(frame));
        }
    }
    return cols;
}

const Line& topLine(const Block& block) {
    return *std::max_element(block.begin(), block.end(),
                             [](const Line& a, const Line& b) { return maxY(a.box) < maxY(b.box); });
}

// Whether two blocks start on one row: their top lines overlap by a quarter of the lower one's
// height (a value centred beside a label sits a little lower than it).
bool startTogether(const Block& a, const Block& b) {
    const QRectF& p = topLine(a).box;
    const QRectF& q = topLine(b).box;
    const double overlap = std::min(maxY(p), maxY(q)) - std::max(minY(p), minY(q));
    return overlap >= 0.25 * std::min(p.height(), q.height());
}

std::vector<std::vector<const Line*>> rowsOf(const Block& block);
bool level(const Line& p, const Line& q);

// Whether the blocks of two neighbouring columns read as rows: either they never stand side by
// side (a conversation whose bubbles alternate sides), or most bands holding both are rows whose
// first blocks on either side start level (a table, a form, a label with its description beside
// its switch, an author and date beside a post). One such band alone is no grid: a navigation
// list or an outline beside an article also starts level with it.
bool readAsRows(const std::vector<Block>& blocks, const std::vector<QRectF>& frames, const std::vector<size_t>& left,
                const std::vector<size_t>& right) {
    std::vector<size_t> both = left;
    both.insert(both.end(), right.begin(), right.end());
    const auto isLeft = [&](size_t i) { return std::find(left.begin(), left.end(), i) != left.end(); };
    int shared = 0, rows = 0;
    bool singleLines = true;
    for (const auto& band : rowBands(frames, both)) {
        // The band is in top-first order, so the first block met on each side is that side's top.
        const auto firstLeft = std::find_if(band.begin(), band.end(), isLeft);
        const auto firstRight = std::find_if(band.begin(), band.end(), [&](size_t i) { return !isLeft(i); });
        if (firstLeft == band.end() || firstRight == band.end())
            continue;
        ++shared;
        // A row starts with a label, a name or a cell: a list of several lines on the left is a
        // sidebar beside the page, however its top meets the page's, and so are its items each a
        // block of its own, stacked one under another beside one block of the page that spans them
        // with rows of another count (a table's columns pair row for row, its cells level).
        size_t leftLines = 0, rightBlocks = 0;
        bool oneColumn = true;
        for (size_t i : band) {
            leftLines += isLeft(i) ? blocks[i].size() : 0;
            rightBlocks += isLeft(i) ? 0 : 1;
            for (size_t j : band)
                oneColumn =
                    oneColumn && (i == j || !isLeft(i) || !isLeft(j) || !level(topLine(blocks[i]), topLine(blocks[j])));
        }
        const bool stacked =
            oneColumn && rightBlocks == 1 && leftLines >= 3 && rowsOf(blocks[*firstRight]).size() != leftLines;
        const bool shortLeft = !stacked && std::all_of(band.begin(), band.end(),
                                                       [&](size_t i) { return !isLeft(i) || blocks[i].size() <= 2; });
        rows += shortLeft && startTogether(blocks[*firstLeft], blocks[*firstRight]);
        singleLines =
            singleLines && std::all_of(band.begin(), band.end(), [&](size_t i) { return blocks[i].size() == 1; });
    }
    return shared == 0 || (3 * rows >= 2 * shared && (rows >= 2 || singleLines));
}

// Whether a band is a bar of items in one row above the page (links, tabs, a search field): its
// blocks are single lines level with one another, and more than one of them stands over the same
// column below, so they cannot be the columns' own headings.
bool isBarAbove(const std::vector<Block>& blocks, const std::vector<QRectF>& frames, const std::vector<size_t>& band,
                const std::vector<std::vector<size_t>>& cols) {
    if (band.size() < 2)
        return false;
    for (size_t i : band) {
        if (blocks[i].size() != 1)
            return false;
        for (size_t j : band)
            if (minY(frames[i]) > maxY(frames[j]) || minY(frames[j]) > maxY(frames[i]))
                return false;
    }
    return std::any_of(cols.begin(), cols.end(), [&](const std::vector<size_t>& col) {
        return std::count_if(col.begin(), col.end(),
                             [&](size_t i) { return std::find(band.begin(), band.end(), i) != band.end(); }) >= 2;
    });
}

QString trimmedText(const QString& text) {
    return text.trimmed();
}

bool level(const Line& p, const Line& q) {
    return std::abs(midY(p.box) - midY(q.box)) < 0.5 * std::min(p.box.height(), q.box.height());
}

// The block's lines in rows: a line level with a row's first line belongs to that row.
std::vector<std::vector<const Line*>> rowsOf(const Block& block) {
    std::vector<const Line*> sorted;
    for (const Line& line : block)
        sorted.push_back(&line);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Line* a, const Line* b) { return lineBefore(*a, *b); });
    std::vector<std::vector<const Line*>> rows;
    for (const Line* line : sorted) {
        if (rows.empty() || !level(*rows.back().front(), *line))
            rows.emplace_back();
        rows.back().push_back(line);
    }
    return rows;
}

double wordsPerRow(const Block& block) {
    qsizetype words = 0;
    for (const Line& line : block)
        words += line.text.split(u' ', Qt::SkipEmptyParts).size();
    return double(words) / double(rowsOf(block).size());
}

// Whether most of the block's rows are several pieces, as a table's or a terminal's are.
bool piecedRows(const Block& block) {
    const auto rows = rowsOf(block);
    const auto pieced = std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row.size() >= 2; });
    return rows.size() >= 3 && 2 * pieced >= qsizetype(rows.size());
}

// Whether two blocks stand side by side no further apart than a table's columns: three line
// heights at most.
bool near(const Block& a, const Block& b) {
    const QRectF p = frameOf(a), q = frameOf(b);
    const double gap = std::max({0.0, minX(q) - maxX(p), minX(p) - maxX(q)}) * a.front().aspect;
    return gap < 3 * std::min(a.front().box.height(), b.front().box.height());
}

// Whether the lines of a and b are level row by row: at least `fewest` lines on either side and
// nearly all of them have a line of the other level with them, and no two level lines cover each
// other. Where the blocks end on one row, as a table's columns do, lines above the other block (a
// table's header rows over a column of names) do not count; where a table's rows start level with
// a column of a few, the rows below it do not (a terminal's meters beside its summary lines over a
// process table). Blocks close beside rows of pieces count only the rows they share (a terminal's
// summary lines beside its last meter rows, the summary atop a process table). A list beside an
// article, whose lines may happen to fall level with the article's, starts and ends among them,
// and prose is not rows of pieces.
bool pairedByRows(const Block& a, const Block& b, qsizetype fewest = 3) {
    const auto bottomLine = [](const Block& block) -> const Line& {
        return *std::min_element(block.begin(), block.end(),
                                 [](const Line& x, const Line& y) { return minY(x.box) < minY(y.box); });
    };
    const QRectF p = frameOf(a), q = frameOf(b);
    const bool endTogether = level(bottomLine(a), bottomLine(b));
    const bool startTogether = level(topLine(a), topLine(b)) && (piecedRows(a) || piecedRows(b));
    const bool beside = (piecedRows(a) || piecedRows(b)) && near(a, b);
    const double high = endTogether || beside ? std::min(maxY(p), maxY(q)) : 1;
    const double low = startTogether || beside ? std::max(minY(p), minY(q)) : 0;
    const auto pairedShare = [&](const Block& one, const Block& other) {
        qsizetype beside = 0, paired = 0;
        for (const Line& line : one) {
            if (midY(line.box) > high || midY(line.box) < low)
                continue;
            ++beside;
            bool found = false;
            for (const Line& next : other) {
                if (!level(line, next))
                    continue;
                if (std::min(maxX(line.box), maxX(next.box)) > std::max(minX(line.box), minX(next.box)))
                    return false;
                found = true;
            }
            paired += found;
        }
        return beside >= fewest && 10 * paired >= 9 * beside;
    };
    return pairedShare(a, b) && pairedShare(b, a);
}

// Whether the block is mostly a column of figures (a share, a size, a time, a count: more digits
// than letters), two lines in three at least; a summary line may have joined it from beside.
bool figures(const Block& block) {
    const auto count = std::count_if(block.begin(), block.end(), [](const Line& line) {
        const auto digits = std::count_if(line.text.begin(), line.text.end(), [](QChar c) { return c.isDigit(); });
        const auto letters = std::count_if(line.text.begin(), line.text.end(), [](QChar c) { return c.isLetter(); });
        return digits > letters;
    });
    return 3 * count >= 2 * qsizetype(block.size());
}

// Whether most of the block's lines fall well short of its width, as the cells of a table's column do (names
// beside their values); the lines of a column of prose run to its edge but for a paragraph's last.
bool ragged(const Block& block) {
    const double width = frameOf(block).width();
    const auto shortLines =
        std::count_if(block.begin(), block.end(), [&](const Line& line) { return line.box.width() < 0.7 * width; });
    return block.size() >= 3 && 2 * shortLines >= qsizetype(block.size());
}

// A table or a terminal whose fields the recogniser took apart into columns gives blocks side by
// side whose lines are level with each other row by row, one for one: a column of a field or two
// per row beside the rest of each row, a column of figures beside the rows they belong to, or two
// parts of a table whose rows are pieces already (the rest of a row may be two lines only, as a
// summary beside a meter's last rows is), or the two columns of a table of names and values, close
// together, their cells falling short of the columns' widths. They are one block, read row by row.
// Two columns of prose, or two lists, can stand level line for line too, but their rows are alike on
// both sides and whole, and a gutter parts them.
std::vector<Block> joinRowPairedBlocks(std::vector<Block> blocks) {
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t a = 0; a < blocks.size() && !merged; ++a)
            for (size_t b = a + 1; b < blocks.size() && !merged; ++b) {
                if (blocks[a].size() < 2 || blocks[b].size() < 2)
                    continue;
                const bool pieces = near(blocks[a], blocks[b]) && (piecedRows(blocks[a]) || piecedRows(blocks[b]));
                const size_t fewest = pieces ? 2 : 3;
                if (blocks[a].size() < fewest || blocks[b].size() < fewest)
                    continue;
                const double fewer = std::min(wordsPerRow(blocks[a]), wordsPerRow(blocks[b]));
                const double more = std::max(wordsPerRow(blocks[a]), wordsPerRow(blocks[b]));
                const bool cells = near(blocks[a], blocks[b]) && ragged(blocks[a]) && ragged(blocks[b]);
                if ((fewer > 3 || more <= 3) && !pieces && !cells && !figures(blocks[a]) && !figures(blocks[b]))
                    continue;
                if (!pairedByRows(blocks[a], blocks[b], qsizetype(fewest)))
                    continue;
                blocks[a].insert(blocks[a].end(), blocks[b].begin(), blocks[b].end());
                blocks.erase(blocks.begin() + qsizetype(b));
                merged = true;
            }
    }
    return blocks;
}

// A heading stands further above its paragraph than the paragraph's lines stand apart, though
// close enough to be joined to it: a block whose first line is alone on its row, over a gap of most
// of a line's height (of the smaller type) and more than twice any gap further down, is that heading
// and its text, when the line under it runs well past it (a list's items are alike). The heading
// starts a block of its own where it stands.
std::vector<Block> splitHeadings(std::vector<Block> blocks) {
    std::vector<Block> out;
    for (Block& block : blocks) {
        const auto rows = rowsOf(block);
        if (rows.size() >= 3 && rows[0].size() == 1) {
            const auto gapBelow = [&](size_t r) {
                double bottom = 1, top = 0;
                for (const Line* line : rows[r])
                    bottom = std::min(bottom, minY(line->box));
                for (const Line* line : rows[r + 1])
                    top = std::max(top, maxY(line->box));
                return bottom - top;
            };
            double widest = 0;
            for (size_t r = 1; r + 1 < rows.size(); ++r)
                widest = std::max(widest, gapBelow(r));
            const Line& heading = *rows[0].front();
            const double lower = std::min(heading.box.height(), rows[1].front()->box.height());
            const double under = maxX(rows[1].back()->box) - minX(rows[1].front()->box);
            if (gapBelow(0) > 0.9 * lower && gapBelow(0) > 2 * std::max(widest, 0.0) &&
                under >= 1.5 * heading.box.width()) {
                out.push_back({heading});
                Block rest;
                for (const Line& line : block)
                    if (&line != &heading)
                        rest.push_back(line);
                out.push_back(std::move(rest));
                continue;
            }
        }
        out.push_back(std::move(block));
    }
    return out;
}

// A table's cell that the recogniser measured apart from the rest of its row (a price set lower,
// a word without tall letters, a header over a column of figures) is left a block of its own,
// which would then be read after the whole table. A block whose every line stands level with a
// row of a table, inside the table's width and beside that row's pieces without covering them,
// belongs to those rows. A list or a paragraph beside a table stands further off than its columns.
std::vector<Block> joinTableCells(std::vector<Block> blocks) {
    for (size_t t = 0; t < blocks.size(); ++t) {
        if (!piecedRows(blocks[t]))
            continue;
        const auto rows = rowsOf(blocks[t]);
        // A wide table's columns stand as far apart as the widest gap between the pieces of its fullest rows;
        // a row missing a cell shows a gap no column has.
        size_t fullest = 0;
        for (const auto& row : rows)
            fullest = std::max(fullest, row.size());
        double pitch = 0;
        for (const auto& row : rows)
            for (size_t k = 1; k < row.size() && row.size() == fullest; ++k)
                pitch = std::max(pitch, minX(row[k]->box) - maxX(row[k - 1]->box));
        const QRectF table = frameOf(blocks[t]);
        const auto withinPitch = [&](const Block& block) {
            const QRectF frame = frameOf(block);
            const double gap = std::max(minX(frame) - maxX(table), minX(table) - maxX(frame));
            return minY(frame) >= minY(table) && maxY(frame) <= maxY(table) && gap <= 1.1 * pitch;
        };
        for (size_t s = 0; s < blocks.size(); ++s) {
            if (s == t || blocks[s].size() > 3 || !(near(blocks[t], blocks[s]) || withinPitch(blocks[s])))
                continue;
            const bool cells = std::all_of(blocks[s].begin(), blocks[s].end(), [&](const Line& cell) {
                return std::any_of(rows.begin(), rows.end(), [&](const std::vector<const Line*>& row) {
                    return level(*row.front(), cell) && std::none_of(row.begin(), row.end(), [&](const Line* piece) {
                               return std::min(maxX(piece->box), maxX(cell.box)) >
                                      std::max(minX(piece->box), minX(cell.box));
                           });
                });
            });
            if (!cells)
                continue;
            blocks[t].insert(blocks[t].end(), blocks[s].begin(), blocks[s].end());
            blocks.erase(blocks.begin() + qsizetype(s));
            // Indexes after s moved down; start this table over with its new rows.
            return joinTableCells(std::move(blocks));
        }
    }
    return blocks;
}

// A block that stands wholly inside another's frame lies between that block's lines: a line the
// recogniser measured smaller than its neighbours (a compiler's marker under the name it points
// at, a source line in another colour) would otherwise be read after the whole block, after the
// prompt that ends a terminal's output. It is read in its row among the other's lines.
std::vector<Block> joinEnclosed(std::vector<Block> blocks) {
    for (bool merged = true; merged;) {
        merged = false;
        std::vector<QRectF> frames;
        for (const Block& block : blocks)
            frames.push_back(frameOf(block));
        for (size_t s = 0; s < blocks.size() && !merged; ++s)
            for (size_t t = 0; t < blocks.size() && !merged; ++t) {
                const QRectF& inner = frames[s];
                const QRectF& outer = frames[t];
                if (s == t || blocks[t].size() < 3 || minX(inner) < minX(outer) || maxX(inner) > maxX(outer) ||
                    minY(inner) < minY(outer) || maxY(inner) > maxY(outer))
                    continue;
                blocks[t].insert(blocks[t].end(), blocks[s].begin(), blocks[s].end());
                blocks.erase(blocks.begin() + qsizetype(s));
                merged = true;
            }
    }
    return blocks;
}

// A column of single lines at the right, each level with the first line of a block to its left (a
// mail's date beside its sender, a file's size beside its name and description): each ends that
// block's first row. Three such rows at least, their ends in line at either edge, so that a word
// that happens to stand level with a paragraph's first line is not taken in.
std::vector<Block> joinRowEnds(std::vector<Block> blocks) {
    std::vector<std::pair<size_t, size_t>> pairs; // (end, block it ends)
    for (size_t s = 0; s < blocks.size(); ++s) {
        if (blocks[s].size() != 1)
            continue;
        // The nearest block to its left whose first line it stands level with.
        std::optional<size_t> nearest;
        for (size_t t = 0; t < blocks.size(); ++t)
            if (t != s && blocks[t].size() >= 2 && level(topLine(blocks[t]), blocks[s].front()) &&
                minX(blocks[s].front().box) > maxX(frameOf(blocks[t])) &&
                (!nearest || maxX(frameOf(blocks[t])) > maxX(frameOf(blocks[*nearest]))))
                nearest = t;
        if (nearest)
            pairs.emplace_back(s, *nearest);
    }
    std::vector<std::pair<size_t, size_t>> joins;
    for (const auto& [s, t] : pairs) {
        const QRectF& end = blocks[s].front().box;
        const auto inLine = std::count_if(pairs.begin(), pairs.end(), [&](const auto& other) {
            const QRectF& box = blocks[other.first].front().box;
            return std::abs(maxX(box) - maxX(end)) < 0.01 || std::abs(minX(box) - minX(end)) < 0.01;
        });
        if (inLine >= 3)
            joins.emplace_back(s, t);
    }
    if (joins.empty())
        return blocks;
    std::vector<bool> gone(blocks.size(), false);
    for (const auto& [s, t] : joins) {
        blocks[t].push_back(blocks[s].front());
        gone[s] = true;
    }
    std::vector<Block> out;
    for (size_t i = 0; i < blocks.size(); ++i)
        if (!gone[i])
            out.push_back(std::move(blocks[i]));
    return out;
}

// Whether each line opens with a list's marker: a bullet or dash (as the recogniser reads one) or a
// number with its stop.
bool markedItem(const Line& line) {
    const QString first = line.text.section(u' ', 0, 0, QString::SectionSkipEmpty);
    if (first.isEmpty() || first.size() == line.text.trimmed().size())
        return false;
    static const QString bullets =
        QStringLiteral("\u2022\u00b7*+-\u2013\u2014\u25aa\u25e6\u25cb\u25a0\u25a1\u25ba\u25b8\u00bb");
    // The recogniser reads a bullet as whatever sign it resembles (a cent sign, a plus, a degree).
    if (first.size() == 1)
        return bullets.contains(first.front()) || !first.front().isLetterOrNumber();
    const QChar stop = first.back();
    const QStringView number = QStringView(first).chopped(1);
    return (stop == u'.' || stop == u')') && number.size() <= 3 &&
           std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); });
}

// Whether the lines are separate items of a list rather than a paragraph wrapped to its width:
// each opens with a marker, or each is a few words from a capital letter, spaced further apart than
// a paragraph's lines are, none running on into the next (a hyphen or comma at its end).
bool listItems(const std::vector<Line>& lines) {
    if (lines.size() < 2)
        return false;
    if (std::all_of(lines.begin(), lines.end(), markedItem))
        return true;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QString text = lines[i].text.trimmed();
        if (text.isEmpty() || !(text.front().isUpper() || text.front().isDigit()) ||
            text.split(u' ', Qt::SkipEmptyParts).size() > 4 || text.endsWith(u'-') || text.endsWith(u','))
            return false;
        if (i > 0) {
            const QRectF& above = lines[i - 1].box;
            const QRectF& below = lines[i].box;
            if (minY(above) - maxY(below) < 0.5 * std::min(above.height(), below.height()))
                return false;
        }
    }
    return true;
}

} // namespace

void sortByLineOrder(std::vector<Line>& lines) {
    std::stable_sort(lines.begin(), lines.end(), lineBefore);
}

std::vector<Block> segment(const std::vector<Line>& lines, const std::vector<QRectF>& rules) {
    const size_t n = lines.size();
    std::vector<size_t> parent(n);
    std::iota(parent.begin(), parent.end(), size_t(0));
    auto root = [&](size_t i) {
        size_t r = i;
        while (parent[r] != r)
            r = parent[r];
        while (parent[i] != r) {
            const size_t next = parent[i];
            parent[i] = r;
            i = next;
        }
        return r;
    };
    for (size_t a = 0; a + 1 < n; ++a)
        for (size_t b = a + 1; b < n; ++b)
            if (joined(lines[a].box, lines[b].box, std::max(lines[a].aspect, lines[b].aspect)))
                parent[root(a)] = root(b);
    // The cells of a ruled grid are one table, read row by row, however far apart its borders hold them.
    if (n > 0)
        for (const QRectF& grid : ruledGrids(rules, lines.front().aspect)) {
            std::optional<size_t> first;
            for (size_t i = 0; i < n; ++i)
                if (grid.contains(lines[i].box.center()))
                    first ? void(parent[root(i)] = root(*first)) : void(first = i);
        }

    std::vector<Block> blocks;
    std::vector<qsizetype> blockOfRoot(n, -1);
    for (size_t i = 0; i < n; ++i) {
        const size_t r = root(i);
        if (blockOfRoot[r] < 0) {
            blockOfRoot[r] = qsizetype(blocks.size());
            blocks.emplace_back();
        }
        blocks[size_t(blockOfRoot[r])].push_back(lines[i]);
    }
    return joinRowEnds(joinEnclosed(joinTableCells(joinRowPairedBlocks(splitHeadings(std::move(blocks))))));
}

std::vector<Block> order(std::vector<Block> blocks) {
    if (blocks.size() < 2)
        return blocks;
    std::vector<QRectF> frames;
    frames.reserve(blocks.size());
    for (const Block& block : blocks)
        frames.push_back(frameOf(block));
    std::vector<size_t> indexes(blocks.size());
    std::iota(indexes.begin(), indexes.end(), size_t(0));

    auto recurse = [&](const std::vector<std::vector<size_t>>& groups) {
        std::vector<Block> out;
        for (const auto& group : groups) {
            std::vector<Block> part;
            part.reserve(group.size());
            for (size_t i : group)
                part.push_back(blocks[i]);
            for (Block& block : order(std::move(part)))
                out.push_back(std::move(block));
        }
        return out;
    };

    const std::vector<std::vector<size_t>> bands = rowBands(frames, indexes);
    const std::vector<std::vector<size_t>> cols = columnCuts(frames, indexes);
    const auto oneRow = [&](const std::vector<size_t>& band) {
        return std::all_of(band.begin(), band.end(),
                           [&](size_t i) { return level(blocks[i].front(), blocks[band.front()].front()); });
    };
    // A row of single items standing well clear of everything under it is a bar too, however its
    // items fall into the columns below (the site's name over a sidebar, the links over the page):
    // the columns' own headings stand close over them.
    const auto standsApart = [&](const std::vector<size_t>& band) {
        double floor = 1, tallest = 0, below = 0;
        for (size_t i : band) {
            floor = std::min(floor, minY(frames[i]));
            tallest = std::max(tallest, frames[i].height());
        }
        for (size_t b = 1; b < bands.size(); ++b)
            for (size_t i : bands[b])
                below = std::max(below, maxY(frames[i]));
        return std::all_of(band.begin(), band.end(), [&](size_t i) { return blocks[i].size() == 1; }) &&
               floor - below > 1.5 * tallest;
    };
    if (cols.size() >= 2 && bands.size() >= 2 && bands.front().size() >= 3 && oneRow(bands.front()) &&
        (isBarAbove(blocks, frames, bands.front(), cols) || standsApart(bands.front()))) {
        // A bar of links is one row of items, read as one line, however far apart they stand. Two
        // items level (a label and its button) are not yet a bar.
        Block bar;
        for (size_t i : bands.front())
            bar.insert(bar.end(), blocks[i].begin(), blocks[i].end());
        std::vector<std::vector<size_t>> rest{{}};
        for (size_t b = 1; b < bands.size(); ++b)
            rest.back().insert(rest.back().end(), bands[b].begin(), bands[b].end());
        std::vector<Block> out{std::move(bar)};
        for (Block& block : recurse(rest))
            out.push_back(std::move(block));
        return out;
    }
    if (cols.size() >= 2 && bands.size() >= 2 && isBarAbove(blocks, frames, bands.front(), cols)) {
        std::vector<std::vector<size_t>> rest{bands.front(), {}};
        for (size_t b = 1; b < bands.size(); ++b)
            rest.back().insert(rest.back().end(), bands[b].begin(), bands[b].end());
        return recurse(rest);
    }
    if (cols.size() >= 2 && bands.size() >= 2) {
        // Both cuts are possible: a page of independent columns (an article, a sidebar beside a
        // chat) or a grid read by rows (a table, a form). Cutting rows first would put each column's
        // paragraphs between the other's wherever their gaps happen to line up; columns whose
        // blocks sit in aligned rows, or that never stand side by side, stay together and are read
        // by rows.
        std::vector<std::vector<size_t>> groups{cols.front()};
        for (size_t c = 1; c < cols.size(); ++c) {
            if (readAsRows(blocks, frames, groups.back(), cols[c]))
                groups.back().insert(groups.back().end(), cols[c].begin(), cols[c].end());
            else
                groups.push_back(cols[c]);
        }
        if (groups.size() >= 2) {
            // What stands above the top of every other column (a window's title, a banner over the
            // page beside a sidebar) is read before them: a sidebar comes before the page beside it
            // only where the two start level.
            std::vector<double> tops;
            for (const auto& group : groups)
                tops.push_back(maxY(frames[*std::max_element(group.begin(), group.end(), [&](size_t a, size_t b) {
                    return maxY(frames[a]) < maxY(frames[b]);
                })]));
            std::sort(tops.begin(), tops.end(), std::greater<>());
            size_t above = 0;
            while (above < bands.size() && std::all_of(bands[above].begin(), bands[above].end(),
                                                       [&](size_t i) { return minY(frames[i]) > tops[1]; }))
                ++above;
            if (above == 0)
                return recurse(groups);
            std::vector<std::vector<size_t>> rest(bands.begin(), bands.begin() + qsizetype(above));
            rest.emplace_back();
            for (size_t b = above; b < bands.size(); ++b)
                rest.back().insert(rest.back().end(), bands[b].begin(), bands[b].end());
            return recurse(rest);
        }
    }
    if (bands.size() >= 2) {
        // Only the top band is cut off: below a heading that spans them, the columns underneath
        // may be cut apart again, whose gaps can meet by chance.
        std::vector<std::vector<size_t>> rest{bands.front(), {}};
        for (size_t b = 1; b < bands.size(); ++b)
            rest.back().insert(rest.back().end(), bands[b].begin(), bands[b].end());
        return recurse(rest);
    }
    if (cols.size() >= 2)
        return recurse(cols);

    std::stable_sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
        if (std::abs(maxY(frames[a]) - maxY(frames[b])) > 0.01)
            return maxY(frames[a]) > maxY(frames[b]);
        return minX(frames[a]) < minX(frames[b]);
    });
    std::vector<Block> out;
    out.reserve(blocks.size());
    for (size_t i : indexes)
        out.push_back(std::move(blocks[i]));
    return out;
}

bool keepsLineBreaks(const std::vector<Line>& lines) {
    // A list's items keep their own lines however few and however alike their widths: a sidebar's
    // links or a menu's entries run together read as one sentence that nobody wrote.
    if (listItems(lines))
        return true;
    if (lines.size() < 3)
        return false;
    // A table's rows, or a terminal's lines cut at their fields, are lines however they are set.
    if (piecedRows(lines))
        return true;
    // Each row is measured by its first piece: the end of a row set apart at the right (a date, a
    // size) says nothing of whether the row's own text was wrapped.
    std::vector<QRectF> starts;
    for (const auto& row : rowsOf(lines))
        starts.push_back(row.front()->box);
    double widest = 0, leftmost = minX(starts.front()), rightmostStart = leftmost;
    for (const QRectF& start : starts) {
        widest = std::max(widest, start.width());
        leftmost = std::min(leftmost, minX(start));
        rightmostStart = std::max(rightmostStart, minX(start));
    }
    const auto shortLines = std::count_if(starts.begin(), starts.end(),
                                          [&](const QRectF& start) { return !(start.width() >= 0.8 * widest); });
    const double shortShare = double(shortLines) / double(starts.size());
    if (shortShare > 0.5 && rightmostStart - leftmost <= 0.25 * widest)
        return true;

    static const QString codeCharacters = QStringLiteral("/_{}()[]=<>;|\\$#~*");
    qsizetype all = 0, code = 0;
    for (const Line& line : lines)
        for (const QString& character : Graphemes::split(line.text)) {
            ++all;
            if (character.size() == 1 && codeCharacters.contains(character.front()))
                ++code;
        }
    if (all == 0)
        return false;
    return double(code) / double(all) > 0.06;
}

QString paragraphs(std::vector<Line> lines) {
    sortByLineOrder(lines);
    if (lines.empty())
        return {};
    QString out = lines.front().text;
    for (size_t i = 1; i < lines.size(); ++i) {
        const QRectF& previous = lines[i - 1].box;
        const QRectF& current = lines[i].box;
        const double gap = minY(previous) - maxY(current);
        const QStringView last = lastCharacter(out);
        const bool endsSentence = last.size() == 1 && QStringView(u".!?:").contains(last.front());
        if (gap > 0.9 * previous.height())
            out += u'\n';
        else if (endsSentence && gap > 0.3 * previous.height())
            out += u'\n';
        else if (last == u"-")
            out.chop(1);
        else
            out += u' ';
        out += lines[i].text;
    }
    return trimmedText(out);
}

QString blockText(std::vector<Line> lines) {
    sortByLineOrder(lines);
    if (!keepsLineBreaks(lines))
        return paragraphs(std::move(lines));
    // Pieces of one row (a table's cells, a terminal line cut at its fields) stay on one line.
    QString out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            const QRectF& a = lines[i - 1].box;
            const QRectF& b = lines[i].box;
            out += std::abs(midY(a) - midY(b)) <= 0.5 * std::min(a.height(), b.height()) ? u' ' : u'\n';
        }
        out += lines[i].text;
    }
    return trimmedText(out);
}

QString fullText(const std::vector<Line>& lines) {
    QStringList texts;
    for (Block& block : order(segment(lines))) {
        QString text = blockText(std::move(block));
        if (!text.isEmpty())
            texts << text;
    }
    return texts.join(QStringLiteral("\n\n"));
}

} // namespace TextVision
