#include "text/LineGeometry.h"

#include <algorithm>
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

} // namespace

std::vector<bool> madeUpBlanks(const Line& line) {
    const QString& text = line.text;
    std::vector<bool> out(size_t(text.size()), false);
    if (!line.candidate)
        return out;
    std::vector<std::optional<double>> centre(size_t(text.size()));
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
    if (double(regular) < 0.8 * double(steps.size()))
        return out;
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

std::vector<Continuation> continuations(const std::vector<Line>& lines) {
    std::vector<Continuation> out(lines.size());
    for (size_t a = 0; a < lines.size(); ++a) {
        const Line& line = lines[a];
        const QRectF& A = line.box;
        const double cw = characterWidth(line);
        if (line.text.trimmed().isEmpty() || cw <= 0)
            continue;
        // The line must end its row; the row starts where its first line does.
        double rowLeft = minX(A);
        bool last = true;
        for (size_t r = 0; r < lines.size(); ++r) {
            if (r == a || !sameRow(A, lines[r].box))
                continue;
            rowLeft = std::min(rowLeft, minX(lines[r].box));
            last = last && minX(lines[r].box) < maxX(A) - 0.5 * cw;
        }
        // A list of short items (a column of numbers) fills its narrow column in every row and wraps nothing.
        if (!last || maxX(A) - rowLeft < 20 * cw)
            continue;
        // The nearest row below in the same column, and its first line.
        const auto inColumn = [&](const QRectF& box) { return minX(box) < maxX(A) && maxX(box) > rowLeft; };
        int nearest = -1;
        for (size_t b = 0; b < lines.size(); ++b) {
            const QRectF& B = lines[b].box;
            if (b == a || !inColumn(B) || midY(B) >= minY(A) || sameRow(A, B) ||
                minY(A) - maxY(B) > std::max(A.height(), B.height()))
                continue;
            if (nearest < 0 || midY(B) > midY(lines[size_t(nearest)].box))
                nearest = int(b);
        }
        if (nearest < 0)
            continue;
        int next = nearest;
        for (size_t b = 0; b < lines.size(); ++b)
            if (inColumn(lines[b].box) && sameRow(lines[b].box, lines[size_t(nearest)].box) &&
                minX(lines[b].box) < minX(lines[size_t(next)].box))
                next = int(b);
        const Line& following = lines[size_t(next)];
        if (minX(following.box) > rowLeft + 2.5 * cw || following.text.trimmed().isEmpty())
            continue;
        // The column's right edge, from all its lines: a terminal's short lines around a wrap say nothing of its
        // width.
        double right = maxX(A);
        for (const Line& other : lines)
            if (inColumn(other.box))
                right = std::max(right, maxX(other.box));
        // Had there been room for the next line's first word, it would stand on this line: the line ended here.
        if (maxX(A) + cw + firstWordWidth(following) < right - 0.5 * cw)
            continue;
        out[a] = {next, maxX(A) >= right - 1.5 * cw};
    }
    return out;
}

} // namespace TextVision
