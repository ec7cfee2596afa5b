#pragma once
// What the copy-text tool puts on the clipboard and says about it, from the recognised text and the
// barcode payloads of a picture.

#include <QString>
#include <QStringList>

#include <optional>

namespace CopiedText {

struct Result {
    std::optional<QString> clipboard; // nothing: the clipboard keeps what it holds
    QString message;
    double seconds = 1.6;
};

// The text first, then each payload, one blank line between pieces.
Result compose(const QString& text, const QStringList& codes);

// Pieces between runs of white space and line breaks.
int wordCount(const QString& text);

// A payload for a toast: 35 or more user-perceived characters become the first 34 and "…".
QString shortened(const QString& payload);

} // namespace CopiedText
