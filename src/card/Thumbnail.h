#pragma once
// The one card on screen. Every producer of a card goes through open(), show() or dismiss().

#include "app/Shot.h"

#include <QPoint>
#include <QRect>

#include <memory>

class PDFSession;
class ThumbnailPanel;

namespace Thumbnail {

// Closes the current card at once (no fade) and opens a card for the shot centred on the point.
void open(const Shot& shot, std::shared_ptr<PDFSession> pdf, QPoint at);
// Closes the current card and opens one whose picture lands on the rectangle (a sticky note turning back
// into a card).
void show(const Shot& shot, QRect replacing);
// Closes the current card and empties the slot.
void dismiss();
// The card in the slot: the last one opened, also once it has closed itself, until another replaces it or
// dismiss() empties the slot.
ThumbnailPanel* current();

} // namespace Thumbnail
