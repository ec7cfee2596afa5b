#pragma once
// What the recogniser commonly misreads in the characters of numbers and keys, put back so that the search for
// sensitive data finds what a person reads on the picture.

#include <QString>
#include <QStringView>

namespace TextVision {

// The text with its likely misreads mended, unit for unit (the result has the same length, so a finding in it
// boxes the same units of the line): in a group of digits, a letter or mark that looks like a digit ("@532",
// "1l11", "8O"); a key's prefix read with a look-alike or in the wrong case ("AKlA", "A1za", "ilza", "xOxb-", "shp_");
// inside such a key, and between two pieces of a long token, a single stray mark ("AKIATOSFODNN?EXAMPLE",
// "...LmT2x'p9Nc..."); the last group of a card number in groups read as letters ("5555-5555-5555-dddd",
// "4012 8888 8888 1dd1"), and a digit read as a question mark in a number's group ("673?"); a yen sign for a Y, a
// long dash for a hyphen between a key's characters, a pound sign for an f before a letter or digit, and an accented
// letter for its plain one.
QString mendedMisreads(QStringView text);

// Whether a made-up blank fell inside a key's prefix: `head` read before it and `word` after it ("Al" "zaSy...").
bool prefixSplit(QStringView head, QStringView word);

// Whether the digits (blanks and hyphens between them ignored) pass the check of a payment card number (Luhn)
// or of an IBAN (its letters and digits, mod 97).
bool luhnValid(QStringView digits);
bool ibanValid(QStringView text);

} // namespace TextVision
