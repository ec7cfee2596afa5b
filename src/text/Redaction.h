#pragma once
// Finding sensitive data (addresses, account and card numbers, phone numbers, identity numbers,
// keys, tokens) in recognised lines and painting it over.

#include "text/TextLine.h"

#include <QImage>
#include <QRegularExpression>
#include <functional>
#include <vector>

namespace TextVision {

// The compiled patterns, in the order their findings are reported within a line. Built once.
const std::vector<QRegularExpression>& sensitivePatterns();

// Normalised boxes of every match of every pattern, line by line, pattern by pattern. A match that runs on
// from the end of a line into the line that continues it on the next row (a wrap) is boxed on both.
std::vector<QRectF> sensitiveFindings(const std::vector<Line>& lines);

// The lines of several readings of one picture (of the given size), the first reading whole: of each further
// reading the lines holding a finding that the readings before did not box, or boxed only in part (one reading
// slipped on a number's first group, another lost the boxes of a token's last letters), so that each secret is
// boxed over the whole stretch any reading found it in.
std::vector<Line> linesOfReadings(std::vector<std::vector<Line>> readings, QSize pixels);

// The pieces a terminal left at the end of a row before wrapping a secret whose rest, at the start of the next row,
// is painted over, where no finding took them with it: key characters reaching the right edge, by their look a key's
// or standing apart from the words before them. `doubtful`, where given, is set where something at such a row's end
// that is no word of a sentence is left uncovered.
std::vector<QRectF> wrappedHeads(const std::vector<Line>& lines, const std::vector<QRectF>& boxes,
                                 bool* doubtful = nullptr);

// Whether lines read on a painted picture show what is left of a secret: a key's prefix with its joint ("rk_",
// "xoxa-", "AKIA"), a long run of a key's characters with digits and letters, an address's at sign, or, on a
// terminal's line, a key's characters that run on into a painted box with no blank between (the box fell short).
bool remnantsBeside(const std::vector<Line>& lines, const std::vector<QRectF>& boxes);

// A finding grown by a margin that scales with the picture's height, in pixels with the origin
// at the lower left.
QRectF grownBox(const QRectF& finding, QSize pixels);

// The picture redrawn with each normalised box (origin lower left) filled near-black.
// Throws ConvertError "Can't draw" when there is nothing to draw into.
QImage paintBoxes(const QImage& image, const std::vector<QRectF>& boxes);

struct Redaction {
    QImage image;
    std::vector<QRectF> boxes;
};

// Covers the findings in the picture; with none, the picture itself and no boxes.
Redaction redactFindings(const QImage& image, const std::vector<QRectF>& findings);

// Covers what the reader finds in the picture, then reads the painted picture again and covers what is
// still found there, until nothing is or the reader has been asked `reads` times: a success is only
// reported for what no longer reads. With nothing found at first, the picture itself and no boxes.
Redaction redactReading(const QImage& image, const std::function<std::vector<Line>(const QImage&)>& read,
                        int reads = 3);

} // namespace TextVision
