#pragma once
// The one card on screen. Every producer of a card goes through open(), show() or dismiss().

#include "card/ThumbnailPanel.h"
#include "imaging/Shot.h"

#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>

class PDFSession;

namespace Thumbnail {

// What every card opened from now on is built with; the program sets it once at start. Until then cards
// watch only our own windows and take Escape only with the focus.
void setServices(std::function<ThumbnailPanel::Services()> make);

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
