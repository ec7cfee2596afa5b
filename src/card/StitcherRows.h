#pragma once
// Whole pixel rows of two frames of one window, compared exactly. Row signatures blur a row into 64 bands, and
// lines that share their text but for a digit or two (log lines, counters, timestamps, a listing's sizes) look
// the same in them: a page moved by whole lines then seems not to have moved, or to have moved by a line more
// or less than it did. Exact rows tell every such line apart, so the offset between frames is decided on them.

#include <QImage>
#include <QList>
#include <optional>

namespace Stitcher::Rows {

// Whether the middle of the two frames (the window without its side edges, where a scrollbar's thumb moves on
// its own) differs in at least one row in `divisor` (and in one row at least). Frames of another size differ.
bool middleChanged(const QImage& a, const QImage& b, int divisor);

// How many pixel rows the page moved up from prev to next (same size, at least two rows). 0 when nothing moved
// (fewer than one row in `divisor` of the middle changed); absent when no shift from minShift to the height
// less bottomMargin lines up the changed rows, or when the page lines up better moved down.
std::optional<int> newRows(const QImage& prev, const QImage& next, int minShift, int bottomMargin, int divisor);

// How many rows at the bottom of prev lie below the lowest row seen moving with the page, next being prev with
// the page moved up by `shift` rows (same size). A row of the page shows again `shift` rows higher in next, and
// not unchanged in place; the window's own rows at its bottom (its edge, a pager's status line, an editor's mode
// line) stand still, whatever they show. Absent when no row is seen moving.
std::optional<int> stillBottomRows(const QImage& prev, const QImage& next, int shift);

// How many rows at the bottom are the same, pixel for pixel, in every frame (all of them when the frames are
// alike); 0 for fewer than two frames, or frames of different sizes or formats.
int equalBottomRows(const QList<QImage>& frames);

} // namespace Stitcher::Rows
