#pragma once
// Letters for fonts of drawn glyphs (Type 3) that name their glyphs but say nothing of the letters they draw: the
// renderer then reads no text from them, though the names say what a reader reads.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDFPageObjectHelper.hh>

#include <string>

namespace GlyphNames {

// The character a glyph name stands for: the usual names of letters, digits and punctuation, and uniXXXX or
// uXXXX[XX]; 0 for a name that says nothing (g12, a private name).
char32_t letter(const std::string& name);

// Gives each such font the page draws with a map from its codes to the letters its glyph names stand for. A code
// whose name says nothing maps to U+FFFD, so the page's text shows that something there could not be read, unless
// the name numbers the code itself (a65 at 65) among the usual letters. True when a font was given one.
bool mapLetters(QPDFPageObjectHelper& page);

} // namespace GlyphNames
