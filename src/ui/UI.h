#pragma once
// Accent colours, the typeface service and whether translucency shows. Sizes are in
// device-independent pixels.

#include <QColor>
#include <QFont>
#include <QString>

class Compositor;

namespace UI {

QColor accent();
QColor onAccent();

// Registers every font file in the folder (the program's own ":/Fonts" by default) for this
// process. Only files whose extension is exactly "ttf" or "otf" are taken.
// Returns the number of faces registered. font() and monoFont() register the program's own the
// first time either is called.
int registerFonts(const QString& folder = QStringLiteral(":/Fonts"));

// Inter in the face that matches the weight (Bold for bold and heavier, SemiBold, Medium, else
// Regular), cached per face and size. Falls back to the system font at that weight when the
// face is not available; the fallback stays cached for the life of the process.
QFont font(double size, QFont::Weight weight = QFont::Normal);

// The face name font() picks for a weight, and the cache key for a face and size ("Inter-Bold@12.0").
QString faceName(QFont::Weight weight);
QString cacheKey(const QString& face, double size);

// JetBrains Mono Regular at the size, for code-like text.
QFont monoFont(double size);

// The desktop's compositor, handed in once at start; without one nothing is composited.
void setCompositor(const Compositor* compositor);
// Whether translucent windows show what lies beneath them; rounded windows without it need a shape
// mask. Asks the display each time, which costs a round trip: ask once per window.
bool composited();

} // namespace UI
