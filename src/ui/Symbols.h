#pragma once
// Named symbol pictures for buttons and labels, drawn from the program's own icon table.

#include <QColor>
#include <QImage>
#include <QString>

namespace Symbols {

// The symbol as a square picture pointSize device-independent pixels wide, in one colour, drawn
// at the given device pixel ratio so it stays sharp on dense screens. A null image for a name
// the table does not have, or a size that is not positive.
QImage image(const QString& name, double pointSize, const QColor& colour, double devicePixelRatio = 1.0);

// Whether the table has the name.
bool has(const QString& name);

} // namespace Symbols
