#pragma once
// Reading order and text assembly over recognised lines. Pure functions of their arguments, so
// they run on any thread and on any subset of a picture's lines (one column, say).

#include "text/TextLine.h"

#include <QString>
#include <vector>

namespace TextVision {

// Number of user-perceived characters (extended grapheme clusters).
qsizetype characterCount(const QString& text);

// Sorts lines into reading order: higher rows first, left to right within a row. Stable.
void sortByLineOrder(std::vector<Line>& lines);

// Groups lines into blocks (paragraphs, list items, table cells), blocks in order of their first line. The
// lines inside a grid of the rules (normalised like their boxes) are one block.
std::vector<Block> segment(const std::vector<Line>& lines, const std::vector<QRectF>& rules = {});

// The same blocks in reading order: bands top to bottom, columns left to right, recursively.
std::vector<Block> order(std::vector<Block> blocks);

// Whether a block (its lines in line order) reads as a list, verse or code rather than prose.
bool keepsLineBreaks(const std::vector<Line>& lines);

// The block re-flowed: paragraphs on their own lines, hyphenated line ends joined.
QString paragraphs(std::vector<Line> lines);

// The text of one block, its line breaks kept or re-flowed.
QString blockText(std::vector<Line> lines);

// All blocks of the lines in reading order, separated by one blank line; "" when there is no text.
QString fullText(const std::vector<Line>& lines);

// The frames of the ruled grids among the rules (normalised like the lines' boxes; aspect is the picture's
// width over its height): borders down crossed or met by three rules across at least (a table's top, a
// row's border, its bottom), with those rules, or cut into three or more pieces a row tall each beside other
// borders from the same top to the same foot, or standing in twos side by side (cells drawn apart) the table tall.
// A frame round a block of code is met by two only.
std::vector<QRectF> ruledGrids(const std::vector<QRectF>& rules, double aspect);

// The lines parted by the rules that stand between columns of text (rules being those painted out of the
// picture before reading, normalised like the lines' boxes): what stands above such a rule, the columns on
// its left and on its right, what stands below, each parted again by its own rules. A line read across a
// rule is cut there. One part when no rule parts the text.
std::vector<std::vector<Line>> partByRules(const std::vector<Line>& lines, const std::vector<QRectF>& rules);

// All blocks in reading order, each part of the lines parted by rules read on its own.
QString fullText(const std::vector<Line>& lines, const std::vector<QRectF>& rules);

// Vertical columns by horizontal overlap, left to right, each top to bottom.
std::vector<std::vector<Line>> columns(const std::vector<Line>& lines, bool splitByGaps = false);

// The whole text, or the dominant column's when a long text has several columns and one clearly leads.
QString mainText(const std::vector<Line>& lines);

} // namespace TextVision
