// Columns of text and the rules drawn round them: rules between columns, ruled grids, and the dominant column
// of a long page.

#include "text/TextLayout.h"

#include <QStringList>
#include <algorithm>
#include <iterator>
#include <optional>

namespace TextVision {

namespace {

// A rule standing between two columns of text: upright, as tall as half the text or more, with text on
// both its sides, and not the side of a table. Rules that cross it have already cut it into pieces (see
// uprightPieces); one rule across meeting it from a side (a section's rule in a sidebar) leaves it whole,
// but the borders of a table's rows meet its sides at every row.
bool partsColumns(const QRectF& rule, const std::vector<QRectF>& rules, const std::vector<Line>& lines) {
    const double aspect = lines.front().aspect;
    if (rule.height() < 8 * rule.width() * aspect)
        return false;
    double top = 0, bottom = 1;
    int left = 0, right = 0;
    const double x = rule.center().x();
    for (const Line& line : lines) {
        top = std::max(top, maxY(line.box));
        bottom = std::min(bottom, minY(line.box));
        if (midY(line.box) > minY(rule) && midY(line.box) < maxY(rule)) {
            left += maxX(line.box) <= x;
            right += minX(line.box) >= x;
        }
    }
    if (rule.height() < 0.5 * (top - bottom) || left < 2 || right < 2)
        return false;
    // A table ruled between its columns but not between its rows: three or more uprights of one height side
    // by side, and nearly every cell beside the rule has one on the same row across it. Columns of a page
    // have a rule or two between them and keep their own line pitch.
    const double level = 0.02 * rule.height();
    const auto isAlike = [&](const QRectF& other) {
        return other.height() >= 8 * other.width() * aspect && std::abs(minY(other) - minY(rule)) <= level &&
               std::abs(maxY(other) - maxY(rule)) <= level;
    };
    const auto alike = std::count_if(rules.begin(), rules.end(), isAlike);
    const auto sameRow = [](const Line& a, const Line& b) {
        return std::abs(midY(a.box) - midY(b.box)) < 0.3 * std::min(a.box.height(), b.box.height());
    };
    int paired = 0;
    for (const Line& line : lines) {
        if (midY(line.box) <= minY(rule) || midY(line.box) >= maxY(rule))
            continue;
        const bool onLeft = maxX(line.box) <= x, onRight = minX(line.box) >= x;
        if ((onLeft || onRight) && std::any_of(lines.begin(), lines.end(), [&](const Line& other) {
                return (onLeft ? minX(other.box) >= x : maxX(other.box) <= x) && sameRow(line, other);
            }))
            ++paired;
    }
    if (alike >= 3 && paired >= 0.8 * (left + right))
        return false;
    // A border of a table whose rules across are too faint to be found whole: the borders down alone make the grid
    // (in pieces a row tall, or in twos where the cells are drawn apart), whatever stands beside the table. Rules
    // across are left out of this look: a bar's and a footer's meet the rules between a page's columns too.
    std::vector<QRectF> downs;
    std::copy_if(rules.begin(), rules.end(), std::back_inserter(downs),
                 [&](const QRectF& other) { return other.height() >= 4 * other.width() * aspect; });
    const double reach = 3 * std::max(rule.width(), 0.0005);
    const std::vector<QRectF> grids = ruledGrids(downs, aspect);
    if (std::any_of(grids.begin(), grids.end(), [&](const QRectF& grid) {
            return grid.adjusted(-reach, -reach * aspect, reach, reach * aspect).contains(rule);
        }))
        return false;
    // A table of two columns ruled only between them (names beside their values): every line beside the rule
    // has one level with it across, and the rule ends with the rows it parts, where a rule between columns of
    // a page runs on past their text.
    if (paired == left + right) {
        double high = 0, low = 1, height = 1;
        for (const Line& line : lines)
            if (midY(line.box) > minY(rule) && midY(line.box) < maxY(rule)) {
                high = std::max(high, maxY(line.box));
                low = std::min(low, minY(line.box));
                height = std::min(height, line.box.height());
            }
        if (maxY(rule) - high < 1.5 * height && low - minY(rule) < 1.5 * height)
            return false;
    }
    // Ends met by a rule across (a bar over the columns, a footer's rule) are a few pixels round them.
    const double ends = std::max(0.05 * rule.height(), 3 * reach * aspect);
    const auto met = std::count_if(rules.begin(), rules.end(), [&](const QRectF& other) {
        const bool across = other.width() * aspect > 4 * other.height();
        return across && midY(other) > minY(rule) + ends && midY(other) < maxY(rule) - ends &&
               minX(other) <= maxX(rule) + reach && maxX(other) >= minX(rule) - reach;
    });
    return met < 2;
}

// The pieces of each upright rule between the rules across that cross it, reaching past it on both sides:
// the borders inside a table are crossed at every row and leave pieces a row tall, a rule between
// columns is crossed by a bar over them or a footer's rule at most, and its pieces stay tall. Rules
// across come through as they are.
std::vector<QRectF> uprightPieces(const std::vector<QRectF>& rules, double aspect) {
    std::vector<QRectF> out;
    for (const QRectF& rule : rules) {
        if (rule.height() < 8 * rule.width() * aspect) {
            out.push_back(rule);
            continue;
        }
        const double reach = 3 * std::max(rule.width(), 0.0005);
        std::vector<double> cuts;
        for (const QRectF& other : rules)
            if (other.width() * aspect > 4 * other.height() && midY(other) > minY(rule) && midY(other) < maxY(rule) &&
                minX(other) < minX(rule) - reach && maxX(other) > maxX(rule) + reach)
                cuts.push_back(midY(other));
        std::sort(cuts.begin(), cuts.end());
        double from = minY(rule);
        cuts.push_back(maxY(rule));
        for (const double to : cuts) {
            if (to > from)
                out.emplace_back(minX(rule), from, rule.width(), to - from);
            from = to;
        }
    }
    return out;
}

// The line's characters left of x and right of it, where it runs across x; nothing on a side without any.
std::pair<std::optional<Line>, std::optional<Line>> cut(const Line& line, double x) {
    if (!line.candidate)
        return line.box.center().x() < x ? std::pair(std::optional(line), std::optional<Line>())
                                         : std::pair(std::optional<Line>(), std::optional(line));
    const QString& text = line.candidate->string();
    std::vector<QRectF> boxes(size_t(text.size()));
    qsizetype at = text.size();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (const auto box = line.candidate->boundingBox(i, 1)) {
            boxes[size_t(i)] = *box;
            if (at == text.size() && box->center().x() >= x)
                at = i;
        }
    }
    const auto part = [&](qsizetype from, qsizetype to) -> std::optional<Line> {
        while (from < to && text.at(from).isSpace())
            ++from;
        while (to > from && text.at(to - 1).isSpace())
            --to;
        std::optional<QRectF> frame;
        for (qsizetype i = from; i < to; ++i)
            if (!boxes[size_t(i)].isNull())
                frame = frame ? unionOf(*frame, boxes[size_t(i)]) : boxes[size_t(i)];
        if (!frame)
            return std::nullopt;
        const QString piece = text.mid(from, to - from);
        Line out{piece, *frame, nullptr, line.aspect};
        out.candidate =
            std::make_shared<Candidate>(piece, std::vector<QRectF>(boxes.begin() + from, boxes.begin() + to));
        return out;
    };
    return {part(0, at), part(at, text.size())};
}

void partAt(std::vector<Line> lines, std::vector<QRectF> rules, const std::vector<QRectF>& all,
            std::vector<std::vector<Line>>& out) {
    std::optional<QRectF> chosen;
    if (!lines.empty())
        for (const QRectF& rule : rules)
            if ((!chosen || rule.height() > chosen->height()) && partsColumns(rule, all, lines))
                chosen = rule;
    if (!chosen) {
        if (!lines.empty())
            out.push_back(std::move(lines));
        return;
    }
    // Above the rule, beside it on the left and on the right, below it.
    std::vector<Line> parts[4];
    const double x = chosen->center().x();
    for (Line& line : lines) {
        if (midY(line.box) >= maxY(*chosen)) {
            parts[0].push_back(std::move(line));
        } else if (midY(line.box) <= minY(*chosen)) {
            parts[3].push_back(std::move(line));
        } else if (maxX(line.box) <= x) {
            parts[1].push_back(std::move(line));
        } else if (minX(line.box) >= x) {
            parts[2].push_back(std::move(line));
        } else {
            // Read as one line across the rule: the engine saw no gap where the rule was.
            auto [left, right] = cut(line, x);
            if (left)
                parts[1].push_back(std::move(*left));
            if (right)
                parts[2].push_back(std::move(*right));
        }
    }
    const QRectF regions[4] = {QRectF(0, maxY(*chosen), 1, 1), QRectF(0, minY(*chosen), x, chosen->height()),
                               QRectF(x, minY(*chosen), 1 - x, chosen->height()), QRectF(0, -1, 1, 1 + minY(*chosen))};
    for (int k = 0; k < 4; ++k) {
        std::vector<QRectF> within;
        for (const QRectF& rule : rules)
            if (rule != *chosen && regions[k].contains(rule.center()))
                within.push_back(rule);
        partAt(std::move(parts[k]), std::move(within), all, out);
    }
}

// Borders of one table share their frame.
void addGrid(std::vector<QRectF>& grids, QRectF frame) {
    for (auto it = grids.begin(); it != grids.end();)
        if (it->intersects(frame)) {
            frame = unionOf(frame, *it);
            it = grids.erase(it);
        } else {
            ++it;
        }
    grids.push_back(frame);
}

} // namespace

std::vector<QRectF> ruledGrids(const std::vector<QRectF>& rules, double aspect) {
    std::vector<QRectF> grids;
    for (const QRectF& down : rules) {
        if (down.height() < 4 * down.width() * aspect)
            continue;
        const double reach = 3 * std::max(down.width(), 0.0005);
        QRectF frame = down;
        int met = 0;
        for (const QRectF& across : rules)
            if (across.width() * aspect > 4 * across.height() && minX(across) <= maxX(down) + reach &&
                maxX(across) >= minX(down) - reach && midY(across) >= minY(down) - reach * aspect &&
                midY(across) <= maxY(down) + reach * aspect) {
                frame = unionOf(frame, across);
                ++met;
            }
        if (met < 3)
            continue;
        addGrid(grids, frame);
    }
    // A grid whose rules across are too faint to be found whole still cut the borders down at every row: a
    // border comes in pieces a row tall, end to end, alike in height as the cells' padding makes the rows.
    // Such a column of cells spans the table with the borders beside it from the table's top to its foot.
    std::vector<QRectF> downs;
    for (const QRectF& down : rules)
        if (down.height() >= 4 * down.width() * aspect)
            downs.push_back(down);
    std::sort(downs.begin(), downs.end(), [](const QRectF& a, const QRectF& b) {
        return minX(a) != minX(b) ? minX(a) < minX(b) : maxY(a) > maxY(b);
    });
    std::vector<QRectF> columns; // borders whole or in pieces, each from the grid's top to its foot
    std::vector<int> rows;       // how many pieces each is in
    for (size_t i = 0; i < downs.size();) {
        const double reach = 3 * std::max(downs[i].width(), 0.0005);
        QRectF chain = downs[i];
        std::vector<double> heights{downs[i].height()};
        size_t j = i + 1;
        for (; j < downs.size() && std::abs(minX(downs[j]) - minX(downs[i])) <= reach &&
               maxY(downs[j]) <= minY(chain) + reach * aspect &&
               minY(chain) - maxY(downs[j]) <= std::max(reach * aspect, 0.25 * downs[j].height());
             ++j) {
            chain = unionOf(chain, downs[j]);
            heights.push_back(downs[j].height());
        }
        std::sort(heights.begin(), heights.end());
        const double usual = heights[heights.size() / 2];
        const bool alike = std::all_of(heights.begin(), heights.end(),
                                       [usual](double h) { return std::abs(h - usual) <= 0.2 * usual; });
        columns.push_back(chain);
        rows.push_back(alike ? int(heights.size()) : 1);
        i = j;
    }
    // Cells drawn apart (a border-spacing between them) leave no border in pieces: their borders down stand in
    // twos side by side instead, a few pixels apart, the whole table tall; two such pairs or more are a grid.
    for (size_t i = 0; i < columns.size(); ++i) {
        const double reach = 3 * std::max(columns[i].width(), 0.0005) * aspect;
        const auto level = [&](const QRectF& other) {
            return std::abs(minY(other) - minY(columns[i])) <= reach &&
                   std::abs(maxY(other) - maxY(columns[i])) <= reach;
        };
        const auto twinned = [&](size_t k) {
            return std::any_of(columns.begin(), columns.end(), [&](const QRectF& other) {
                return &other != &columns[k] && level(other) && std::abs(minX(other) - minX(columns[k])) > 0 &&
                       std::abs(minX(other) - minX(columns[k])) <= 2 * reach / aspect;
            });
        };
        QRectF frame = columns[i];
        int beside = 0, twins = 0;
        for (size_t k = 0; k < columns.size(); ++k)
            if (level(columns[k])) {
                twins += twinned(k);
                if (k != i) {
                    frame = unionOf(frame, columns[k]);
                    ++beside;
                }
            }
        if (beside > 0 && (rows[i] >= 3 || twins >= 4))
            addGrid(grids, frame);
    }
    return grids;
}

std::vector<std::vector<Line>> partByRules(const std::vector<Line>& lines, const std::vector<QRectF>& rules) {
    std::vector<std::vector<Line>> out;
    if (!lines.empty()) {
        const std::vector<QRectF> pieces = uprightPieces(rules, lines.front().aspect);
        partAt(lines, pieces, pieces, out);
    }
    return out;
}

QString fullText(const std::vector<Line>& lines, const std::vector<QRectF>& rules) {
    QStringList texts;
    for (const std::vector<Line>& part : partByRules(lines, rules))
        for (Block& block : order(segment(part, rules)))
            if (QString text = blockText(std::move(block)); !text.isEmpty())
                texts << text;
    return texts.join(QStringLiteral("\n\n"));
}

std::vector<std::vector<Line>> columns(const std::vector<Line>& lines, bool splitByGaps) {
    // Only whole groups are ever asked for; the flag is kept for callers that name it.
    Q_UNUSED(splitByGaps);
    struct Group {
        double left, right;
        std::vector<Line> lines;
    };
    std::vector<Line> byWidth = lines;
    std::stable_sort(byWidth.begin(), byWidth.end(),
                     [](const Line& a, const Line& b) { return a.box.width() > b.box.width(); });
    std::vector<Group> groups;
    for (Line& line : byWidth) {
        const double left = minX(line.box), right = maxX(line.box);
        bool placed = false;
        for (Group& group : groups) {
            const double overlap = std::min(group.right, right) - std::max(group.left, left);
            const double narrower = std::min(group.right - group.left, right - left);
            if (overlap > 0.6 * narrower) {
                group.left = std::min(group.left, left);
                group.right = std::max(group.right, right);
                group.lines.push_back(std::move(line));
                placed = true;
                break;
            }
        }
        if (!placed)
            groups.push_back({left, right, {std::move(line)}});
    }
    std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) { return a.left < b.left; });
    std::vector<std::vector<Line>> out;
    out.reserve(groups.size());
    for (Group& group : groups) {
        std::stable_sort(group.lines.begin(), group.lines.end(),
                         [](const Line& a, const Line& b) { return midY(a.box) > midY(b.box); });
        out.push_back(std::move(group.lines));
    }
    return out;
}

QString mainText(const std::vector<Line>& lines) {
    const auto cols = columns(lines, false);
    const QString full = fullText(lines);
    if (cols.empty())
        return {};
    QString longest;
    qsizetype longestCount = -1;
    for (const auto& column : cols) {
        QString text = fullText(column);
        const qsizetype count = characterCount(text);
        if (count > longestCount) {
            longestCount = count;
            longest = std::move(text);
        }
    }
    const qsizetype fullCount = characterCount(full);
    if (longestCount > fullCount * 6 / 10 && cols.size() >= 2 && fullCount > 600)
        return longest;
    return full;
}

} // namespace TextVision
