#include "text/Misreads.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace TextVision {

namespace {

// The digit a letter or mark that the recogniser gives for it stands for, or a null character.
QChar digitFor(QChar c) {
    switch (c.unicode()) {
    case u'O':
    case u'o':
    case u'@':
        return u'0';
    case u'I':
    case u'l':
    case u'|':
        return u'1';
    case u'S':
        return u'5';
    case u'Z':
        return u'2';
    case u'B':
        return u'8';
    case u'G':
        return u'6';
    default:
        return {};
    }
}

bool mendable(QChar c) {
    return c.isDigit() || !digitFor(c).isNull();
}

// A run of digits and look-alikes is mended when digits outnumber the look-alikes and no other letter touches it:
// "@532", "37O4" and "1l11" are numbers; "GB29", "B2B", "iOS15" and "S1" stay as read. An IBAN's country code
// may stand before its check digits ("DE8@").
void mendDigits(QString& text, qsizetype from, qsizetype to) {
    const auto letterAt = [&](qsizetype i) { return i >= from && i < to && text[i].isLetter(); };
    const qsizetype ibanDigits = to - from >= 4 && text[from].isUpper() && text[from + 1].isUpper() &&
                                         text[from].unicode() < 128 && text[from + 1].unicode() < 128 &&
                                         mendable(text[from + 2]) && mendable(text[from + 3])
                                     ? from + 2
                                     : -1;
    for (qsizetype i = from; i < to;) {
        if (!mendable(text[i])) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        qsizetype end = i;
        int digits = 0, lookAlikes = 0;
        while (end < to && mendable(text[end]) && !(end == ibanDigits && end > start)) {
            (text[end].isDigit() ? digits : lookAlikes) += 1;
            ++end;
        }
        i = end;
        if (lookAlikes == 0 || letterAt(end))
            continue;
        const bool iban = start == ibanDigits && end - start >= 2 && digits >= lookAlikes;
        if (!iban && (end - start < 3 || digits <= lookAlikes || letterAt(start - 1)))
            continue;
        for (qsizetype k = start; k < end; ++k)
            if (!text[k].isDigit())
                text[k] = digitFor(text[k]);
    }
}

// A card number whose last group small bitmap faces turn into letters ("5555-5555-5555-dddd", a 4 read as d): three
// groups of four digits joined by one kind of mark, read whole, and after them four digits or letters that look
// like digits are a card's. Which digits they stand for is not known, nor needed: the cover takes the group with
// the rest. Words ("2024-0101-1231-days") stay as read. The groups may be spaced, so the whole line is searched, not
// one word at a time.
void mendCardGroups(QString& text) {
    static const QRegularExpression card(
        QStringLiteral(R"((?<![A-Za-z0-9-])\d{4}([- ])\d{4}\1\d{4}\1([0-9dqbgsoOIlBSZGA|@]{4})(?![A-Za-z0-9]))"));
    auto matches = card.globalMatch(text);
    std::vector<std::pair<qsizetype, qsizetype>> groups;
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        groups.emplace_back(match.capturedStart(2), match.capturedEnd(2));
    }
    for (const auto& [from, to] : groups)
        for (qsizetype k = from; k < to; ++k)
            if (!text[k].isDigit())
                text[k] = u'0';
}

// A digit the recogniser could not tell, read as a question mark, in a group of a number set in groups ("673?" in
// "5548-673?-3362-0597", "DE6?" before an account number's groups): a digit, when the groups beside it are digits.
void mendUnknownDigits(QString& text) {
    static const QRegularExpression group(QStringLiteral(R"([A-Za-z0-9?]+)"));
    struct Group {
        qsizetype start, end;
    };
    std::vector<Group> groups;
    for (const QRegularExpressionMatch& m : group.globalMatch(text))
        groups.push_back({m.capturedStart(), m.capturedEnd()});
    const auto digitsOnly = [&](const Group& g) {
        return g.end - g.start >= 2 &&
               std::all_of(text.begin() + g.start, text.begin() + g.end, [](QChar c) { return c.isDigit(); });
    };
    // Groups follow each other across one blank or hyphen.
    const auto joined = [&](const Group& a, const Group& b) {
        return b.start == a.end + 1 && (text[a.end] == u' ' || text[a.end] == u'-');
    };
    for (size_t i = 0; i < groups.size(); ++i) {
        const Group& g = groups[i];
        const QStringView piece = QStringView(text).mid(g.start, g.end - g.start);
        if (piece.size() < 2 || piece.size() > 5 || piece.count(u'?') != 1)
            continue;
        // Digits but for the mark, or an account number's country and check digits.
        const qsizetype from = piece.size() == 4 && piece[0].isUpper() && piece[1].isUpper() ? 2 : 0;
        if (!std::all_of(piece.begin() + from, piece.end(), [](QChar c) { return c.isDigit() || c == u'?'; }))
            continue;
        const bool before = i > 0 && joined(groups[i - 1], g) && digitsOnly(groups[i - 1]);
        const bool after = i + 1 < groups.size() && joined(g, groups[i + 1]) && digitsOnly(groups[i + 1]);
        if ((before || after) && (from == 0 || after))
            text[g.start + piece.indexOf(u'?')] = u'0';
    }
}

bool keyUnit(QChar c) {
    return (c.unicode() < 128 && c.isLetterOrNumber()) || c == u'_' || c == u'-';
}

bool dashLike(QChar c) {
    return (c >= u'\u2010' && c <= u'\u2015') || c == u'\u2212';
}

// A mark that a small letter or digit of a terminal's bitmap face reads as: "Yp9" as "'p9", "E7b" as "E#b".
bool strayMark(QChar c) {
    return c == u'\'' || c == u'"' || c == u'#' || c == u'?' || c == u'!' || c == u'|' || c == u'`' || c == u'\u00b4';
}

// The key characters from `at` on, one way, when they look drawn at random: at least four, holding small and
// capital letters and digits ("biq3Rv8LmT2x", not "v2_build_output"); else none.
qsizetype keyPiece(const QString& text, qsizetype at, int step) {
    qsizetype n = 0;
    bool lower = false, upper = false, digit = false;
    for (qsizetype i = at; i >= 0 && i < text.size() && keyUnit(text[i]); i += step, ++n) {
        lower = lower || text[i].isLower();
        upper = upper || text[i].isUpper();
        digit = digit || text[i].isDigit();
    }
    return n >= 4 && lower && upper && digit ? n : 0;
}

// One stray mark between two pieces of a long token, each of them plainly a piece of one ("...LmT2x'p9Nc..."), is a
// misread character of it when the whole is long enough to be a token.
void mendTokens(QString& text, qsizetype from, qsizetype to) {
    for (qsizetype k = from + 1; k + 1 < to; ++k) {
        if (!strayMark(text[k]))
            continue;
        const qsizetype before = keyPiece(text, k - 1, -1), after = keyPiece(text, k + 1, 1);
        if (before && after && before + after + 1 >= 28)
            text[k] = u'X';
    }
}

struct Prefix {
    QRegularExpression read;
    // The prefix as it is written; empty where it keeps what was read but for its case.
    QString written;
    // Stray marks that a look-alike inside this kind of key reads as.
    QString strays;
    // The key's characters after the prefix are capitals and digits only.
    bool capitals;
    // The marks between a key's letters and digits that this kind has after its separator.
    QString joints;
};

const std::array<Prefix, 6>& prefixes() {
    static const std::array<Prefix, 6> list{{
        {QRegularExpression(QStringLiteral(R"(AK[Il1|/T]A)")),
         QStringLiteral("AKIA"),
         QStringLiteral("?/|!"),
         true,
         {}},
        {QRegularExpression(QStringLiteral(R"((?:A[Il1|/T]|i[l1])[z2Z]a)")), QStringLiteral("AIza"),
         QStringLiteral("?|!@"), false, QStringLiteral("-_")},
        {QRegularExpression(QStringLiteral(R"([xX][oO0@][xX][bapBAP](?=-))")),
         {},
         QStringLiteral("?|!"),
         false,
         QStringLiteral("-")},
        {QRegularExpression(QStringLiteral(R"([gGs6][hH][pP](?=_))")),
         QStringLiteral("ghp"),
         QStringLiteral("?|!"),
         false,
         {}},
        {QRegularExpression(QStringLiteral(R"([gGs6][hH][oO0](?=_))")),
         QStringLiteral("gho"),
         QStringLiteral("?|!"),
         false,
         {}},
        {QRegularExpression(QStringLiteral(R"([s5pr][kK](?=_))")),
         {},
         QStringLiteral("?|![]"),
         false,
         QStringLiteral("_")},
    }};
    return list;
}

QString written(const Prefix& prefix, QStringView read) {
    if (!prefix.written.isEmpty())
        return prefix.written;
    // "xOxb": the prefix in small letters, its digits back to letters.
    QString out = read.toString().toLower();
    for (QChar& c : out)
        c = c == u'0' || c == u'@' ? QChar(u'o') : c == u'5' ? QChar(u's') : c == u'6' ? QChar(u'g') : c;
    return out;
}

// A key's prefix at `at`, read with look-alikes, and the key after it: both mended when the key is long enough to
// be one and holds a digit (a key made of capitals alone is an access key's body: "TOSFODNN?EXAMPLE").
void mendKey(QString& text, qsizetype at) {
    for (const Prefix& prefix : prefixes()) {
        const QRegularExpressionMatch match =
            prefix.read.match(text, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch())
            continue;
        const QString mended = written(prefix, match.capturedView());
        const bool same = mended == match.captured();
        QString body;
        qsizetype end = match.capturedEnd();
        bool stray = false;
        for (; end < text.size(); ++end) {
            const QChar c = text[end];
            // A prefix read otherwise takes only the marks its kind has after the separator, lest a name in code
            // ("shp_reader_v2_tests") pass for a key.
            const bool joint = c == u'_' || c == u'-';
            if (keyUnit(c) && (!prefix.capitals || c.isUpper() || c.isDigit()) &&
                (same || !joint || body.isEmpty() || prefix.joints.contains(c))) {
                body += c;
                continue;
            }
            // One mark between two of the key's characters is a misread character of it.
            if (!stray && prefix.strays.contains(c) && !body.isEmpty() && end + 1 < text.size() &&
                keyUnit(text[end + 1])) {
                stray = true;
                body += u'X';
                continue;
            }
            break;
        }
        // A prefix read otherwise also takes only a key that looks drawn at random: small and capital letters mixed.
        const auto any = [&body](bool (QChar::*is)() const) {
            return std::any_of(body.begin(), body.end(), [is](QChar c) { return (c.*is)(); });
        };
        const bool digit = any(&QChar::isDigit);
        if (!same && !prefix.capitals && !(any(&QChar::isUpper) && any(&QChar::isLower)))
            return;
        if (body.size() < 12 || !(digit || prefix.capitals || (same && stray)))
            return;
        text.replace(match.capturedStart(), match.capturedLength(), mended);
        text.replace(match.capturedEnd(), body.size(), body);
        return;
    }
}

} // namespace

QString mendedMisreads(QStringView read) {
    QString text = read.toString();
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar& c = text[i];
        if (c == u'\u00a5')
            c = u'Y';
        // A bitmap face's hyphen reads as a longer dash; between a key's characters it is the key's hyphen.
        else if (dashLike(c) && i > 0 && i + 1 < text.size() && (keyUnit(text[i - 1]) || dashLike(text[i - 1])) &&
                 (keyUnit(text[i + 1]) || dashLike(text[i + 1])))
            c = u'-';
        // A pound sign is how a bitmap face's f often reads, where a key or token goes on after it.
        else if (c == u'\u00a3' && i + 1 < text.size() && text[i + 1].isLetterOrNumber())
            c = u'f';
        else if (c.decompositionTag() == QChar::Canonical) {
            // "é" for "e": an accent the recogniser made up over a key's letter.
            const QString plain = c.decomposition();
            if (!plain.isEmpty() && plain[0].unicode() < 128 && plain[0].isLetter())
                c = plain[0];
        }
    }
    for (qsizetype i = 0; i < text.size();) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        mendDigits(text, i, end);
        mendTokens(text, i, end);
        i = end;
    }
    mendUnknownDigits(text);
    mendCardGroups(text);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i == 0 || !text[i - 1].isLetterOrNumber())
            mendKey(text, i);
    return text;
}

bool prefixSplit(QStringView head, QStringView word) {
    if (head.isEmpty() || head.size() > 4 || word.isEmpty())
        return false;
    static const QRegularExpression key(
        QStringLiteral(R"(^(sk_|pk_|rk_|ghp_|gho_|xox[bap]-|AKIA|AIza)[A-Za-z0-9_\-]{12,})"));
    const QRegularExpressionMatch match = key.match(mendedMisreads(head.toString() + word.toString()));
    return match.hasMatch() && match.capturedLength(1) > head.size();
}

bool luhnValid(QStringView text) {
    int sum = 0, count = 0;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar c = text[i];
        if (c == u' ' || c == u'-')
            continue;
        if (!c.isDigit())
            return false;
        int d = c.digitValue();
        if (count++ % 2 == 1)
            d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return count >= 13 && count <= 19 && sum % 10 == 0;
}

bool ibanValid(QStringView text) {
    QString compact;
    for (const QChar c : text)
        if (c != u' ')
            compact += c;
    if (compact.size() < 15 || compact.size() > 34)
        return false;
    const QString moved = compact.mid(4) + compact.first(4);
    int remainder = 0;
    for (const QChar c : moved) {
        if (c.isDigit() && c.unicode() < 128)
            remainder = (remainder * 10 + c.digitValue()) % 97;
        else if (c >= u'A' && c <= u'Z')
            remainder = (remainder * 100 + (c.unicode() - u'A' + 10)) % 97;
        else
            return false;
    }
    return remainder == 1;
}

} // namespace TextVision
