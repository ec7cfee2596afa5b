#include "text/OcrLines.h"

#include <QString>
#include <algorithm>
#include <iterator>
#include <memory>

namespace TextVision::EngineLines {

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + qsizetype(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// The line's box: the words' horizontal extent, and a vertical extent from which a stray tall
// word box (a glyph merged with a rule or an icon) is kept out by the run of its neighbours.
QRectF lineBox(const std::vector<Word>& words) {
    std::vector<double> tops, bottoms, heights;
    double left = words.front().box.left(), right = words.front().box.right();
    for (const Word& word : words) {
        tops.push_back(word.box.top());
        bottoms.push_back(word.box.bottom());
        heights.push_back(word.box.height());
        left = std::min(left, word.box.left());
        right = std::max(right, word.box.right());
    }
    const double slack = 0.25 * median(heights);
    const double highest = median(tops) - slack, lowest = median(bottoms) + slack;
    double top = lowest, bottom = highest;
    for (const Word& word : words) {
        top = std::min(top, std::max(word.box.top(), highest));
        bottom = std::max(bottom, std::min(word.box.bottom(), lowest));
    }
    return QRectF(left, top, right - left, std::max(0.0, bottom - top));
}

// Tesseract runs words far apart on one row into a line (table cells, a toolbar, two columns);
// split there.
std::vector<PixelLine> splitAtWideGaps(std::vector<PixelLine> lines, const std::vector<QRect>& rules) {
    std::vector<PixelLine> out;
    for (PixelLine& line : lines) {
        std::erase_if(line.words, [](const Word& w) { return w.symbols.empty(); });
        if (line.words.empty())
            continue;
        const double height = lineBox(line.words).height();
        // In a wide empty gap the engine now and then sees an underscore that is not there.
        for (size_t i = 1; i + 1 < line.words.size(); ++i) {
            const Word& word = line.words[i];
            const bool phantom = word.symbols.size() == 1 && word.symbols.front().first == u"_" &&
                                 word.box.left() - line.words[i - 1].box.right() > 0.3 * height &&
                                 line.words[i + 1].box.left() - word.box.right() > 0.3 * height;
            if (phantom)
                line.words.erase(line.words.begin() + qsizetype(i--));
        }
        // A gutter between columns can be as narrow as a line's height, but it is always several
        // of the line's own word spaces wide.
        std::vector<double> gaps;
        for (size_t i = 1; i < line.words.size(); ++i)
            gaps.push_back(line.words[i].box.left() - line.words[i - 1].box.right());
        const double wordSpace = gaps.size() >= 3 ? median(gaps) : height;
        size_t start = 0;
        for (size_t i = 1; i <= line.words.size(); ++i) {
            const double gap = i < line.words.size() ? gaps[i - 1] : 0;
            // A rule standing between two words is a cell's border: the cells are pieces of their own,
            // however close the border stands to their words.
            const auto bordered = [&] {
                const QRectF& before = line.words[i - 1].box;
                const QRectF& after = line.words[i].box;
                return std::any_of(rules.begin(), rules.end(), [&](const QRect& rule) {
                    return rule.height() > rule.width() && rule.left() >= before.right() - 1 &&
                           rule.right() <= after.left() + 1 && rule.top() < after.bottom() &&
                           rule.bottom() > after.top();
                });
            };
            const bool end =
                i == line.words.size() || gap > 1.5 * height || (gap > height && gap > 2.5 * wordSpace) || bordered();
            if (!end)
                continue;
            PixelLine part;
            part.words.assign(std::make_move_iterator(line.words.begin() + qsizetype(start)),
                              std::make_move_iterator(line.words.begin() + qsizetype(i)));
            part.box = lineBox(part.words);
            // The letters' height rather than the ink's: a line of small letters without
            // ascenders, or one whose ink touches a rule, would otherwise seem smaller or larger
            // than its neighbours in the same type, and lists and tables fall apart or run together.
            part.ink = part.box;
            const double letters = line.letterBottom - line.letterTop;
            if (letters > 0.6 * part.box.height() && letters < 1.8 * part.box.height() && letters > 0)
                part.box.setCoords(part.box.left(), line.letterTop, part.box.right(), line.letterBottom);
            out.push_back(std::move(part));
            start = i;
        }
    }
    return out;
}

// The bars blanked out of the picture go back into the row they stand in, read where the band
// holds their middle: joined to the word they follow closely (a meter's "["), or as a word of
// their own in the nearest piece of their row; a run level with nothing read is a line of its own.
void insertBars(std::vector<PixelLine>& lines, const QRect& band, const std::vector<BarRun>& bars) {
    for (const BarRun& run : bars) {
        const QRectF box = run.box();
        if (box.center().y() < band.top() || box.center().y() > band.bottom())
            continue;
        Word bar{box, {}};
        for (const QRect& stroke : run.strokes)
            bar.symbols.emplace_back(QStringLiteral("|"), QRectF(stroke));
        const double pitch = run.strokes[1].left() - run.strokes[0].left();
        PixelLine* row = nullptr;
        double nearest = 3 * box.height();
        for (PixelLine& line : lines) {
            const double level = std::min(line.ink.bottom(), box.bottom()) - std::max(line.ink.top(), box.top());
            const double apart = std::max({0.0, line.ink.left() - box.right(), box.left() - line.ink.right()});
            if (level > 0.5 * std::min(line.ink.height(), box.height()) && apart < nearest) {
                nearest = apart;
                row = &line;
            }
        }
        if (!row) {
            lines.push_back({{bar}, box, box});
            continue;
        }
        auto& words = row->words;
        const auto after = std::find_if(words.begin(), words.end(),
                                        [&](const Word& w) { return w.box.center().x() > box.center().x(); });
        if (after != words.begin() && std::prev(after)->box.right() > box.left() - pitch) {
            Word& before = *std::prev(after);
            before.symbols.insert(before.symbols.end(), bar.symbols.begin(), bar.symbols.end());
            before.box = before.box.united(box);
        } else {
            words.insert(after, std::move(bar));
        }
        row->box = row->box.united(box);
        row->ink = row->ink.united(box);
    }
}

// Whether the engine cut rows apart at spaces no wider than a word's: it took aligned words for
// columns (the fields of a file listing, a process table, a compiler's message under its source
// line). Such a band reads right as one block of lines.
// The layout gives only the ink of the pieces, lower than their letters where they have no tall
// letters or descenders ("-rw-r--r--", "root", "0"): a space is held against the line height usual
// in the picture where that is more.
bool rowsCutAtWordSpaces(const std::vector<PixelLine>& lines, double letters) {
    int cut = 0;
    for (size_t a = 0; a < lines.size(); ++a)
        for (size_t b = 0; b < lines.size(); ++b) {
            const QRectF& p = lines[a].box;
            const QRectF& q = lines[b].box;
            const double h = std::min(p.height(), q.height());
            const double level = std::min(p.bottom(), q.bottom()) - std::max(p.top(), q.top());
            const double gap = q.left() - p.right();
            if (a != b && level > 0.6 * h && gap >= 0 && gap < 1.2 * std::max(h, letters)) {
                ++cut;
                break;
            }
        }
    return cut >= 3 && 5 * cut >= int(lines.size());
}

// Builds the line's text (words joined by single spaces) with a box for each of its UTF-16
// units: the symbol's columns over the whole line's height, so a range's box covers ascenders
// and descenders alike; a word's first and last symbols reach the word's edges.
Line toLine(const PixelLine& pixels, QSizeF size) {
    QString text;
    std::vector<QRectF> unitBoxes;
    auto normalised = [&](double left, double right) {
        return QRectF(left / size.width(), 1.0 - pixels.box.bottom() / size.height(), (right - left) / size.width(),
                      pixels.box.height() / size.height());
    };
    for (size_t w = 0; w < pixels.words.size(); ++w) {
        const Word& word = pixels.words[w];
        if (w > 0) {
            text += u' ';
            unitBoxes.emplace_back();
        }
        for (size_t s = 0; s < word.symbols.size(); ++s) {
            const auto& [symbol, box] = word.symbols[s];
            double left = std::clamp(box.left(), word.box.left(), word.box.right());
            double right = std::clamp(box.right(), left, word.box.right());
            if (s == 0)
                left = word.box.left();
            if (s + 1 == word.symbols.size())
                right = word.box.right();
            text += symbol;
            for (qsizetype u = 0; u < symbol.size(); ++u)
                unitBoxes.push_back(normalised(left, std::max(right, left + 1e-9)));
        }
    }
    const QRectF box = normalised(pixels.box.left(), pixels.box.right());
    auto candidate = std::make_shared<const Candidate>(text, std::move(unitBoxes));
    return {std::move(text), box, std::move(candidate), size.width() / size.height()};
}

// A line on a cut is read by both bands; when its middle sits just past the cut, the band that
// saw only part of it may own that part while the other owns the whole. The engine also reads
// a few lines twice over itself. Text does not lie on text on a screen: of two lines that mostly
// cover each other the larger is the reading.
void dropDoubleReadings(std::vector<const PixelLine*>& lines) {
    std::vector<bool> drop(lines.size(), false);
    for (size_t a = 0; a < lines.size(); ++a)
        for (size_t b = a + 1; b < lines.size(); ++b) {
            if (drop[a] || drop[b])
                continue;
            const QRectF& p = lines[a]->box;
            const QRectF& q = lines[b]->box;
            const QRectF common = p.intersected(q);
            const double smaller = std::min(p.width() * p.height(), q.width() * q.height());
            if (common.isEmpty() || common.width() * common.height() < 0.5 * smaller)
                continue;
            drop[p.width() * p.height() < q.width() * q.height() ? a : b] = true;
        }
    std::vector<const PixelLine*> out;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!drop[i])
            out.push_back(lines[i]);
    lines = std::move(out);
}

// The engine's estimate of a line's letters, from a row of odd glyphs (bars, boxes, figures), can
// run well past its ink into the rows above and below. Text does not lie on text: lines whose
// letters cover each other while their ink does not keep their ink.
void keepLettersApart(std::vector<const PixelLine*>& kept, std::vector<PixelLine>& fixed) {
    std::vector<bool> clash(kept.size(), false);
    for (size_t a = 0; a < kept.size(); ++a)
        for (size_t b = a + 1; b < kept.size(); ++b) {
            const PixelLine& p = *kept[a];
            const PixelLine& q = *kept[b];
            const bool across = std::min(p.box.right(), q.box.right()) > std::max(p.box.left(), q.box.left());
            const bool lettersMeet = std::min(p.box.bottom(), q.box.bottom()) > std::max(p.box.top(), q.box.top());
            const bool inkMeets = std::min(p.ink.bottom(), q.ink.bottom()) > std::max(p.ink.top(), q.ink.top());
            if (across && lettersMeet && !inkMeets)
                clash[a] = clash[b] = true;
        }
    fixed.reserve(kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
        if (clash[i]) {
            fixed.push_back(*kept[i]);
            fixed.back().box = fixed.back().ink;
            kept[i] = &fixed.back();
        }
}

bool hasLetterOrDigit(const PixelLine& line) {
    for (const Word& word : line.words)
        for (const auto& symbol : word.symbols)
            for (const QChar c : symbol.first)
                if (c.isLetterOrNumber())
                    return true;
    return false;
}

// A corner of a panel or a speck of an icon reads as a lone full stop or dash: a line of
// punctuation alone, much lower than the picture's lines of words, is not text. A closing brace
// or a rule of dashes keeps a full line's height and stays.
void dropSpecks(std::vector<const PixelLine*>& lines) {
    std::vector<double> heights;
    for (const PixelLine* line : lines)
        if (hasLetterOrDigit(*line))
            heights.push_back(line->box.height());
    if (heights.empty())
        return;
    const double typical = median(heights);
    std::erase_if(
        lines, [&](const PixelLine* line) { return !hasLetterOrDigit(*line) && line->box.height() < 0.6 * typical; });
}

} // namespace TextVision::EngineLines
