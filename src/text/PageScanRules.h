#pragma once
// The rules a page draws between pieces of text: a table's cell borders, a field's frame, a line under
// a heading. The engine takes a grid of rules with text in its cells for a picture, or reads the text of
// a row column by column and drops some of it; without the rules a table reads as the same table
// drawn without borders does.

#include <QImage>
#include <QRect>
#include <vector>

namespace TextVision {

// Finds the rules in the grey picture (dark ink on white), paints them ground and returns them. A rule
// is a thin straight run of ink with open ground along both its sides: a long one across, or the sides
// of a box (a cell, a frame) whose corners join. A letter's stroke is never so long and bare, and one
// crossing a rule keeps its ink.
std::vector<QRect> clearRules(QImage& grey);

// Finds the tall rules down the page that clearRules() leaves, however light: a hairline between a sidebar
// and an article is often paler than any stroke of a letter. A run of faint ink one to three pixels wide
// with bare ground on both sides, down a quarter of the picture or more counting the rows where a rule as
// faint crosses it (a bar across the columns, a table's rows). Paints them ground and returns them in their
// pieces between those crossings: a table's borders come back a row tall each.
std::vector<QRect> clearFaintUprights(QImage& grey);

} // namespace TextVision
