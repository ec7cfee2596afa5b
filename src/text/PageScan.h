#pragma once
// A first glance at a picture before recognition: the grey copy the engines read, how tall its
// text is (and so how much to enlarge it), and where it can be cut into bands without cutting text.

#include "text/BarRuns.h"

#include <QImage>
#include <QRect>
#include <utility>
#include <vector>

namespace TextVision {

struct Band {
    QRect extent;          // the rows an engine reads, overlap included
    int ownTop, ownBottom; // the rows whose lines this band reports: [ownTop, ownBottom)
    bool ownsRow(double row) const { return row >= ownTop && row < ownBottom; }
};

class PageScan {
public:
    explicit PageScan(const QImage& image);

    // 8-bit grey, dark text on a light ground whatever the colours of the picture.
    const QImage& grey() const { return greyImage; }

    // Runs of bars found in the picture and blanked out of grey(): the engine misreads them.
    const std::vector<BarRun>& barRuns() const { return bars; }

    // The rules painted out of grey(): table borders, frames, lines under headings.
    const std::vector<QRect>& rules() const { return ruleBoxes; }

    // Typical height of a line of text in pixels; 0 when no text-like rows were found.
    double textHeight() const { return lineHeight; }

    // Enlargement that brings small text to a size the recogniser reads reliably, or to lines of
    // about `height` pixels where that is given.
    double scale(double height = 0) const;

    // About count bands of similar height, cut at the emptiest row near each even cut, or at the
    // edge of a block of lines where that would leave a line or two of it apart; fewer for small pictures.
    std::vector<Band> bands(int count) const;

    // Bands cut exactly at the given rows.
    std::vector<Band> bandsAt(std::vector<int> cuts) const;

private:
    bool blank(int row) const;
    int overlapAt(int cut) const;
    struct Gap {
        int first, last; // blank rows between lines of text
        bool edge;       // clearly wider than the spacing of the lines around it: a block ends here
    };
    std::vector<Gap> gaps() const;

    QImage greyImage;
    std::vector<BarRun> bars;
    std::vector<QRect> ruleBoxes;
    std::vector<int> rowInk; // sharp horizontal changes of brightness per row
    double lineHeight = 0;
};

} // namespace TextVision
