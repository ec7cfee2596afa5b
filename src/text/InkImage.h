#pragma once
// The grey picture the recogniser reads: every pixel's difference from the ground it stands on,
// as dark ink on white. Text on coloured panels, bubbles, selected rows, buttons and dark windows
// all comes out the same way, where one global threshold would swallow a panel or invert it.

#include <QImage>

namespace TextVision {

// Grayscale8, the size of the picture; an alpha channel is flattened onto white first.
QImage inkImage(const QImage& image);

} // namespace TextVision
