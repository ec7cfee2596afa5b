#include "text/LineGeometry.h"

#include "text/Misreads.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace TextVision {

namespace {

double verticalOverlap(const QRectF& a, const QRectF& b) {
    return std::min(maxY(a), maxY(b)) - std::max(minY(a), minY(b));
}

bool sameRow(const QRectF& a, const QRectF& b) {
    return verticalOverlap(a, b) > 0.5 * std::min(a.height(), b.height());
}

// The width of one character, as an average over the line: exact for a terminal's.
double characterWidth(const Line& line) {
    return line.text.isEmpty() ? 0 : line.box.width() / double(line.text.size());
}

// The width of the line's first word.
double firstWordWidth(const Line& line) {
    qsizetype start = 0;
    while (start < line.text.size() && line.text[start].isSpace())
        ++start;
    qsizetype end = start;
    while (end < line.text.size() && !line.text[end].isSpace())
        ++end;
    if (!line.candidate || end == start)
        return 0;
    const std::optional<QRectF> box = line.candidate->boundingBox(start, end - start);
    return box ? box->width() : 0;
}

// Whether the digits that end `before` and those that open `after` make one card or account number together, and
// neither of the two is a whole one by itself. A card number's first part follows a word on its line or its row
// (`besideWords`): a column of numbers alone on their lines is kept apart.
bool brokenNumber(const QString& before, const QString& after, bool besideWords) {
    static const QRegularExpression iban(QStringLiteral(R"(\b[A-Z]{2}\d{2}(?: ?[A-Z0-9]{1,4})*$)"));
    static const QRegularExpression card(QStringLiteral(R"((?<![\d-])\d[\d -]*$)"));
    static const QRegularExpression head(QStringLiteral(R"(^[A-Z0-9][A-Z0-9 -]*[A-Z0-9]\b)"));
    const QString text = before.trimmed();
    const QRegularExpressionMatch start = head.match(after.trimmed());
    if (!start.hasMatch())
        return false;
    std::vector<QString> pieces;
    for (qsizetype cut = start.capturedLength(); cut > 0; cut = start.captured().lastIndexOf(u' ', cut - 1))
        pieces.push_back(start.captured().first(cut).trimmed());
    if (const QRegularExpressionMatch end = iban.match(text); end.hasMatch() && !ibanValid(end.captured()))
        for (const QString& piece : pieces)
            if (ibanValid(end.captured() + u' ' + piece))
                return true;
    // A telephone number has no check: its first part starts with a country's prefix, or with a trunk 0 beside words,
    // and all the digits the next row starts with end it within the fifteen digits a number may have. Two whole
    // numbers in a column are longer than that.
    static const QRegularExpression phone(QStringLiteral(R"((?<![\d+])(\+|00|0)\d[\d ()-]*$)"));
    static const QRegularExpression rest(QStringLiteral(R"(^\d+(?: \d+)*(?![\w-]))"));
    const auto digits = [](QStringView piece) {
        return std::count_if(piece.begin(), piece.end(), [](QChar c) { return c.isDigit(); });
    };
    if (const QRegularExpressionMatch end = phone.match(text), more = rest.match(after.trimmed());
        end.hasMatch() && more.hasMatch() && (end.captured(1) != u"0" || besideWords) && digits(end.captured()) <= 10 &&
        more.capturedLength() >= 2 && digits(end.captured()) + digits(more.captured()) >= 10 &&
        digits(end.captured()) + digits(more.captured()) <= 15)
        return true;
    const QRegularExpressionMatch end = card.match(text);
    if (!end.hasMatch() || (end.capturedStart() == 0 && !besideWords))
        return false;
    // From the longest run of groups at the line's end to its last group alone.
    for (qsizetype from = end.capturedStart(); from >= 0 && from < text.size();
         from = text.indexOf(u' ', from) < 0 ? -1 : text.indexOf(u' ', from) + 1) {
        const QString first = text.mid(from).trimmed();
        if (first.isEmpty() || luhnValid(first))
            continue;
        for (const QString& piece : pieces)
            if (!piece.isEmpty() && piece.front().isDigit() && piece.back().isDigit() && !luhnValid(piece) &&
                luhnValid(first + u' ' + piece))
                return true;
    }
    return false;
}

// The centres of the line's characters, and the width of its cells where its characters stand one cell apart
// (a terminal's line); no width where it is too short to tell or set in proportional type.
struct Cells {
    std::vector<std::optional<double>> centre;
    std::optional<double> pitch;
};

Cells cellsOf(const Line& line) {
    const QString& text = line.text;
    Cells out{std::vector<std::optional<double>>(size_t(text.size())), std::nullopt};
    if (!line.candidate)
        return out;
    std::vector<std::optional<double>>& centre = out.centre;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!text[i].isSpace())
            if (const auto box = line.candidate->boundingBox(i, 1))
                centre[size_t(i)] = box->center().x();
    std::vector<double> steps;
    for (size_t i = 0; i + 1 < centre.size(); ++i)
        if (centre[i] && centre[i + 1])
            steps.push_back(*centre[i + 1] - *centre[i]);
    // Too few neighbours to tell a pitch from chance.
    if (steps.size() < 8)
        return out;
    std::vector<double> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
    const double pitch = sorted[sorted.size() / 2];
    if (pitch <= 0)
        return out;
    const auto regular = std::count_if(steps.begin(), steps.end(),
                                       [pitch](double step) { return std::abs(step - pitch) <= 0.25 * pitch; });
    // Proportional type: the letters' own widths vary too much to count cells.
    if (double(regular) >= 0.8 * double(steps.size()))
        out.pitch = pitch;
    return out;
}

} // namespace

std::optional<double> sharedPitch(std::vector<double> pitches, size_t least) {
    if (pitches.size() < least || pitches.empty())
        return {};
    std::sort(pitches.begin(), pitches.end());
    const double median = pitches[pitches.size() / 2];
    const auto agree = std::count_if(pitches.begin(), pitches.end(),
                                     [median](double p) { return std::abs(p - median) <= 0.1 * median; });
    if (double(agree) < 0.8 * double(pitches.size()))
        return {};
    return median;
}

std::optional<double> cellPitch(const Line& line) {
    return cellsOf(line).pitch;
}

std::vector<bool> madeUpUnits(const Line& line, std::optional<double> rowsPitch) {
    const QString& text = line.text;
    std::vector<bool> out(size_t(text.size()), false);
    const Cells cells = cellsOf(line);
    if (!cells.pitch && !rowsPitch)
        return out;
    const double pitch = cells.pitch.value_or(rowsPitch.value_or(0));
    const std::vector<std::optional<double>>& centre = cells.centre;
    // A mark read between two characters in adjacent cells ("a8f5f16/7f44" for "a8f5f167f44"): real marks have
    // cells of their own, as do the marks a letter is misread as.
    for (size_t i = 1; i + 1 < centre.size(); ++i)
        if (!text[qsizetype(i)].isLetterOrNumber() && centre[i] && centre[i - 1] && centre[i + 1]) {
            const double left = *centre[i - 1], mark = *centre[i], right = *centre[i + 1];
            if (right - left < 1.5 * pitch && mark > left && mark < right)
                out[i] = true;
        }
    for (qsizetype i = 0; i < text.size();) {
        if (!text[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (start == 0 || i == text.size())
            continue;
        const auto& before = centre[size_t(start - 1)];
        const auto& after = centre[size_t(i)];
        // Characters in adjacent cells stand one pitch apart; a real blank leaves a cell empty between them.
        // The boxes of a word's first and last letters stray by a third of a cell in a small bitmap font.
        if (before && after && *after - *before < 1.6 * pitch)
            std::fill(out.begin() + start, out.begin() + i, true);
    }
    return out;
}

namespace {

// The right edge of a terminal's rows: the furthest end of a line, but where one line alone ends a little further
// right than others end together (a title bar's buttons captured with the window), theirs; `height` is a row's.
double sharedEnd(std::vector<double> ends, double height) {
    std::sort(ends.begin(), ends.end(), std::greater<>());
    for (size_t i = 0; i + 1 < ends.size(); ++i)
        if (ends[i + 1] >= ends[i] - height / 6 || ends[i + 1] < ends[i] - 1.5 * height)
            return ends[i];
    return ends.front();
}

// A terminal puts what reaches its last column on at the first column of the next row, whatever the text: a line
// that ends at the right edge of the text around it, set in cells, goes on in the line of the next row that starts at
// the left edge, in cells of the same width. The line beside it on its row may stand far off (a label and a column
// of values), so neither the line's block nor the room left on its row tells this wrap.
int terminalWrap(const std::vector<Line>& lines, size_t a) {
    const Line& line = lines[a];
    const QRectF& A = line.box;
    // A capitalised word at the edge is a heading or a button's label over the rows, not the start of a secret.
    static const QRegularExpression word(QStringLiteral(R"(^\p{Lu}\p{Ll}+$)"));
    if (line.text.trimmed().isEmpty() || A.height() <= 0 || word.match(line.text.trimmed()).hasMatch())
        return -1;
    // Rows of one terminal are alike in height, against the picture's usual line: a line of small letters alone
    // ("xoxa") is boxed at half the height of one with capitals, and a misread one taller.
    std::vector<double> heights;
    for (const Line& other : lines)
        if (!other.text.trimmed().isEmpty())
            heights.push_back(other.box.height());
    std::nth_element(heights.begin(), heights.begin() + std::ptrdiff_t(heights.size() / 2), heights.end());
    const double usual = heights[heights.size() / 2];
    const auto alike = [&](const Line& other) {
        return !other.text.trimmed().isEmpty() && other.box.height() > 0.45 * usual && other.box.height() < 2.2 * usual;
    };
    if (!alike(line))
        return -1;
    double left = std::numeric_limits<double>::infinity();
    std::vector<double> ends;
    for (const Line& other : lines)
        if (alike(other)) {
            left = std::min(left, minX(other.box));
            ends.push_back(maxX(other.box));
        }
    const double right = sharedEnd(std::move(ends), usual);
    // A cell is narrower than the line is high; the pitch read from the characters settles it below. The line's own
    // average is no measure: the recogniser reads a row's label and its value far right as one line.
    const double roughCell = usual;
    if (maxX(A) < right - roughCell)
        return -1;
    int next = -1;
    for (size_t b = 0; b < lines.size(); ++b) {
        const QRectF& B = lines[b].box;
        if (b == a || !alike(lines[b]) || sameRow(A, B) || midY(B) >= minY(A) ||
            minY(A) - maxY(B) > 0.6 * std::max({A.height(), B.height(), usual}) || minX(B) > left + 2 * roughCell)
            continue;
        if (next < 0 || midY(B) > midY(lines[size_t(next)].box) + 0.5 * B.height() ||
            (sameRow(B, lines[size_t(next)].box) && minX(B) < minX(lines[size_t(next)].box)))
            next = int(b);
    }
    if (next < 0)
        return -1;
    std::optional<double> pitch = cellsOf(lines[size_t(next)]).pitch;
    if (!pitch)
        pitch = cellsOf(line).pitch;
    // Short or misread lines tell no pitch of their own; a terminal's other rows do, all the same one.
    if (!pitch) {
        std::vector<double> pitches;
        for (const Line& other : lines)
            if (alike(other))
                if (const std::optional<double> p = cellsOf(other).pitch)
                    pitches.push_back(*p);
        pitch = sharedPitch(std::move(pitches), 3);
    }
    // The recogniser may lose the last mark before the edge ("rk" for "rk_").
    if (!pitch || maxX(A) < right - 1.25 * *pitch || minX(lines[size_t(next)].box) > left + 1.5 * *pitch)
        return -1;
    // The edge is the terminal's where another row reaches it too; the end of the longest line read is not (boxes
    // painted over the longer rows leave a short one longest).
    if (std::none_of(lines.begin(), lines.end(), [&](const Line& other) {
            return &other != &line && alike(other) && !sameRow(other.box, A) && maxX(other.box) >= right - *pitch;
        }))
        return -1;
    // The characters at the line's end stand in cells of that pitch, not in a proportional face's.
    qsizetype end = line.text.size();
    while (end > 0 && line.text[end - 1].isSpace())
        --end;
    qsizetype start = end;
    while (start > 0 && end - start < 8 && !line.text[start - 1].isSpace())
        --start;
    // A character read twice or lost in a longer word still leaves it near its width in cells; one character alone
    // tells nothing (a lost neighbour widens its box).
    if (const auto box = line.candidate ? line.candidate->boundingBox(start, end - start) : std::optional<QRectF>();
        !box || (end - start > 1 &&
                 std::abs(box->width() - double(end - start) * *pitch) > (0.6 + 0.15 * double(end - start)) * *pitch))
        return -1;
    return next;
}

} // namespace

std::vector<QRectF> unreadRowEnds(const std::vector<Line>& lines, bool everyRow) {
    std::vector<double> heights;
    for (const Line& line : lines)
        if (!line.text.trimmed().isEmpty())
            heights.push_back(line.box.height());
    if (heights.size() < 3)
        return {};
    std::nth_element(heights.begin(), heights.begin() + std::ptrdiff_t(heights.size() / 2), heights.end());
    const double usual = heights[heights.size() / 2];
    const auto alike = [&](const Line& line) {
        return !line.text.trimmed().isEmpty() && line.box.height() > 0.45 * usual && line.box.height() < 2.2 * usual;
    };
    // A terminal's rows share one pitch; a page in proportional type gives none.
    std::vector<double> pitches, ends;
    double left = std::numeric_limits<double>::infinity();
    for (const Line& line : lines)
        if (alike(line)) {
            left = std::min(left, minX(line.box));
            ends.push_back(maxX(line.box));
            if (const std::optional<double> p = cellsOf(line).pitch)
                pitches.push_back(*p);
        }
    const std::optional<double> shared = sharedPitch(std::move(pitches), 3);
    if (!shared || ends.size() < 2)
        return {};
    const double pitch = *shared;
    const double right = sharedEnd(std::move(ends), usual);
    std::vector<QRectF> out;
    for (const Line& line : lines) {
        const QRectF& L = line.box;
        if (!alike(line) || minX(L) > left + 1.5 * pitch)
            continue;
        // The row just above, and how far right anything on it was read.
        const Line* above = nullptr;
        for (const Line& other : lines)
            if (alike(other) && !sameRow(other.box, L) && midY(other.box) > maxY(L) &&
                minY(other.box) - maxY(L) <= 0.6 * std::max(L.height(), other.box.height()) &&
                (!above || midY(other.box) < midY(above->box)))
                above = &other;
        if (!above)
            continue;
        QRectF row = above->box;
        for (const Line& other : lines)
            if (alike(other) && sameRow(other.box, above->box))
                row = unionOf(row, other.box);
        if (maxX(row) >= right - 2 * pitch)
            continue;
        const double from = std::max(maxX(row) + pitch, right - 12 * pitch);
        const QRectF end(from, minY(above->box) - 0.25 * above->box.height(), right + pitch - from,
                         1.5 * above->box.height());
        // One look for rows close together, unless each row is asked for.
        if (std::none_of(out.begin(), out.end(), [&](const QRectF& known) {
                return known.intersects(end) &&
                       (!everyRow || std::abs(midY(known) - midY(end)) < 0.5 * above->box.height());
            }))
            out.push_back(end);
    }
    return out;
}

std::vector<Continuation> continuations(const std::vector<Line>& lines) {
    std::vector<Continuation> out(lines.size());
    for (size_t a = 0; a < lines.size(); ++a) {
        const Line& line = lines[a];
        const QRectF& A = line.box;
        const double cw = characterWidth(line);
        if (line.text.trimmed().isEmpty() || cw <= 0)
            continue;
        // The line's block on its row: the lines it stands close beside (a table's cell, a terminal's words),
        // and what stands to its right.
        // A column goes on under the line's row where a line of the row below starts at its left edge. When the
        // line's own column and the one beside it both go on, the two are a table's cells, however close.
        const auto columnGoesOn = [&](double left) {
            return std::any_of(lines.begin(), lines.end(), [&](const Line& other) {
                const QRectF& B = other.box;
                return midY(B) < minY(A) && !sameRow(A, B) && minY(A) - maxY(B) <= std::max(A.height(), B.height()) &&
                       std::abs(minX(B) - left) <= cw && !other.text.trimmed().isEmpty();
            });
        };
        const bool ownColumn = columnGoesOn(minX(A));
        const auto cellBeside = [&](const QRectF& box) { return ownColumn && columnGoesOn(minX(box)); };
        double rowLeft = minX(A), blockLeft = minX(A), nextOnRow = std::numeric_limits<double>::infinity();
        int besideRight = -1;
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t r = 0; r < lines.size(); ++r)
                if (r != a && sameRow(A, lines[r].box) && minX(lines[r].box) < blockLeft &&
                    maxX(lines[r].box) > blockLeft - 1.5 * cw && !cellBeside(lines[r].box)) {
                    blockLeft = minX(lines[r].box);
                    grew = true;
                }
        }
        for (size_t r = 0; r < lines.size(); ++r) {
            if (r == a || !sameRow(A, lines[r].box))
                continue;
            rowLeft = std::min(rowLeft, minX(lines[r].box));
            if (minX(lines[r].box) >= maxX(A) - 0.5 * cw && minX(lines[r].box) < nextOnRow) {
                nextOnRow = minX(lines[r].box);
                besideRight = int(r);
            }
        }
        // A line with more on its row ends its cell only where a gap parts them, or the next cell's column.
        if (nextOnRow < maxX(A) + 1.5 * cw && !cellBeside(lines[size_t(besideRight)].box))
            continue;
        // The nearest row below under the line's row, and on it the line nearest the block's left edge.
        const auto under = [&](const QRectF& box) { return minX(box) < maxX(A) && maxX(box) > blockLeft; };
        int nearest = -1;
        for (size_t b = 0; b < lines.size(); ++b) {
            const QRectF& B = lines[b].box;
            if (b == a || minX(B) >= maxX(A) || maxX(B) <= rowLeft || midY(B) >= minY(A) || sameRow(A, B) ||
                minY(A) - maxY(B) > std::max(A.height(), B.height()))
                continue;
            if (nearest < 0 || midY(B) > midY(lines[size_t(nearest)].box))
                nearest = int(b);
        }
        if (nearest < 0)
            continue;
        const auto startingAt = [&](double left) {
            int found = -1;
            for (size_t b = 0; b < lines.size(); ++b)
                if (sameRow(lines[b].box, lines[size_t(nearest)].box) && !lines[b].text.trimmed().isEmpty() &&
                    std::abs(minX(lines[b].box) - left) <= 2.5 * cw &&
                    (found < 0 ||
                     std::abs(minX(lines[b].box) - left) < std::abs(minX(lines[size_t(found)].box) - left)))
                    found = int(b);
            return found;
        };
        // Digits broken over two rows are one number when the whole passes its check: a card's, an account's.
        // That keeps a column of numbers apart, and a number on a short line joins what wraps it by any rule. With
        // more on its row, the line is a table's cell when the column to its right goes on in the next row too.
        const auto cellEnds = [&](int next) {
            if (nextOnRow == std::numeric_limits<double>::infinity())
                return true;
            return std::any_of(lines.begin(), lines.end(), [&](const Line& other) {
                return sameRow(other.box, lines[size_t(next)].box) && std::abs(minX(other.box) - nextOnRow) <= 2.5 * cw;
            });
        };
        for (const double left : {blockLeft, rowLeft})
            if (const int next = startingAt(left);
                next >= 0 && cellEnds(next) &&
                brokenNumber(line.text, lines[size_t(next)].text, rowLeft < minX(A) - 0.5 * cw)) {
                out[a] = {next, false};
                break;
            }
        if (out[a].next >= 0)
            continue;
        const int next = startingAt(blockLeft);
        if (next < 0 || minX(lines[size_t(next)].box) < blockLeft - 1.5 * cw)
            continue;
        const Line& following = lines[size_t(next)];
        // A list of short items (a column of numbers) fills its narrow column in every row and wraps nothing. A
        // table's row that holds both lines is seen in the cells beside: one stands between the two rows (set in
        // the middle of its cell), or level with this line's top with nothing under it (set at the top).
        const QRectF& F = following.box;
        const double pitch = midY(A) - midY(F);
        const bool rowHoldsBoth = std::any_of(lines.begin(), lines.end(), [&](const Line& other) {
            const QRectF& C = other.box;
            if (other.text.trimmed().isEmpty() || (maxX(C) > minX(A) && minX(C) < maxX(A)))
                return false;
            if (midY(C) < midY(A) - 0.25 * pitch && midY(C) > midY(F) + 0.25 * pitch)
                return maxY(C) > minY(A) && minY(C) < maxY(F);
            if (!sameRow(C, A) || sameRow(C, F) || std::abs(maxY(C) - maxY(A)) > 0.25 * A.height())
                return false;
            return std::none_of(lines.begin(), lines.end(), [&](const Line& below) {
                return sameRow(below.box, F) && maxX(below.box) > minX(C) && minX(below.box) < maxX(C);
            });
        });
        if (maxX(A) - blockLeft < 20 * cw && !rowHoldsBoth)
            continue;
        // The block's right edge, from the lines under it up to what stands right of it: a terminal's short lines
        // around a wrap say nothing of its width, nor a page's heading that starts further left of a cell's.
        double right = maxX(A);
        for (const Line& other : lines)
            if (under(other.box) && minX(other.box) > blockLeft - 2.5 * cw && maxX(other.box) < nextOnRow)
                right = std::max(right, maxX(other.box));
        // Had there been room for the next line's first word, it would stand on this line: the line ended here.
        if (maxX(A) + cw + firstWordWidth(following) < right - 0.5 * cw)
            continue;
        out[a] = {next, maxX(A) >= right - 1.5 * cw};
    }
    // Where the rules above found no wrap, a terminal's; where they found this one, the terminal tells that the break
    // may fall inside a word ("025 1" | "622 9906"): at the last column it cuts whatever stands there. A blank there
    // would leave the next row's text a cell in, but so does its first letter lost to the recogniser; joined, two
    // pieces of a number or key still read as one.
    for (size_t a = 0; a < lines.size(); ++a)
        if (const int next = terminalWrap(lines, a); next >= 0 && (out[a].next < 0 || out[a].next == next))
            out[a] = {next, true};
    return out;
}

} // namespace TextVision
