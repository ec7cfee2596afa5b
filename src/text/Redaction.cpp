#include "text/Redaction.h"

#include "imaging/UserError.h"
#include "text/LineGeometry.h"
#include "text/Misreads.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace TextVision {

namespace {

// \d, \b and \s match Unicode digits, word boundaries and spaces, as the rules were written for.
constexpr auto patternOptions = QRegularExpression::UseUnicodePropertiesOption;

const QColor fillColour = QColor::fromRgbF(0.08f, 0.08f, 0.08f, 1.0f);

constexpr size_t patternCount = 8;

QImage surfaceFor(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw ConvertError(QStringLiteral("Can't draw"));
    QImage surface(image.size(), QImage::Format_RGBA8888_Premultiplied);
    if (surface.isNull())
        throw ConvertError(QStringLiteral("Can't draw"));
    surface.fill(Qt::transparent);
    QPainter painter(&surface);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(QPoint(0, 0), image.size()), image);
    return surface;
}

// Pixel rectangle with the origin at the lower left to the painter's top-left rectangle.
QRectF flipped(const QRectF& r, int height) {
    return QRectF(r.x(), height - (r.y() + r.height()), r.width(), r.height());
}

void fill(QPainter& painter, const QRectF& box, int height) {
    // A box the user dragged out backwards still covers what it spans; drawn as given it would
    // cover nothing and leave the data readable.
    const QRectF pixels = box.normalized();
    const double radius = std::min({3.0, pixels.width() * 0.5, pixels.height() * 0.5});
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addRoundedRect(flipped(pixels, height), radius, radius);
    painter.fillPath(path, fillColour);
}

// Recognition reads a blank where there is none, next to punctuation above all: "example. com",
// "sk _live", an underscore read as a blank ("sk live"), a long key cut in two; and a small full stop
// as other punctuation ("billing,team@example-corp,com"). The patterns are also tried on the line with
// such blanks taken out and such dots put back, and each finding maps back to the whole stretch of the
// line it came from.
struct Squeezed {
    QString text;
    // For each unit of text, where it stands in the line.
    std::vector<qsizetype> origin;
};

// A small yen sign is how a terminal's bitmap Y often reads.
bool keyCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'-' || c == u'\u00a5';
}

// What a small full stop reads as: a comma, a semicolon, a colon, a middle dot or a bullet.
bool dotLike(QChar c) {
    return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'\u00b7' || c == u'\u2022' || c == u'\u2219';
}

bool addressCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'%' || c == u'+' || c == u'-';
}

qsizetype misreadAt(QStringView word);

// A word that opens with an address's local part and its at sign: "team@", "weber@example", "weberGexample.com".
bool addressStart(QStringView word) {
    qsizetype i = 0;
    while (i < word.size() && (addressCharacter(word[i]) || word[i] == u'.'))
        ++i;
    return (i > 0 && i < word.size() && word[i] == u'@') || misreadAt(word) >= 0;
}

// What a speck at the window's left edge reads as before a row's first character.
const QString& specks() {
    static const QString marks = QStringLiteral("'`|\u2018\u2019");
    return marks;
}

// Letters, digits, underscores and hyphens that don't read as a word: a digit among letters, a
// capital after a small letter, or an underscore or hyphen inside.
bool keyLike(QStringView run) {
    if (run.size() < 4)
        return false;
    bool digit = false, letter = false, joint = false, camel = false;
    for (qsizetype i = 0; i < run.size(); ++i) {
        const QChar c = run[i];
        if (!keyCharacter(c))
            return false;
        digit = digit || c.isDigit();
        letter = letter || c.isLetter();
        joint = joint || ((c == u'_' || c == u'-') && i > 0 && i + 1 < run.size());
        camel = camel || (i > 0 && c.isUpper() && run[i - 1].isLower());
    }
    return (digit && letter) || joint || camel;
}

// The key characters at the end of a word, and at its start.
QStringView keyTail(QStringView word) {
    qsizetype i = word.size();
    while (i > 0 && keyCharacter(word[i - 1]))
        --i;
    return word.mid(i);
}
QStringView keyHead(QStringView word) {
    qsizetype i = 0;
    while (i < word.size() && keyCharacter(word[i]))
        ++i;
    return word.first(i);
}

// The key characters at the start of a word, on past a mark that stands for one of them between two others
// ("2_H51m@9PD2yk5Ih6RJ" of a bitmap face), the marks left out.
QString keyHeadThroughMarks(QStringView word) {
    static const QString marks = QStringLiteral("@'\"#?!|`");
    QString out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (keyCharacter(word[i]))
            out += word[i];
        else if (!(marks.contains(word[i]) && i > 0 && keyCharacter(word[i - 1]) && i + 1 < word.size() &&
                   keyCharacter(word[i + 1])))
            break;
    }
    return out;
}

// The stretch of key characters at the end of a word, back past such marks between two of them.
QStringView keyTailThroughMarks(QStringView word) {
    static const QString marks = QStringLiteral("@'\"#?!|`");
    qsizetype i = word.size();
    while (i > 0 && (keyCharacter(word[i - 1]) || (marks.contains(word[i - 1]) && i < word.size() && i > 1 &&
                                                   keyCharacter(word[i]) && keyCharacter(word[i - 2]))))
        --i;
    return word.mid(i);
}

// Where the run of a key's characters that a wrapped key goes on in ends, from the end of the row's first word: on
// across single blanks over words that read as pieces of a key ("o_Bz0GxaZVaMHf j vxRu6GdP65w1Yrc", a letter or two
// between two such pieces), not over words ("expires").
qsizetype keyRunEnd(const QString& text, qsizetype end) {
    const auto wordAt = [&text](qsizetype from) {
        qsizetype to = from;
        while (to < text.size() && !text[to].isSpace())
            ++to;
        return QStringView(text).mid(from, to - from);
    };
    const auto piece = [](QStringView word) { return keyHead(word).size() == word.size() && keyLike(word); };
    while (end + 1 < text.size() && text[end] == u' ' && !text[end + 1].isSpace()) {
        const QStringView word = wordAt(end + 1);
        const qsizetype after = end + 1 + word.size();
        const bool short_ = word.size() <= 2 && keyHead(word).size() == word.size() && after + 1 < text.size() &&
                            text[after] == u' ' && piece(wordAt(after + 1));
        if (!piece(word) && !short_)
            break;
        end = after;
    }
    return end;
}

// A key's prefix, perhaps with the short word that names its kind ("sk", "sk_", "sk_live_"), too
// short to be a key by itself.
bool keyPrefix(QStringView tail) {
    static const QRegularExpression prefix(
        QStringLiteral(R"(^(?:sk|pk|rk|ghp|gho|xox[bap]|AKIA|AIza)[_-]?(?:[A-Za-z]{2,5}[_-]?)?$)"));
    return prefix.match(tail).hasMatch();
}
// Where a web token begins: the encoding of '{"' and more of its header.
const QRegularExpression& dottedTokenStart() {
    static const QRegularExpression start(QStringLiteral(R"(\beyJ[A-Za-z0-9_\-]{6,})"));
    return start;
}
bool kindWord(QStringView word) {
    static const QRegularExpression kind(QStringLiteral(R"(^[_-]?[A-Za-z]{2,5}[_-]?$)"));
    return kind.match(word).hasMatch();
}

// Whether the blank between two words is one recognition made up. `after` is the word after next.
bool slip(QStringView before, QStringView word, QStringView after) {
    const QChar last = before.back(), first = word.front();
    if (last == u'_' || first == u'_' || last == u'@' || first == u'@')
        return true;
    // The dots of a dotted token ("header.payload.signature") read apart: "...J9 . kZx2", "...J9, SflK",
    // "...J9 ,eyJz".
    if (word.size() == 1 && dotLike(first) && keyLike(keyTail(before)))
        return true;
    if (dotLike(last) && keyLike(keyTail(before.chopped(1))) && keyLike(keyHead(word)))
        return true;
    if (dotLike(first) && word.size() > 1 && keyLike(keyTail(before)) && keyLike(keyHead(word.mid(1))))
        return true;
    // A short piece between a web token's parts ("...JvcHNi FQ. kZx2"): it ends in the token's dot.
    if (before.contains(u"eyJ") && word.size() <= 5 && dotLike(word.back()) &&
        keyHead(word).size() + 1 == word.size() && keyLike(keyHead(after)))
        return true;
    // An address's dot read as punctuation beside a blank: "billing, team@", "jonas ,weber@", "team@corp, com". A
    // sentence's word before an address starts with a capital ("Thanks, ann@"); a colon before a blank ends a label
    // ("key: ops@...").
    if (dotLike(last) && last != u':' && before.size() > 1 && addressCharacter(before[before.size() - 2]) && addressStart(word)) {
        const QStringView piece = keyTail(before.chopped(1));
        if (!piece.isEmpty() && std::none_of(piece.begin(), piece.end(), [](QChar c) { return c.isUpper(); }) &&
            piece != u"mailto")
            return true;
    }
    if (dotLike(first) && word.size() > 1 && addressCharacter(last) && addressStart(word.mid(1)))
        return true;
    if (const qsizetype at = before.lastIndexOf(u'@');
        at >= 0 && dotLike(last) && before.size() > 1 && addressCharacter(before[before.size() - 2])) {
        // Only while the domain still lacks its dot: after a whole address a comma ends it.
        const QStringView domain = before.mid(at + 1).chopped(1);
        qsizetype letters = 0;
        while (letters < word.size() && word[letters].isLetter())
            ++letters;
        if (!domain.isEmpty() && std::none_of(domain.begin(), domain.end(), dotLike) && letters >= 2 &&
            (letters == word.size() || !word[letters].isLetterOrNumber()))
            return true;
    }
    // "example. com", "example .com"; a sentence's next word starts with a capital.
    if (last == u'.' && before.size() > 1 && before[before.size() - 2].isLetterOrNumber() &&
        (first.isLower() || first.isDigit()))
        return true;
    if (first == u'.' && word.size() > 1 && word[1].isLetterOrNumber() && last.isLetterOrNumber())
        return true;
    // A blank made up before a stray mark that stands for a key's character ("...HsE #bQ1z...").
    // A letter or two after the mark may end the piece, the key going on in the word after ("36ec51 ?b febe9e899").
    const bool marked = word.size() > 1 && QStringLiteral("'\"#?!|`").contains(first);
    if (marked && keyLike(keyTail(before)) &&
        (keyLike(keyHead(word.mid(1))) ||
         (keyHead(word.mid(1)).size() == word.size() - 1 && !after.isEmpty() && keyLike(keyHead(after)))))
        return true;
    // A blank made up inside a key's prefix, read with a look-alike or not ("Al zaSy...", "x Oxb-...").
    if (prefixSplit(keyTail(before), word))
        return true;
    if (keyPrefix(keyTail(before)) &&
        (keyLike(keyHead(word)) || (kindWord(word) && !after.isEmpty() && keyLike(keyHead(after)))))
        return true;
    // A key's prefix whose last letter read as a bracket or bar before a blank ("rk_] ive_4hMOvkr2").
    if (before.size() > 1 && QStringLiteral("[]|!").contains(last) && keyPrefix(keyTail(before.chopped(1))) &&
        keyLike(keyHead(word)))
        return true;
    // A letter or two read apart between two pieces of a key ("...4hMOvkr2 1 NmHOuFtULdaw").
    if (word.size() <= 2 && keyHead(word).size() == word.size() && keyLike(keyTail(before)) && !after.isEmpty() &&
        keyLike(keyHead(after)))
        return true;
    // The second half of a key cut in two may be capitals alone ("...a7eZSWOj KFMBWY").
    const QStringView rest = keyHead(word);
    const bool capitals =
        rest.size() >= 4 && std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isUpper() || c.isDigit(); });
    // The piece before may hold such a mark itself ("36ec51?b" "febe9e899").
    return (keyLike(keyTail(before)) || keyLike(keyHeadThroughMarks(keyTailThroughMarks(before)))) &&
           (capitals || keyLike(rest));
}

// Where a small bitmap at sign was read as a capital B or G, in a word that is otherwise an address in small
// letters ("weberGexample.com"), the place of that letter; else -1.
qsizetype misreadAt(QStringView word) {
    static const QRegularExpression address(
        QStringLiteral(R"(^[a-z0-9_%+\-]+(?:[.,;:\x{b7}][a-z0-9_%+\-]+)*([BG])[a-z0-9\-]+(?:[.,;:\x{b7}][a-z0-9\-]+)*)"
                       R"([.,;:\x{b7}][a-z]{2,6}[^A-Za-z0-9]*$)"));
    const QRegularExpressionMatch match = address.match(word);
    return match.hasMatch() && match.capturedStart(1) >= 2 ? match.capturedStart(1) : -1;
}

// Within an address, and within a dotted token, the punctuation between two of its characters is the dot it
// was read for ("billing,team@example-corp,com", "...iJ9,eyJz", "...com.,net"). A word of prose keeps its
// commas: it has no at sign, and its pieces are words.
Squeezed dotted(Squeezed in) {
    Squeezed out;
    out.text.reserve(in.text.size());
    out.origin.reserve(in.origin.size());
    const QString& text = in.text;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i].isSpace()) {
            out.text += text[i];
            out.origin.push_back(in.origin[size_t(i)]);
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        const QStringView word = QStringView(text).mid(i, end - i);
        const qsizetype at = word.contains(u'@') ? -1 : misreadAt(word);
        const bool address = at >= 0 || word.contains(u'@');
        const bool token = dottedTokenStart().match(word).hasMatch();
        for (qsizetype k = i; k < end;) {
            const QChar c = text[k];
            qsizetype run = k;
            while (run < end && dotLike(text[run]))
                ++run;
            if (run == k) {
                out.text += k - i == at ? QChar(u'@') : c;
                out.origin.push_back(in.origin[size_t(k)]);
                ++k;
                continue;
            }
            // A token's header alone, its dot read as a comma at the end ("...iJ9,"), is still a web token.
            bool dot = token && run == end && run - k == 1 && keyCharacter(text[k - 1]);
            if (k > i && run < end && run - k <= 2 && keyCharacter(text[k - 1]) && keyCharacter(text[run])) {
                const QStringView before = keyTail(QStringView(text).mid(i, k - i));
                const QStringView after = keyHead(QStringView(text).mid(run, end - run));
                dot = address || token || (keyLike(before) && keyLike(after));
                // "mailto:" and a sentence's "Email:" are no part of an address.
                if (address && !word.first(k - i).contains(u'@') && (text[k] == u':' || text[k] == u';'))
                    dot = before != u"mailto" &&
                          std::none_of(before.begin(), before.end(), [](QChar ch) { return ch.isUpper(); });
            }
            if (dot) {
                out.text += u'.';
                out.origin.push_back(in.origin[size_t(k)]);
            } else {
                for (qsizetype r = k; r < run; ++r) {
                    out.text += text[r];
                    out.origin.push_back(in.origin[size_t(r)]);
                }
            }
            k = run;
        }
        i = end;
    }
    return out;
}

Squeezed squeeze(const QString& text, const std::vector<bool>& madeUp) {
    struct Word {
        qsizetype start, end;
    };
    std::vector<Word> words;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        words.push_back({start, i});
    }
    auto view = [&](size_t w) {
        return w < words.size() ? QStringView(text).mid(words[w].start, words[w].end - words[w].start) : QStringView();
    };
    Squeezed out;
    out.text.reserve(text.size());
    out.origin.reserve(size_t(text.size()));
    // A mark with no cell of its own is left out too.
    auto keep = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            if (madeUp[size_t(i)] && !text[i].isSpace())
                continue;
            out.text += text[i];
            out.origin.push_back(i);
        }
    };
    keep(0, words.empty() ? text.size() : words.front().start);
    // A joined word counts as one for the next blank: "sk" + "live" is still a key's prefix.
    QString joined;
    for (size_t w = 0; w < words.size(); ++w) {
        keep(words[w].start, words[w].end);
        joined += view(w);
        const qsizetype gapEnd = w + 1 < words.size() ? words[w + 1].start : text.size();
        // The next word runs on over the blanks after it that are made up too ("A" "QHYA1bp..." where a terminal
        // wrapped a key).
        QString next;
        size_t last = w + 1;
        if (w + 1 < words.size()) {
            next = view(w + 1).toString();
            while (last + 1 < words.size() && madeUp[size_t(words[last].end)])
                next += view(++last);
        }
        if (w + 1 < words.size() && (madeUp[size_t(words[w].end)] || slip(joined, next, view(last + 1))))
            continue;
        joined.clear();
        keep(words[w].end, gapEnd);
    }
    return dotted(std::move(out));
}

struct Range {
    qsizetype start, end;
};

// A token of dot-joined parts (a web token: header, payload and signature, each base64url; the header
// always begins with the encoding of '{"'), whatever the length of each part.
const QRegularExpression& dottedToken() {
    static const QRegularExpression pattern(QStringLiteral(R"(\beyJ[A-Za-z0-9_\-]{6,}(?:\.[A-Za-z0-9_\-]*){1,4})"),
                                            patternOptions);
    return pattern;
}

// An account number whose check digits were read with a look-alike, or a zero as two marks ("DEQ@4 5385 0872 ..."
// of a face that slashes its zeros): the country's two capitals, two or three digits or such marks, a digit among
// them, then at least three groups of four digits and nothing else. The groups settle what the head is.
const QRegularExpression& accountWithMisreadCheck() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(\b[A-Z]{2}(?=[QODo@]{0,2}\d)[0-9QODo@]{2,3}(?: \d{4}){3,7}(?: \d{1,4})?\b)"), patternOptions);
    return pattern;
}

// A key runs on to the end of the word it was found in when the recogniser misread a character
// of it ("Tj|KQf" for "TjjKQf"), and back over the key characters before it ("AIzaSyD-" before
// the part long enough to be found).
Range wholeKey(const QString& text, Range range) {
    // Back over the earlier parts of a dotted token too: found by its long last part, it is still one secret.
    // And back over a stray mark read for one of its characters ("36ec51?bfebe9e899...").
    while (range.start > 0 &&
           (keyCharacter(text[range.start - 1]) ||
            ((dotLike(text[range.start - 1]) || QStringLiteral("'\"#?!|`").contains(text[range.start - 1])) &&
             range.start > 1 && keyCharacter(text[range.start - 2]))))
        --range.start;
    while (range.end < text.size() && !text[range.end].isSpace())
        ++range.end;
    return range;
}

// A range grown over the punctuation that ends a sentence or a clause right after it ("1111.", "corp.com,"): the
// recogniser's box of a word's last character before such a mark can stop short of its ink.
Range withClingingMarks(const QString& text, Range range) {
    static const QString marks = QStringLiteral(".,;:!?)]'\"");
    for (int n = 0; n < 2 && range.end < text.size() && marks.contains(text[range.end]); ++n)
        ++range.end;
    return range;
}

// The ranges, in the order they start, without those that lie within another: a finding the
// squeezed line shows whole replaces the part the line as read gave.
std::vector<Range> outermost(std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.start != b.start ? a.start < b.start : a.end > b.end; });
    std::vector<Range> out;
    for (const Range& range : ranges)
        if (out.empty() || range.end > out.back().end)
            out.push_back(range);
    return out;
}

} // namespace

// The findings in a text, pattern by pattern: the listed patterns, then dotted tokens, then account numbers read with
// a misread head; the last two listed and the dotted tokens are keys. madeUp marks the blanks and marks the recogniser
// put where there is none.
static std::vector<std::vector<Range>> sensitiveRanges(const QString& text, const std::vector<bool>& madeUp) {
    const std::vector<QRegularExpression>& listed = sensitivePatterns();
    std::vector<std::pair<const QRegularExpression*, bool>> patterns;
    for (size_t p = 0; p < listed.size(); ++p)
        patterns.emplace_back(&listed[p], listed.size() == patternCount && p + 2 >= patternCount);
    patterns.emplace_back(&dottedToken(), true);
    patterns.emplace_back(&accountWithMisreadCheck(), false);
    const Squeezed squeezed = squeeze(text, madeUp);
    // The line as read, without the blanks recognition made up, and both with its likely misreads mended.
    std::vector<Squeezed> readings;
    const auto addReading = [&readings](QString reading, const std::vector<qsizetype>& origin) {
        for (const Squeezed& other : readings)
            if (other.text == reading)
                return;
        readings.push_back({std::move(reading), origin});
    };
    std::vector<qsizetype> same(size_t(text.size()));
    for (size_t i = 0; i < same.size(); ++i)
        same[i] = qsizetype(i);
    addReading(text, same);
    addReading(squeezed.text, squeezed.origin);
    addReading(mendedMisreads(text), same);
    addReading(mendedMisreads(squeezed.text), squeezed.origin);
    const bool changed = readings.size() > 1;
    std::vector<std::vector<Range>> out;
    for (const auto& [pattern, key] : patterns) {
        std::vector<Range> ranges;
        // A key runs on over the blanks that were taken out too.
        for (const Squeezed& reading : readings) {
            auto matches = pattern->globalMatch(reading.text);
            while (matches.hasNext()) {
                const QRegularExpressionMatch match = matches.next();
                if (match.capturedLength() == 0)
                    continue;
                Range range{match.capturedStart(), match.capturedEnd()};
                if (key)
                    range = wholeKey(reading.text, range);
                ranges.push_back({reading.origin[size_t(range.start)], reading.origin[size_t(range.end - 1)] + 1});
            }
        }
        for (Range& range : ranges)
            range = withClingingMarks(text, range);
        if (key || changed)
            ranges = outermost(std::move(ranges));
        out.push_back(std::move(ranges));
    }
    return out;
}

const std::vector<QRegularExpression>& sensitivePatterns() {
    static const std::vector<QRegularExpression> patterns = [] {
        const char16_t* sources[patternCount] = {
            uR"([A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\.[A-Za-z]{2,})",
            uR"(\b[A-Z]{2}\d{2}(?: ?[A-Z0-9]{4}){3,7}(?: ?[A-Z0-9]{1,4})?\b)",
            uR"(\b(?:\d[ -]?){13,19}\b)",
            uR"((?<!\d)(?:\+|00)\d{1,3}[ \-]?(?:\(?\d\)?[ \-]?){6,12}\d(?!\d))",
            uR"((?<!\d)0\d{1,3}[ \-]?\d{2,4}[ \-]?\d{2,4}[ \-]?\d{0,4}(?!\d))",
            uR"(\b(?:19|20)?\d{6}[-+]\d{4}\b)",
            uR"(\b(?:sk|pk|rk|ghp|gho|xox[bap]|AKIA|AIza)[A-Za-z0-9_\-]{12,}\b)",
            uR"(\b(?=[A-Za-z0-9]*\d)(?=[A-Za-z0-9]*[A-Za-z])[A-Za-z0-9_\-]{28,}\b)",
        };
        std::vector<QRegularExpression> out;
        for (const char16_t* source : sources) {
            QRegularExpression pattern(QString::fromUtf16(source), patternOptions);
            if (pattern.isValid()) {
                pattern.optimize();
                out.push_back(std::move(pattern));
            }
        }
        return out;
    }();
    return patterns;
}

namespace {

// Letters lost in the middle of an address ("mj@a" | "e-labs.io" of a bitmap face's "mj@acme-labs.io") part it into
// two lines on one row a few cells apart. Read as one word where the joined pieces make an address that neither makes
// alone, it is covered whole, the cells between included.
void addressesAcrossGaps(const std::vector<Line>& lines, std::vector<QRectF>& findings) {
    const QRegularExpression& address = sensitivePatterns().front();
    const auto whole = [&address](const QString& word) {
        const QRegularExpressionMatch m = address.match(word);
        return m.hasMatch() && m.capturedStart() == 0 && m.capturedEnd() >= word.size() - 1;
    };
    for (const Line& left : lines) {
        if (!left.candidate || left.text.trimmed().isEmpty())
            continue;
        qsizetype tailEnd = left.text.size();
        while (tailEnd > 0 && left.text[tailEnd - 1].isSpace())
            --tailEnd;
        qsizetype tailStart = tailEnd;
        while (tailStart > 0 && !left.text[tailStart - 1].isSpace())
            --tailStart;
        const QString tail = left.text.mid(tailStart, tailEnd - tailStart);
        const double pitch =
            cellPitch(left).value_or(left.box.width() / double(std::max<qsizetype>(1, left.text.size())));
        for (const Line& right : lines) {
            if (&right == &left || !right.candidate)
                continue;
            const double common = std::min(maxY(left.box), maxY(right.box)) - std::max(minY(left.box), minY(right.box));
            const double gap = minX(right.box) - maxX(left.box);
            if (common < 0.5 * std::min(left.box.height(), right.box.height()) || gap < -0.5 * pitch ||
                gap > 4.5 * pitch)
                continue;
            const QString head = right.text.trimmed().section(u' ', 0, 0);
            if (tail.isEmpty() || head.isEmpty() || (!tail.contains(u'@') && !head.contains(u'@')) || whole(tail))
                continue;
            // A whole address after a word is that word's neighbour, unless the word ends in what only an address's
            // local part has ("jonas." | "tqgc@acme-labs.com").
            if (whole(head) &&
                !(QStringLiteral("._-+").contains(tail.back()) ||
                  (tail.contains(u'.') && std::none_of(tail.begin(), tail.end(), [](QChar c) { return c.isUpper(); }))))
                continue;
            const QString joined = tail + head;
            bool across = false;
            const std::vector<std::vector<Range>> found =
                sensitiveRanges(joined, std::vector<bool>(size_t(joined.size())));
            for (const Range& range : found.front())
                across = across || (range.start < tail.size() && range.end > tail.size());
            if (!across)
                continue;
            const qsizetype headStart = right.text.indexOf(head);
            const std::optional<QRectF> a = left.candidate->boundingBox(tailStart, tailEnd - tailStart);
            const std::optional<QRectF> b = right.candidate->boundingBox(headStart, head.size());
            if (a && b)
                findings.push_back(unionOf(*a, *b));
        }
    }
}

} // namespace

std::vector<QRectF> sensitiveFindings(const std::vector<Line>& lines) {
    const std::vector<Continuation> wraps = continuations(lines);
    std::vector<QRectF> findings;
    const auto box = [&findings](const Line& line, qsizetype start, qsizetype end) {
        if (end > start)
            if (auto found = line.candidate->boundingBox(start, end - start))
                findings.push_back(*found);
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (!line.candidate)
            continue;
        const std::vector<bool> madeUp = madeUpUnits(line);
        const std::vector<std::vector<Range>> found = sensitiveRanges(line.text, madeUp);
        for (const std::vector<Range>& ranges : found)
            for (const Range& range : ranges)
                box(line, range.start, range.end);
        // A short piece between two keys, blanks around it, is a piece of one key read apart where the boxes of its
        // letters are too uneven to tell a made-up blank ("...eyJzdMl ii JocHHifQ..."): covered with them.
        std::vector<Range> keys;
        for (size_t p = found.size() > patternCount ? patternCount - 2 : found.size();
             p <= patternCount && p < found.size(); ++p)
            keys.insert(keys.end(), found[p].begin(), found[p].end());
        keys = outermost(std::move(keys));
        for (size_t k = 0; k + 1 < keys.size(); ++k) {
            const QStringView between = QStringView(line.text).mid(keys[k].end, keys[k + 1].start - keys[k].end);
            const QStringView piece = between.trimmed();
            if (!piece.isEmpty() && piece.size() <= 4 && between.front().isSpace() && between.back().isSpace() &&
                std::all_of(piece.begin(), piece.end(), keyCharacter))
                box(line, keys[k].end, keys[k + 1].start);
        }
        // A secret that a wrap split: the line read on into the next one, a blank between that is only made up
        // where the break fell inside a word. What crosses the break is covered on both lines.
        const int following = wraps[i].next;
        if (following < 0 || !lines[size_t(following)].candidate)
            continue;
        const Line& next = lines[size_t(following)];
        // A row that opens with a link's scheme ("https://", its colon or first letters lost to the reading, a blank
        // made up before its slashes) starts
        // afresh: a key's characters hold no slashes, so nothing of a key on the row above goes on there. A web token
        // ending the widest row of a window would otherwise run on into the scheme's letters. So does a path from
        // one of the system's top folders ("/usr/local/bin/...").
        static const QRegularExpression scheme(QStringLiteral(
            R"(^\s*(?:[^\s\w]?[A-Za-z]{1,8}[:;.,0Oo]? ?//|/(?:usr|home|etc|var|opt|tmp|srv|mnt|root|bin|lib)/))"));
        if (scheme.match(next.text).hasMatch())
            continue;
        // A row that opens with a setting's name ("STRIPE_PUBLIC=pk_test_...") starts afresh: keys as long as each
        // other end their rows at one column, which the reading takes for the terminal's edge. What runs on is
        // covered past the name, which stays readable.
        static const QRegularExpression setting(QStringLiteral(R"(^\s*[A-Z][A-Z0-9]*(?:_[A-Z0-9]+)+=)"));
        const qsizetype named = std::max<qsizetype>(0, setting.match(next.text).capturedEnd());
        const auto boxNext = [&](qsizetype from, qsizetype to) { box(next, std::max(from, named), to); };
        // A key that runs to the end of a line broken inside a word goes on in the next line's first word, however
        // badly either half was read.
        qsizetype lineEnd = line.text.size();
        while (lineEnd > 0 && line.text[lineEnd - 1].isSpace())
            --lineEnd;
        qsizetype start = 0;
        while (start < next.text.size() && next.text[start].isSpace())
            ++start;
        qsizetype end = start;
        while (end < next.text.size() && !next.text[end].isSpace())
            ++end;
        const qsizetype runEnd = keyRunEnd(next.text, end);
        // One character alone gives nothing away, and is what a terminal's hollow cursor under the last row reads as.
        if (wraps[i].tight && !keys.empty() && keys.back().end >= lineEnd && runEnd - start >= 2)
            boxNext(start, runEnd);
        // So does a few characters' piece alone at a terminal's edge, when the next row opens with what reads as a
        // key, though each half was misread too badly to be one with the other ("AKT" | "'1OS2KZQ643ZHXFXQD").
        const QStringView piece = QStringView(line.text).trimmed();
        QStringView head = QStringView(next.text).mid(start, end - start);
        // A bitmap face's small letter at the row's start may read as a mark of its own ("#98583a8e...", "<¥xi9tS1").
        if (head.size() > 1 && !keyCharacter(head.front()) && head.front().isPrint() && keyCharacter(head[1]))
            head = head.mid(1);
        const QString body = keyHeadThroughMarks(head);
        if (wraps[i].tight && !piece.isEmpty() && piece.size() <= 12 && !piece.contains(u' ') &&
            std::count_if(piece.begin(), piece.end(), [](QChar c) { return c.isLetterOrNumber(); }) >= 2 &&
            body.size() >= 8 && keyLike(body)) {
            box(line, piece.data() - line.text.data(), lineEnd);
            boxNext(start, runEnd);
        }
        // An address the edge cut at its at sign, the sign lost to the reading or read as a letter ("ops.eadfa" |
        // "mail.example.org"): the row ends in what reads as an address's local part, and the next opens with a domain.
        static const QRegularExpression domain(
            QStringLiteral(R"(^[A-Za-z0-9\-]+(?:[.,][A-Za-z0-9\-]+)*[.,][A-Za-z]{2,6}[.,;:]?$)"));
        qsizetype localStart = lineEnd;
        while (localStart > 0 && (addressCharacter(line.text[localStart - 1]) || line.text[localStart - 1] == u'.'))
            --localStart;
        const QStringView local = QStringView(line.text).mid(localStart, lineEnd - localStart);
        if (wraps[i].tight && local.size() >= 2 && (localStart == 0 || line.text[localStart - 1].isSpace()) &&
            std::any_of(local.begin(), local.end(),
                        [](QChar c) { return c == u'.' || c == u'_' || c == u'+' || c.isDigit(); }) &&
            local.back().isLetterOrNumber() &&
            domain.match(QStringView(next.text).mid(start, end - start)).hasMatch()) {
            box(line, localStart, lineEnd);
            boxNext(start, end);
        }
        const qsizetype joint = line.text.size();
        std::vector<bool> joinedBlanks = madeUp;
        joinedBlanks.push_back(wraps[i].tight);
        std::vector<bool> nextBlanks = madeUpUnits(next);
        // A speck at the window's left edge reads as a quote or a bar before the row's first character; where the
        // break fell inside a word it is no part of what runs on.
        if (wraps[i].tight) {
            qsizetype first = 0;
            while (first < next.text.size() && next.text[first].isSpace())
                ++first;
            if (first + 1 < next.text.size() && specks().contains(next.text[first]) &&
                keyCharacter(next.text[first + 1]))
                nextBlanks[size_t(first)] = true;
        }
        joinedBlanks.insert(joinedBlanks.end(), nextBlanks.begin(), nextBlanks.end());
        for (const std::vector<Range>& ranges : sensitiveRanges(line.text + u' ' + next.text, joinedBlanks))
            for (const Range& range : ranges)
                if (range.start < joint && range.end > joint + 2) {
                    box(line, range.start, joint);
                    boxNext(0, range.end - joint - 1);
                }
    }
    addressesAcrossGaps(lines, findings);
    return findings;
}

QRectF grownBox(const QRectF& finding, QSize pixels) {
    const double W = pixels.width(), H = pixels.height();
    const QRectF scaled(finding.x() * W, finding.y() * H, finding.width() * W, finding.height() * H);
    const double dx = 0.003 * H, dy = 0.004 * H;
    return scaled.adjusted(-dx, -dy, dx, dy);
}

QImage paintBoxes(const QImage& image, const std::vector<QRectF>& boxes) {
    QImage surface = surfaceFor(image);
    const double W = image.width(), H = image.height();
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const QRectF& box : boxes)
        fill(painter, QRectF(box.x() * W, box.y() * H, box.width() * W, box.height() * H), image.height());
    painter.end();
    return surface;
}

Redaction redactFindings(const QImage& image, const std::vector<QRectF>& findings) {
    if (findings.empty())
        return {image, {}};
    QImage surface = surfaceFor(image);
    const double W = image.width(), H = image.height();
    std::vector<QRectF> boxes;
    boxes.reserve(findings.size());
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const QRectF& finding : findings) {
        const QRectF grown = grownBox(finding, image.size());
        boxes.emplace_back(grown.x() / W, grown.y() / H, grown.width() / W, grown.height() / H);
        fill(painter, grown, image.height());
    }
    painter.end();
    return {surface, boxes};
}

Redaction redactReading(const QImage& image, const std::function<std::vector<Line>(const QImage&)>& read, int reads) {
    Redaction result = redactFindings(image, sensitiveFindings(read(image)));
    // What recognition read apart, boxed short or misread the first time can read as sensitive once the
    // rest is covered.
    for (int look = 1; look < reads && !result.boxes.empty(); ++look) {
        Redaction more = redactFindings(result.image, sensitiveFindings(read(result.image)));
        if (more.boxes.empty())
            break;
        result.image = std::move(more.image);
        result.boxes.insert(result.boxes.end(), more.boxes.begin(), more.boxes.end());
    }
    return result;
}

} // namespace TextVision
