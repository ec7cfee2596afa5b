#include "text/Redaction.h"

#include "imaging/UserError.h"

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
// "sk _live", an underscore read as a blank ("sk live"), a long key cut in two. The patterns are
// also tried on the line with such blanks taken out, and each finding maps back to the whole
// stretch of the line it came from.
struct Squeezed {
    QString text;
    // For each unit of text, where it stands in the line.
    std::vector<qsizetype> origin;
};

bool keyCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'-';
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

// A key's prefix, perhaps with the short word that names its kind ("sk", "sk_", "sk_live_"), too
// short to be a key by itself.
bool keyPrefix(QStringView tail) {
    static const QRegularExpression prefix(
        QStringLiteral(R"(^(?:sk|pk|rk|ghp|gho|xox[bap]|AKIA|AIza)[_-]?(?:[A-Za-z]{2,5}[_-]?)?$)"));
    return prefix.match(tail).hasMatch();
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
    // The dots of a dotted token ("header.payload.signature") read apart: "...J9 . kZx2", "...J9. SflK".
    if (word == u"." && keyLike(keyTail(before)))
        return true;
    if (last == u'.' && keyLike(keyTail(before.chopped(1))) && keyLike(keyHead(word)))
        return true;
    // "example. com", "example .com"; a sentence's next word starts with a capital.
    if (last == u'.' && before.size() > 1 && before[before.size() - 2].isLetterOrNumber() &&
        (first.isLower() || first.isDigit()))
        return true;
    if (first == u'.' && word.size() > 1 && word[1].isLetterOrNumber() && last.isLetterOrNumber())
        return true;
    if (keyPrefix(keyTail(before)) &&
        (keyLike(keyHead(word)) || (kindWord(word) && !after.isEmpty() && keyLike(keyHead(after)))))
        return true;
    // The second half of a key cut in two may be capitals alone ("...a7eZSWOj KFMBWY").
    const QStringView rest = keyHead(word);
    const bool capitals =
        rest.size() >= 4 && std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isUpper() || c.isDigit(); });
    return keyLike(keyTail(before)) && (capitals || keyLike(rest));
}

Squeezed squeeze(const QString& text) {
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
    auto keep = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
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
        if (w + 1 < words.size() && slip(joined, view(w + 1), view(w + 2)))
            continue;
        joined.clear();
        keep(words[w].end, gapEnd);
    }
    return out;
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

// A key runs on to the end of the word it was found in when the recogniser misread a character
// of it ("Tj|KQf" for "TjjKQf"), and back over the key characters before it ("AIzaSyD-" before
// the part long enough to be found).
Range wholeKey(const QString& text, Range range) {
    // Back over the earlier parts of a dotted token too: found by its long last part, it is still one secret.
    while (range.start > 0 &&
           (keyCharacter(text[range.start - 1]) ||
            (text[range.start - 1] == u'.' && range.start > 1 && keyCharacter(text[range.start - 2]))))
        --range.start;
    while (range.end < text.size() && !text[range.end].isSpace())
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

std::vector<QRectF> sensitiveFindings(const std::vector<Line>& lines) {
    // The listed patterns, then dotted tokens; the last two listed and the dotted tokens are keys.
    const std::vector<QRegularExpression>& listed = sensitivePatterns();
    std::vector<std::pair<const QRegularExpression*, bool>> patterns;
    for (size_t p = 0; p < listed.size(); ++p)
        patterns.emplace_back(&listed[p], listed.size() == patternCount && p + 2 >= patternCount);
    patterns.emplace_back(&dottedToken(), true);
    std::vector<QRectF> findings;
    for (const Line& line : lines) {
        if (!line.candidate)
            continue;
        const Squeezed squeezed = squeeze(line.text);
        for (const auto& [pattern, key] : patterns) {
            std::vector<Range> ranges;
            auto matches = pattern->globalMatch(line.text);
            while (matches.hasNext()) {
                const QRegularExpressionMatch match = matches.next();
                ranges.push_back({match.capturedStart(), match.capturedEnd()});
            }
            if (squeezed.text.size() != line.text.size()) {
                auto more = pattern->globalMatch(squeezed.text);
                while (more.hasNext()) {
                    const QRegularExpressionMatch match = more.next();
                    if (match.capturedLength() > 0)
                        ranges.push_back({squeezed.origin[size_t(match.capturedStart())],
                                          squeezed.origin[size_t(match.capturedEnd() - 1)] + 1});
                }
            }
            if (key)
                for (Range& range : ranges)
                    range = wholeKey(line.text, range);
            if (key || squeezed.text.size() != line.text.size())
                ranges = outermost(std::move(ranges));
            for (const Range& range : ranges)
                if (auto box = line.candidate->boundingBox(range.start, range.end - range.start))
                    findings.push_back(*box);
        }
    }
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
