#pragma once
// A file name made from a picture's most prominent line of text.

#include "text/TextLine.h"

#include <QString>
#include <optional>
#include <vector>

namespace TextVision {

// The highest of the three tallest lines of at least 3 characters, made safe for a file name;
// nothing when no line qualifies or nothing is left after cleaning.
std::optional<QString> suggestedName(const std::vector<Line>& lines);

// The cleaning alone: separators to hyphens, white space collapsed, punctuation trimmed, 48 characters at most.
std::optional<QString> cleanedName(const QString& text);

} // namespace TextVision
