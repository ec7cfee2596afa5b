#include "text/LineGeometry.h"
#include "text/Redaction.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

// Telling whether the covering fell short: which further readings of a picture hold a secret the first did not box
// whole, and what is left of a secret beside the paint once it is covered.

namespace TextVision {

namespace {

// A small yen sign is how a terminal's bitmap Y often reads.
bool keyCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'\u00a5';
}

// The widest stretch of a finding, in pixels, that no known finding on its row covers.
double uncoveredWidth(const QRectF& finding, const std::vector<QRectF>& known, QSize pixels) {
    std::vector<std::pair<double, double>> spans;
    for (const QRectF& other : known) {
        const double common = std::min(maxY(finding), maxY(other)) - std::max(minY(finding), minY(other));
        if (common >= 0.5 * finding.height())
            spans.emplace_back(minX(other), maxX(other));
    }
    std::sort(spans.begin(), spans.end());
    double reached = minX(finding), widest = 0;
    for (const auto& [left, right] : spans) {
        widest = std::max(widest, std::min(left, maxX(finding)) - reached);
        reached = std::max(reached, right);
    }
    widest = std::max(widest, maxX(finding) - reached);
    return widest * pixels.width();
}

} // namespace

std::vector<Line> linesOfReadings(std::vector<std::vector<Line>> readings, QSize pixels) {
    if (readings.empty())
        return {};
    std::vector<Line> lines = std::move(readings.front());
    std::vector<QRectF> seen = sensitiveFindings(lines);
    for (size_t r = 1; r < readings.size(); ++r) {
        const size_t before = lines.size();
        for (Line& line : readings[r]) {
            // More than about a character beyond what is boxed already: box jitter between readings is less.
            const std::vector<QRectF> found = sensitiveFindings({line});
            const bool fresh = std::any_of(found.begin(), found.end(), [&](const QRectF& finding) {
                return uncoveredWidth(finding, seen, pixels) > 0.6 * finding.height() * pixels.height();
            });
            if (fresh)
                lines.push_back(std::move(line));
        }
        if (lines.size() > before)
            seen = sensitiveFindings(lines);
    }
    return lines;
}

std::vector<QRectF> wrappedHeads(const std::vector<Line>& lines, const std::vector<QRectF>& boxes, bool* doubtful) {
    double left = std::numeric_limits<double>::infinity();
    for (const Line& line : lines)
        if (!line.text.trimmed().isEmpty())
            left = std::min(left, minX(line.box));
    // Covered at both ends: a box over the piece's last characters alone leaves its first ones.
    const auto covered = [&boxes](const QRectF& r) {
        const auto at = [&boxes](QPointF p) {
            return std::any_of(boxes.begin(), boxes.end(), [&p](const QRectF& box) { return box.contains(p); });
        };
        return at(QPointF(r.left() + 0.1 * r.width(), r.center().y())) &&
               at(QPointF(r.right() - 0.1 * r.width(), r.center().y()));
    };
    // A terminal's rows share one pitch; a short piece tells none of its own.
    std::vector<double> pitches;
    for (const Line& line : lines)
        if (const std::optional<double> p = line.candidate ? cellPitch(line) : std::nullopt)
            pitches.push_back(*p);
    const std::optional<double> pitch = sharedPitch(std::move(pitches), 2);
    if (!pitch)
        return {};
    // The terminal's right edge: the furthest end that another row reaches too (a title bar's buttons stand alone).
    const auto rows = [](const QRectF& a, const QRectF& b) {
        return std::min(maxY(a), maxY(b)) - std::max(minY(a), minY(b)) < 0.3 * std::min(a.height(), b.height());
    };
    double right = -std::numeric_limits<double>::infinity();
    for (const Line& line : lines)
        for (const Line& other : lines)
            if (&other != &line && !line.text.trimmed().isEmpty() && !other.text.trimmed().isEmpty() &&
                rows(line.box, other.box) && std::abs(maxX(other.box) - maxX(line.box)) <= *pitch)
                right = std::max(right, maxX(line.box));
    if (!std::isfinite(right))
        return {};
    std::vector<QRectF> out;
    for (const Line& line : lines) {
        qsizetype end = line.text.size();
        while (end > 0 && line.text[end - 1].isSpace())
            --end;
        if (!line.candidate || end == 0)
            continue;
        const QRectF& here = line.box;
        const bool atEdge = maxX(here) >= right - *pitch;
        // The next row opens with paint: what was covered there goes on from this row's end.
        const bool paintedOn = std::any_of(boxes.begin(), boxes.end(), [&](const QRectF& box) {
            return minX(box) <= left + 1.5 * *pitch && midY(box) < minY(here) &&
                   midY(box) > minY(here) - 1.6 * here.height();
        });
        if (!atEdge || !paintedOn)
            continue;
        qsizetype start = end;
        // Back over a stray mark a bitmap face's letter reads as, between two of the piece's characters, and a blank
        // with no cell of its own ("VkEm? pl13989d").
        const std::vector<bool> madeUp = madeUpUnits(line, pitch);
        while (start > 0 &&
               (keyCharacter(line.text[start - 1]) || QStringLiteral(".@+%").contains(line.text[start - 1]) ||
                (QStringLiteral("'\"#?!|`").contains(line.text[start - 1]) && start > 1 && start < end &&
                 keyCharacter(line.text[start - 2])) ||
                (line.text[start - 1] == u' ' && madeUp[size_t(start - 1)] && start > 1 && start < end &&
                 !line.text[start - 2].isSpace())))
            --start;
        const QStringView head = QStringView(line.text).mid(start, end - start);
        // A key's piece by its look, or a piece standing alone at the row's end where a wrapped secret starts; a
        // word of a sentence that wraps runs on from the words before it.
        const bool mixed = std::any_of(head.begin(), head.end(), [](QChar c) { return c.isDigit(); }) ||
                           std::any_of(head.begin(), head.end(), [](QChar c) { return !c.isLetterOrNumber(); }) ||
                           std::any_of(head.begin() + 1, head.end(), [](QChar c) { return c.isUpper(); });
        qsizetype before = start;
        while (before > 0 && line.text[before - 1].isSpace())
            --before;
        const std::optional<QRectF> box = line.candidate->boundingBox(start, end - start);
        const std::optional<QRectF> previous =
            before > 0 ? line.candidate->boundingBox(before - 1, 1) : std::optional<QRectF>();
        const bool alone = before == 0 || (previous && box && minX(*box) - maxX(*previous) > 2.5 * *pitch);
        const auto letters = std::count_if(head.begin(), head.end(), [](QChar c) { return c.isLetterOrNumber(); });
        if (box && letters >= 2 && (mixed || alone)) {
            if (!covered(*box))
                out.push_back(*box);
            continue;
        }
        // What stands at the edge instead, read too badly to be told, may be such a piece: a word of a sentence
        // (letters, and a mark ending it) is not.
        qsizetype word = end;
        while (word > 0 && !line.text[word - 1].isSpace())
            --word;
        static const QRegularExpression plain(QStringLiteral(R"(^\p{L}\p{Ll}*[.,;:!?]?$)"));
        const std::optional<QRectF> last = line.candidate->boundingBox(word, end - word);
        if (doubtful && !plain.match(QStringView(line.text).mid(word, end - word)).hasMatch() && last &&
            !covered(*last))
            *doubtful = true;
    }
    return out;
}

bool remnantsBeside(const std::vector<Line>& lines, const std::vector<QRectF>& boxes) {
    static const QRegularExpression prefix(
        QStringLiteral(R"((?<![A-Za-z0-9])(?:(?:sk|pk|rk)_|gh[po]_|xox[abp]-|AKIA|AIza))"));
    // A key's characters, not a label's word: a digit among them, or capitals and small letters mixed past the first.
    const auto keyPiece = [](QStringView run) {
        if (std::count_if(run.begin(), run.end(), [](QChar c) { return c.isLetterOrNumber(); }) < 2)
            return false;
        bool upper = false, lower = false;
        for (qsizetype i = 0; i < run.size(); ++i) {
            if (run[i].isDigit())
                return true;
            upper = upper || (i > 0 && run[i].isUpper());
            lower = lower || run[i].isLower();
        }
        return upper && lower;
    };
    // A long run of a key's characters, digits and letters mixed, that no pattern took as a key ("xa-2998-1526-
    // zP8eAbbobXN0RW" of a wrapped key whose prefix was misread), and an address's at sign between letters, its domain
    // running on (not a prompt's "user@host:", its colon read as a semicolon too).
    static const QRegularExpression run(QStringLiteral(R"([A-Za-z0-9_\-]{16,})"));
    static const QRegularExpression at(QStringLiteral(R"([A-Za-z0-9._%+\-]@[A-Za-z0-9\-]+(?![A-Za-z0-9.\-]*[:;]))"));
    const auto longKey = [](QStringView text) {
        const auto digits = std::count_if(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        const auto letters = std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
        return digits >= 3 && letters >= 3;
    };
    // A run drawn at random without digits ("CkbNovECMhyShYF" of a link's token read apart): capitals after small
    // letters again and again, never a word's stretch of small letters ("getElementsByTagName").
    static const QRegularExpression shortRun(QStringLiteral(R"([A-Za-z0-9]{12,})"));
    const auto randomCase = [](QStringView text) {
        int changes = 0, lower = 0, longest = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            changes += i > 0 && text[i].isUpper() && text[i - 1].isLower() ? 1 : 0;
            lower = text[i].isLower() ? lower + 1 : 0;
            longest = std::max(longest, lower);
        }
        return changes >= 3 && longest <= 3;
    };
    // Digits in groups of three or more that no pattern took as a number ("617 8311 89235" of a telephone number
    // whose first digit was misread, the rest of a card a wrap cut, "7387 - 6836" of a token whose prefix and dashes
    // were misread): no date or version is set so.
    static const QRegularExpression grouped(QStringLiteral(R"((?<![\d.,:/])\d{3,}(?: ?[ \-] ?\d{3,})+(?![\d.,:/]))"));
    for (const Line& line : lines) {
        for (auto found = grouped.globalMatch(line.text); found.hasNext();) {
            const QStringView number = found.next().capturedView();
            // A span of years, the later last ("2019 - 2024" at a page's foot), is no number of anyone's.
            static const QRegularExpression years(QStringLiteral(R"(^((?:19|20)\d\d) ?[ \-] ?((?:19|20)\d\d)$)"));
            if (const QRegularExpressionMatch span = years.match(number.toString());
                span.hasMatch() && span.capturedView(1).toInt() < span.capturedView(2).toInt())
                continue;
            if (std::count_if(number.begin(), number.end(), [](QChar c) { return c.isDigit(); }) >= 8)
                return true;
        }
        if (prefix.match(line.text).hasMatch() || at.match(line.text).hasMatch())
            return true;
        for (auto found = run.globalMatch(line.text); found.hasNext();)
            if (longKey(found.next().capturedView()))
                return true;
        for (auto found = shortRun.globalMatch(line.text); found.hasNext();)
            if (randomCase(found.next().capturedView()))
                return true;
        // A few characters left alone beside a box tell no pitch; their own width does.
        const qsizetype few = line.text.trimmed().size();
        const std::optional<double> pitch = !line.candidate ? std::nullopt
                                            : few >= 2 && few <= 4 && !line.text.contains(u' ')
                                                ? std::optional<double>(line.box.width() / double(few))
                                                : cellPitch(line);
        if (!pitch)
            continue;
        for (const QRectF& box : boxes) {
            const double common = std::min(maxY(box), maxY(line.box)) - std::max(minY(box), minY(line.box));
            if (common < 0.5 * line.box.height())
                continue;
            // The characters that stand within half a cell of the box's left or right side, and the run of key
            // characters that reaches them from the other side.
            for (qsizetype i = 0; i < line.text.size(); ++i) {
                const std::optional<QRectF> c = line.candidate->boundingBox(i, 1);
                if (!c || !line.text[i].isLetterOrNumber() || maxX(*c) <= minX(box) - 0.5 * *pitch ||
                    minX(*c) >= maxX(box) + 0.5 * *pitch || (minX(*c) >= minX(box) && maxX(*c) <= maxX(box)))
                    continue;
                const bool leftOfBox = c->center().x() < minX(box);
                qsizetype from = i, to = i + 1;
                if (leftOfBox)
                    while (from > 0 && keyCharacter(line.text[from - 1]))
                        --from;
                else
                    while (to < line.text.size() && keyCharacter(line.text[to]))
                        ++to;
                // After the box, capitals alone go on from a key too ("QF" of a token's last cells): nothing but a
                // blank and a word follows a secret there, where a label may stand right before one.
                const QStringView piece = QStringView(line.text).mid(from, to - from);
                const bool capitals =
                    !leftOfBox && piece.size() >= 2 &&
                    std::all_of(piece.begin(), piece.end(), [](QChar ch) { return ch.isUpper() || ch.isDigit(); });
                if (capitals || keyPiece(piece))
                    return true;
            }
        }
    }
    return false;
}

} // namespace TextVision
