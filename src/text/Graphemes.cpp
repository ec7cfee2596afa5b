#include "text/Graphemes.h"

#include <QTextBoundaryFinder>

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace Graphemes {

namespace {

// Calls visit(start, length) for each character; stops when it returns false.
template <typename Visit> void each(const QString& text, Visit visit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
        if (!visit(start, end - start))
            return;
        start = end;
    }
}

bool letterAt(const QString& text, qsizetype at) {
    const char32_t scalar = text.at(at).isHighSurrogate() && at + 1 < text.size()
                                ? QChar::surrogateToUcs4(text.at(at), text.at(at + 1))
                                : text.at(at).unicode();
    return u_hasBinaryProperty(UChar32(scalar), UCHAR_ALPHABETIC);
}

} // namespace

QStringList split(const QString& text) {
    QStringList out;
    each(text, [&](qsizetype start, qsizetype length) {
        out.append(text.mid(start, length));
        return true;
    });
    return out;
}

qsizetype count(const QString& text) {
    qsizetype n = 0;
    each(text, [&](qsizetype, qsizetype) {
        ++n;
        return true;
    });
    return n;
}

bool isLetter(const QString& character) {
    return !character.isEmpty() && letterAt(character, 0);
}

qsizetype letterCount(const QString& text) {
    qsizetype n = 0;
    each(text, [&](qsizetype start, qsizetype) {
        n += letterAt(text, start) ? 1 : 0;
        return true;
    });
    return n;
}

QString letters(const QString& text) {
    QString out;
    each(text, [&](qsizetype start, qsizetype length) {
        if (letterAt(text, start))
            out.append(QStringView(text).mid(start, length));
        return true;
    });
    return out;
}

QString left(const QString& text, qsizetype n) {
    qsizetype end = 0;
    qsizetype taken = 0;
    each(text, [&](qsizetype start, qsizetype length) {
        if (taken == n)
            return false;
        ++taken;
        end = start + length;
        return true;
    });
    return text.left(end);
}

QString lower(const QString& text) {
    icu::UnicodeString s(reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
    s.toLower(icu::Locale::getRoot());
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

} // namespace Graphemes
