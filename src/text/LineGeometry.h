#pragma once
// What the boxes of recognised lines tell the search for sensitive data beyond their text: which blanks the
// recogniser made up between the cells of a terminal's line, and which line runs on at the start of the next row.

#include "text/TextLine.h"

#include <optional>
#include <vector>

namespace TextVision {

// For each UTF-16 unit of the line's text, true on a blank that stands between characters in adjacent cells of
// a fixed-pitch line (no cell is empty there), and on a mark between two such characters, which has no cell of its
// own. All false on a line that is not fixed-pitch or too short to tell, unless `rowsPitch` gives the cell width the
// rows around it share (a line whose misread letters crowd its cells tells none of its own).
std::vector<bool> madeUpUnits(const Line& line, std::optional<double> rowsPitch = std::nullopt);

// The width of a cell where the line's characters stand one cell apart (a terminal's line); nothing where the line
// is too short to tell or set in proportional type.
std::optional<double> cellPitch(const Line& line);

// The pitch a terminal's rows share: the middle one of `pitches` when four in five lie within a tenth of it;
// nothing when there are fewer than `least` or they disagree (proportional type).
std::optional<double> sharedPitch(std::vector<double> pitches, size_t least);

// Where a line goes on at the start of the next row, as wrapped text does: the line it continues into.
struct Continuation {
    int next = -1;      // the index of the line that continues it; -1 where the line ends
    bool tight = false; // the line was filled to its right edge, so the break fell inside a word
};

// For each line: the first line of the row below when that starts at the left of this line's row, this line
// ends its row, and the first word of the next line would not have fitted after it.
std::vector<Continuation> continuations(const std::vector<Line>& lines);

// Where the first part of a row that a terminal wrapped may stand unread: for each row above one that starts at the
// terminal's left edge, the stretch between its last line read and the right edge that the other rows reach
// (normalised, origin lower left). None where the lines are not set in a terminal's cells. Rows close together share
// one stretch unless `everyRow`.
std::vector<QRectF> unreadRowEnds(const std::vector<Line>& lines, bool everyRow = false);

} // namespace TextVision
