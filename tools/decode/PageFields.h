#pragma once
// A page's form fields drawn into the page itself, for a renderer that shows no field.

#include <QByteArray>

namespace PageFields {

// The document with each field widget page `page` shows (its normal appearance, not hidden) drawn into that
// page's content and taken off its annotations; nothing when the page shows no field, or the document cannot be
// read here (the renderer then says why). Fields a document asks the viewer to draw from their values get their
// appearances made first. Other pages and annotations stay as they are.
QByteArray drawn(const QByteArray& document, int page);

} // namespace PageFields
