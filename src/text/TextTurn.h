#pragma once
// Which way a picture's text runs: a page shown sideways, a table printed across a turned page. Recognition
// reads lines that run across only, so text that runs up or down is read once the picture is turned its way.

#include <QImage>
#include <QRectF>

namespace TextVision {

// The clockwise turn (90 or 270 degrees) that stands the picture's sideways text upright; 0 when its text runs
// across, when there is too little text to tell, or when the engine's orientation data is not installed.
int textTurn(const QImage& image);

// Whether the picture's lines may run up or down rather than across: a quick look at the gaps between them, so
// that the engine's slower detection is asked only then.
bool mayRunUpOrDown(const QImage& image);

// The picture turned clockwise by `degrees` (a multiple of 90), every pixel kept.
QImage turned(const QImage& image, int degrees);

// A normalised box (origin at the lower left) on a picture turned clockwise by `degrees`, as a box on the
// picture before it was turned.
QRectF unturned(const QRectF& box, int degrees);

} // namespace TextVision
