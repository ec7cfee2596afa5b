#include "card/CopiedText.h"

#include <QTextBoundaryFinder>

namespace CopiedText {

int wordCount(const QString& text) {
    int count = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool blank = c.isSpace();
        if (!blank && !inWord)
            ++count;
        inWord = !blank;
    }
    return count;
}

QString shortened(const QString& payload) {
    // Counted in graphemes, so an emoji or an accented letter is never cut in half.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, payload);
    int count = 0;
    qsizetype cut = -1;
    while (graphemes.toNextBoundary() != -1) {
        ++count;
        if (count == 34)
            cut = graphemes.position();
        if (count == 35)
            return payload.left(cut) + QChar(0x2026);
    }
    return payload;
}

Result compose(const QString& text, const QStringList& codes) {
    QStringList pieces;
    if (!text.isEmpty())
        pieces << text;
    pieces << codes;
    if (pieces.isEmpty())
        return {std::nullopt, QStringLiteral("No text found"), 1.6};

    Result result{pieces.join(QStringLiteral("\n\n")), QString(), 1.6};
    if (!text.isEmpty())
        result.message = QString::number(wordCount(text)) +
                         (codes.isEmpty() ? QStringLiteral(" words copied") : QStringLiteral(" words + QR copied"));
    else if (codes.size() == 1)
        result.message = QStringLiteral("QR: ") + shortened(codes.first());
    else
        result.message = QString::number(codes.size()) + QStringLiteral(" QR codes copied");
    return result;
}

} // namespace CopiedText
