#pragma once
// A page's form fields drawn into the page itself, for a renderer that shows no field, and its notes given the
// appearance they lack, for a renderer that draws a note only by its appearance.

#include <QByteArray>
#include <QPointF>

namespace PageFields {

// The document with each field widget page `page` shows (its normal appearance, not hidden) drawn into that
// page's content and taken off its annotations; nothing when the page shows no field, or the document cannot be
// read here (the renderer then says why). Fields a document asks the viewer to draw from their values, and text
// fields and notes that hold a value or text but no appearance (as scripts that set a value leave them), get their
// appearances made first, as viewers make them. Other pages and annotations stay as they are.
QByteArray drawn(const QByteArray& document, int page);

// The clockwise turn (0, 90, 180 or 270) page `page` is shown by, as its own or an inherited /Rotate asks and
// renderers read it (whole quarters only); 0 when the document cannot be read here.
int turn(const QByteArray& document, int page);

// The document with page `page` not turned (its /Rotate 0) and the fonts of drawn glyphs it uses given the letters
// their glyph names stand for, for reading the text it draws as it was set; nothing when the page needs neither or
// the document cannot be read or written here.
QByteArray upright(const QByteArray& document, int page);

// The lower left corner, in the page's own space, of what page `page` shows: where its crop box and media box
// meet; (0, 0) when the document cannot be read here.
QPointF origin(const QByteArray& document, int page);

} // namespace PageFields
