#pragma once
// Text as the reader sees it: user-perceived characters (extended grapheme clusters), letters
// (a character whose first scalar is Alphabetic) and full Unicode lower-casing.

#include <QString>
#include <QStringList>

namespace Graphemes {

QStringList split(const QString& text);
qsizetype count(const QString& text);
bool isLetter(const QString& character);
qsizetype letterCount(const QString& text);
// Only the letters of the text, in order.
QString letters(const QString& text);
// The first n characters.
QString left(const QString& text, qsizetype n);
QString lower(const QString& text);

} // namespace Graphemes
