#pragma once
// The engine's lines in picture pixels, and how they are put right once read: pieces of a row far
// apart split, the bars blanked out of the picture put back, lines read twice or run into each
// other kept apart, specks dropped, and each line made into a Line of the program's own.

#include "text/BarRuns.h"
#include "text/TextLine.h"

#include <QRectF>
#include <QString>
#include <utility>
#include <vector>

namespace TextVision::EngineLines {

struct Word {
    QRectF box; // picture pixels, top-left origin
    std::vector<std::pair<QString, QRectF>> symbols;
};

struct PixelLine {
    std::vector<Word> words;
    QRectF box;
    QRectF ink; // the words' own extent, where box is the letters'
    // Where the engine puts the line's letters whatever letters it holds: from the top of its
    // tall letters to the bottom of its descenders. Empty when the engine gave no baseline.
    double letterTop = 0, letterBottom = 0;
};

std::vector<PixelLine> splitAtWideGaps(std::vector<PixelLine> lines, const std::vector<QRect>& rules = {});
void insertBars(std::vector<PixelLine>& lines, const QRect& band, const std::vector<BarRun>& bars);
QRectF lineBox(const std::vector<Word>& words);
bool rowsCutAtWordSpaces(const std::vector<PixelLine>& lines, double letters);
bool hasLetterOrDigit(const PixelLine& line);
double median(std::vector<double> values);
Line toLine(const PixelLine& pixels, QSizeF size);
void dropDoubleReadings(std::vector<const PixelLine*>& lines);
void keepLettersApart(std::vector<const PixelLine*>& kept, std::vector<PixelLine>& fixed);
void dropSpecks(std::vector<const PixelLine*>& lines);

} // namespace TextVision::EngineLines
