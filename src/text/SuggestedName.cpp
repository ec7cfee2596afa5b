#include "text/SuggestedName.h"

#include "text/TextLayout.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace TextVision {

namespace {

constexpr qsizetype maxCharacters = 48;

bool isTrimmedAtEnds(char32_t c) {
    return QChar::isSpace(c) || QChar::isPunct(c);
}

// Trims by code point so that characters outside the basic plane are judged whole.
QString trimEnds(const QString& text, bool (*trims)(char32_t)) {
    qsizetype start = 0, end = text.size();
    while (start < end) {
        const char32_t c = QChar::isHighSurrogate(text.at(start).unicode()) && start + 1 < end
                               ? QChar::surrogateToUcs4(text.at(start), text.at(start + 1))
                               : text.at(start).unicode();
        if (!trims(c))
            break;
        start += QChar::requiresSurrogates(c) ? 2 : 1;
    }
    while (end > start) {
        const char32_t c = QChar::isLowSurrogate(text.at(end - 1).unicode()) && end - 2 >= start
                               ? QChar::surrogateToUcs4(text.at(end - 2), text.at(end - 1))
                               : text.at(end - 1).unicode();
        if (!trims(c))
            break;
        end -= QChar::requiresSurrogates(c) ? 2 : 1;
    }
    return text.mid(start, end - start);
}

QString firstCharacters(const QString& text, qsizetype count) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            break;
        end = next;
    }
    return text.left(end);
}

} // namespace

std::optional<QString> cleanedName(const QString& text) {
    static const QRegularExpression separators(QStringLiteral(R"([/:\\])"));
    static const QRegularExpression spaces(QStringLiteral(R"(\s+)"), QRegularExpression::UseUnicodePropertiesOption);
    QString name = text;
    name.replace(separators, QStringLiteral("-"));
    name.replace(spaces, QStringLiteral(" "));
    name = trimEnds(name, isTrimmedAtEnds);
    if (characterCount(name) > maxCharacters)
        name = trimEnds(firstCharacters(name, maxCharacters), [](char32_t c) { return c == U' ' || c == U'\t'; });
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> suggestedName(const std::vector<Line>& lines) {
    std::vector<Line> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [](const Line& line) { return characterCount(line.text) > 2; });
    if (kept.empty())
        return std::nullopt;
    std::stable_sort(kept.begin(), kept.end(), [](const Line& a, const Line& b) {
        if (a.box.height() != b.box.height())
            return a.box.height() > b.box.height();
        return midY(a.box) > midY(b.box);
    });
    const size_t considered = std::min<size_t>(3, kept.size());
    size_t chosen = 0;
    for (size_t i = 1; i < considered; ++i)
        if (midY(kept[i].box) > midY(kept[chosen].box))
            chosen = i;
    return cleanedName(kept[chosen].text);
}

} // namespace TextVision
