#pragma once
// Runs of bars ("|") in a row of monospaced text: a meter's "[|||||    ]", a tree's guides. The
// engine reads a dense run as letters (I, l, T, E) or takes it for a picture and drops the row's
// label with it; such runs are found on the grey picture, blanked out of it, and read as bars.

#include <QImage>
#include <QRect>
#include <vector>

namespace TextVision {

struct BarRun {
    std::vector<QRect> strokes; // left to right, picture pixels
    QRect box() const;
};

// Thin upright strokes of one height, tops level, evenly spaced a letter's width apart, with
// nothing else beside them (a bracket's stem has its serifs, a letter its bowl); three or more.
std::vector<BarRun> findBarRuns(const QImage& grey);

// Paints the runs' strokes ground.
void blankBarRuns(QImage& grey, const std::vector<BarRun>& runs);

} // namespace TextVision
