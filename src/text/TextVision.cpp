#include "text/TextVision.h"

#include "text/Barcodes.h"
#include "text/LineGeometry.h"
#include "text/OcrEngine.h"
#include "text/Redaction.h"
#include "text/SuggestedName.h"
#include "text/TextLayout.h"
#include "text/TextTurn.h"

#include <QPainter>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <optional>

namespace TextVision {

std::vector<Line> lines(const QImage& image) {
    return recognise(image);
}

namespace {

// The turn that stands text running up or down upright; the engine's detection is asked only where the gaps
// between lines leave that open.
int sidewaysTurn(const QImage& image) {
    return mayRunUpOrDown(image) ? textTurn(image) : 0;
}

// Whether a reading holds words a person reads. Text that runs up or down, read across, comes out as specks of
// one or two marks ("YO z= vo o» Qa"): few of its pieces hold three letters or digits.
bool readsAsWords(const QString& read) {
    static const QRegularExpression piece(QStringLiteral(R"(\S+)"), QRegularExpression::UseUnicodePropertiesOption);
    int pieces = 0, words = 0;
    for (auto matches = piece.globalMatch(read); matches.hasNext();) {
        const QString text = matches.next().captured(0);
        ++pieces;
        words += std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); }) >= 3;
    }
    return pieces > 0 && words * 4 >= pieces;
}

QString readText(const QImage& image) {
    std::vector<QRectF> rules;
    const std::vector<Line> read = recognise(image, {.rules = &rules});
    return fullText(read, rules);
}

} // namespace

QString text(const QImage& image, int shownTurn) {
    // A page shown turned reads as it was set, upright; as it is shown after all when that reads no words.
    if (shownTurn % 360 != 0) {
        QString upright = text(turned(image, 360 - shownTurn));
        if (readsAsWords(upright))
            return upright;
        if (QString shown = text(image); readsAsWords(shown) || upright.isEmpty())
            return shown;
        return upright;
    }
    // Text that runs up or down is read the way it runs; as it stands after all when that reads nothing.
    if (const int turn = sidewaysTurn(image); turn != 0)
        if (QString read = readText(turned(image, turn)); !read.isEmpty())
            return read;
    QString read = readText(image);
    // A line or two that runs up or down is too little for the detection to tell: when the reading as it stands
    // holds no words, each way is read.
    if (!read.isEmpty() && !readsAsWords(read))
        for (const int turn : {90, 270})
            if (QString other = readText(turned(image, turn)); readsAsWords(other))
                return other;
    return read;
}

QString mainText(const QImage& image) {
    return mainText(lines(image));
}

std::vector<std::vector<QRectF>> wordBoxes(const std::vector<Line>& lines, QSize pixels) {
    static const QRegularExpression word(QStringLiteral(R"(\S+)"), QRegularExpression::UseUnicodePropertiesOption);
    const double W = pixels.width(), H = pixels.height();
    std::vector<std::vector<QRectF>> out;
    for (const Line& line : lines) {
        if (!line.candidate)
            continue;
        std::vector<QRectF> boxes;
        auto matches = word.globalMatch(line.text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            if (auto box = line.candidate->boundingBox(match.capturedStart(), match.capturedLength()))
                boxes.emplace_back(box->x() * W, box->y() * H, box->width() * W, box->height() * H);
        }
        if (!boxes.empty())
            out.push_back(std::move(boxes));
    }
    return out;
}

std::vector<std::vector<QRectF>> wordBoxes(const QImage& image) {
    try {
        return wordBoxes(lines(image), image.size());
    } catch (const std::exception&) {
        return {};
    }
}

QStringList codes(const QImage& image) {
    return barcodePayloads(image);
}

namespace {

// Secrets are read where the engine is surest of each letter: small text enlarged to lines this high.
// It costs more than a reading for copying, but a redaction is one action the user waits for.
constexpr double carefulLineHeight = 30;

// The area of the picture on a margin of its own ground, as a piece of text stands on a page, or nothing where no
// ink stands there apart from the ground (a few pixels far from its commonest colour).
std::optional<QImage> inkOnGround(const QImage& picture, const QRect& area, int margin) {
    const QImage part = picture.copy(area).convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> colours;
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            ++colours[part.pixel(x, y)];
    const QRgb ground = std::max_element(colours.begin(), colours.end(), [](const auto& a, const auto& b) {
                            return a.second < b.second;
                        })->first;
    int ink = 0;
    for (const auto& [colour, n] : colours)
        if (std::max({std::abs(qRed(colour) - qRed(ground)), std::abs(qGreen(colour) - qGreen(ground)),
                      std::abs(qBlue(colour) - qBlue(ground))}) > 80)
            ink += n;
    if (ink < 6)
        return std::nullopt;
    QImage out(part.size() + QSize(2 * margin, 2 * margin), QImage::Format_RGB32);
    out.fill(ground);
    QPainter painter(&out);
    painter.drawImage(margin, margin, part);
    return out;
}

// A line read on a picture of the given area with a margin around it, its boxes put where they stand on the whole
// picture.
Line movedInto(const Line& line, const QRect& area, int margin, QSize pixels) {
    const double W = pixels.width(), H = pixels.height();
    const double w = area.width() + 2 * margin, h = area.height() + 2 * margin;
    const auto moved = [&](const QRectF& r) {
        return QRectF((area.x() - margin + r.x() * w) / W, (H - area.bottom() - 1 - margin + r.y() * h) / H,
                      r.width() * w / W, r.height() * h / H);
    };
    std::vector<QRectF> units(size_t(line.text.size()));
    for (qsizetype i = 0; i < line.text.size(); ++i)
        if (const std::optional<QRectF> box = line.candidate->boundingBox(i, 1))
            units[size_t(i)] = moved(*box);
    return {line.text, moved(line.box), std::make_shared<const Candidate>(line.text, std::move(units)), W / H};
}

// Read at three sizes: each has letters it slips on (a bitmap face's "l" read "1]", a "W" read "li", a
// blank made up in a long key) that another reads right. The enlarged reading's lines, and those of the
// usual and a smaller reading that hold a secret no reading before boxed whole.
std::vector<Line> carefulLines(const QImage& picture) {
    RecognitionOptions options;
    options.lineHeight = carefulLineHeight;
    RecognitionOptions smaller;
    smaller.lineHeight = carefulLineHeight / 2;
    std::vector<Line> lines =
        linesOfReadings({recognise(picture, options), recognise(picture), recognise(picture, smaller)}, picture.size());
    // A few characters a terminal left at the right edge before wrapping the rest stand far from anything else on
    // their row, and the whole picture's reading passes them over as specks; read by themselves they read.
    const std::vector<QRectF> ends = unreadRowEnds(lines);
    const double W = picture.width(), H = picture.height();
    int looks = 0;
    for (const QRectF& end : ends) {
        const QRect area = QRectF(end.x() * W, (1 - maxY(end)) * H, end.width() * W, end.height() * H)
                               .toAlignedRect()
                               .intersected(picture.rect());
        const int margin = area.height();
        const std::optional<QImage> piece =
            area.width() < 4 || area.height() < 4 ? std::nullopt : inkOnGround(picture, area, margin);
        if (!piece)
            continue;
        // Each look reads a small piece; a picture full of them is no terminal's wrap.
        if (++looks > 24)
            break;
        for (const Line& line : recognise(*piece, options))
            if (line.candidate && !line.text.trimmed().isEmpty())
                lines.push_back(movedInto(line, area, margin, picture.size()));
    }
    return lines;
}

// How light what the picture draws is, 0 to 255, weighed by its opacity; nothing where it is opaque
// throughout, for it shows its own ground.
std::optional<double> inkLightness(const QImage& image) {
    if (!image.hasAlphaChannel())
        return std::nullopt;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    double weight = 0, light = 0;
    bool through = false;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const int alpha = qAlpha(row[x]);
            through = through || alpha < 255;
            weight += alpha;
            light += alpha * qGray(row[x]);
        }
    }
    if (!through)
        return std::nullopt;
    return weight > 0 ? light / weight : 255.0;
}

QImage onGround(const QImage& image, QColor ground) {
    QImage shown(image.size(), QImage::Format_RGB32);
    shown.fill(ground);
    QPainter painter(&shown);
    painter.drawImage(0, 0, image);
    return shown;
}

// What a transparent part shows depends on where the picture is shown: white letters on nothing are
// plain on a dark card or viewer and invisible on a white page. Light drawing is read on a dark ground,
// dark drawing on white, and a picture of both on both: the lines only the dark ground shows join the others.
std::vector<Line> secretsReading(const QImage& image) {
    const std::optional<double> lightness = inkLightness(image);
    if (!lightness)
        return carefulLines(image);
    const QColor dark(8, 8, 8);
    if (*lightness > 160 || *lightness < 96)
        return carefulLines(onGround(image, *lightness > 160 ? dark : QColor(Qt::white)));
    std::vector<Line> read = carefulLines(onGround(image, Qt::white));
    const size_t light = read.size();
    for (Line& line : carefulLines(onGround(image, dark))) {
        // The same line read on both grounds.
        const bool again = std::any_of(read.begin(), read.begin() + qsizetype(light), [&](const Line& other) {
            const QRectF common = line.box.intersected(other.box);
            return !common.isEmpty() && common.width() * common.height() > 0.5 * line.box.width() * line.box.height();
        });
        if (!again)
            read.push_back(std::move(line));
    }
    return read;
}

// The painted picture as the first readings never saw it: each pixel by the channel that stands furthest from the
// picture's ground (coloured letters on dark are as bright as white ones then, and on light as dark as black),
// turned to dark letters on light, and read larger. What the first readings missed through a colour, a polarity or a
// size they slip on reads here.
std::vector<Line> checkReading(const QImage& painted) {
    const QImage rgb = painted.convertToFormat(QImage::Format_RGB32);
    qint64 light = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            light += qGray(row[x]);
    }
    const bool darkGround = light < qint64(128) * rgb.width() * rgb.height();
    QImage grey(rgb.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = qRed(row[x]), g = qGreen(row[x]), b = qBlue(row[x]);
            out[x] = uchar(darkGround ? 255 - std::max({r, g, b}) : std::min({r, g, b}));
        }
    }
    RecognitionOptions options;
    options.lineHeight = carefulLineHeight * 4 / 3;
    options.bands = 1;
    return recognise(grey, options);
}

} // namespace

CheckedRedaction redactChecked(const QImage& image, int shownTurn) {
    shownTurn = ((shownTurn % 360) + 360) % 360;
    // A page shown turned is read, and covered, as it was set; the covering is turned back with the picture. As it
    // is shown after all when that finds nothing: its drawing may have been set turned against the page's own turn.
    if (shownTurn != 0) {
        const int back = 360 - shownTurn;
        CheckedRedaction upright = redactChecked(turned(image, back));
        if (!upright.boxes.empty()) {
            upright.image = turned(upright.image, shownTurn);
            for (QRectF& box : upright.boxes)
                box = unturned(box, back);
            return upright;
        }
        CheckedRedaction shown = redactChecked(image);
        if (!shown.boxes.empty() || (readsAsWords(shown.text) && !readsAsWords(upright.text)))
            return shown;
        upright.image = image;
        return upright;
    }
    // Text that runs up or down is read, and covered, the way it runs; the covering is then turned back with the
    // picture. As it stands after all when that finds nothing.
    if (const int turn = sidewaysTurn(image); turn != 0) {
        CheckedRedaction read = redactChecked(turned(image, turn), secretsReading, checkReading);
        if (!read.boxes.empty()) {
            read.image = turned(read.image, 360 - turn);
            for (QRectF& box : read.boxes)
                box = unturned(box, turn);
            return read;
        }
    }
    CheckedRedaction read = redactChecked(image, secretsReading, checkReading);
    // Too little text for the detection to tell which way it runs, read as specks: each way is read.
    if (read.boxes.empty() && !read.text.isEmpty() && !readsAsWords(read.text)) {
        for (const int turn : {90, 270}) {
            CheckedRedaction other = redactChecked(turned(image, turn), secretsReading, checkReading);
            if (other.boxes.empty())
                continue;
            other.image = turned(other.image, 360 - turn);
            for (QRectF& box : other.boxes)
                box = unturned(box, turn);
            return other;
        }
    }
    return read;
}

namespace {

// The painted picture with each box filled in the ground around it in the picture before painting, as if nothing had
// stood there: a dark box beside light letters or on a light ground takes the characters it touches into a shape of
// its own for the recogniser, and what is left of a secret beside it is then never read.
QImage boxesOnGround(const QImage& painted, const QImage& original, const std::vector<QRectF>& boxes) {
    const QImage before = original.convertToFormat(QImage::Format_RGB32);
    QImage out = painted.convertToFormat(QImage::Format_RGB32);
    const double W = out.width(), H = out.height();
    QPainter painter(&out);
    for (const QRectF& box : boxes) {
        const QRect area = QRectF(box.x() * W, (1 - maxY(box)) * H, box.width() * W, box.height() * H)
                               .toAlignedRect()
                               .intersected(out.rect());
        if (area.isEmpty())
            continue;
        const QRect ring = area.adjusted(-2, -2, 2, 2).intersected(before.rect());
        std::map<QRgb, int> colours;
        for (int y = ring.top(); y <= ring.bottom(); ++y)
            for (int x = ring.left(); x <= ring.right(); ++x)
                if (!area.contains(x, y))
                    ++colours[before.pixel(x, y)];
        if (colours.empty())
            continue;
        const QRgb ground = std::max_element(colours.begin(), colours.end(), [](const auto& a, const auto& b) {
                                return a.second < b.second;
                            })->first;
        painter.fillRect(area, QColor::fromRgb(ground));
    }
    painter.end();
    return out;
}

} // namespace

namespace {

// The ink at the end of a row that no reading made out, where the next row opens with paint: the head of a secret the
// terminal wrapped, too few letters for the readings ("jAAr" of a link's token). Its box, normalised like the lines'.
std::vector<QRectF> unreadHeads(const QImage& image, const std::vector<Line>& lines, const std::vector<QRectF>& boxes) {
    double left = std::numeric_limits<double>::infinity();
    for (const Line& line : lines)
        if (!line.text.trimmed().isEmpty())
            left = std::min(left, minX(line.box));
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const double W = rgb.width(), H = rgb.height();
    std::vector<QRectF> out;
    for (const QRectF& end : unreadRowEnds(lines, true)) {
        // The stretch reaches a quarter of a row into the rows around it; the row itself is its middle.
        const double row = end.height() / 1.5;
        const QRectF own(end.x(), end.y() + 0.25 * row, end.width(), row);
        const bool paintedOn = std::any_of(boxes.begin(), boxes.end(), [&](const QRectF& box) {
            return minX(box) <= left + 1.5 * row && midY(box) < minY(own) && midY(box) > minY(own) - 1.5 * row;
        });
        const QRect area = QRectF(own.x() * W, (1 - maxY(own)) * H, own.width() * W, own.height() * H)
                               .toAlignedRect()
                               .intersected(rgb.rect());
        if (!paintedOn || area.width() < 4 || area.height() < 4)
            continue;
        std::map<QRgb, int> colours;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++colours[rgb.pixel(x, y)];
        const QRgb ground = std::max_element(colours.begin(), colours.end(), [](const auto& a, const auto& b) {
                                return a.second < b.second;
                            })->first;
        QRect ink;
        int dots = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb p = rgb.pixel(x, y);
                if (std::max({std::abs(qRed(p) - qRed(ground)), std::abs(qGreen(p) - qGreen(ground)),
                              std::abs(qBlue(p) - qBlue(ground))}) > 80) {
                    ink = ink.united(QRect(x, y, 1, 1));
                    ++dots;
                }
            }
        // A few dots are a speck, and a thin line across the stretch (the edge of a title bar over the first row, a
        // rule) is no letters: a head's letters stand a good part of the row tall.
        if (dots < 6 || ink.height() < area.height() / 4)
            continue;
        const QRectF found(ink.x() / W, 1 - (ink.bottom() + 1) / H, ink.width() / W, ink.height() / H);
        if (std::none_of(boxes.begin(), boxes.end(), [&](const QRectF& box) { return box.contains(found.center()); }))
            out.push_back(found);
    }
    return out;
}

} // namespace

CheckedRedaction redactChecked(const QImage& image, const std::function<std::vector<Line>(const QImage&)>& reader,
                               const std::function<std::vector<Line>(const QImage&)>& checker) {
    // The covering reads each painted picture in turn; the last of them is often the one checked.
    qint64 lastKey = 0;
    std::vector<Line> last;
    std::optional<std::vector<Line>> first;
    const auto read = [&](const QImage& picture) {
        if (picture.cacheKey() != lastKey || lastKey == 0) {
            last = reader(picture);
            lastKey = picture.cacheKey();
            if (!first)
                first = last;
        }
        return last;
    };
    Redaction result = redactReading(image, read);
    CheckedRedaction checked{std::move(result.image), std::move(result.boxes), false, {}, {}};
    for (const Line& line : first.value_or(std::vector<Line>())) {
        checked.text += line.text + u'\n';
        for (const QRegularExpression& pattern : sensitivePatterns())
            for (auto matches = pattern.globalMatch(line.text); matches.hasNext();)
                if (const QString match = matches.next().captured(0); !checked.secrets.contains(match))
                    checked.secrets.append(match);
    }
    if (checked.boxes.empty())
        return checked;
    checked.unsure = true;
    for (int look = 0; look < 2; ++look) {
        const std::vector<QRectF> left = sensitiveFindings(read(checked.image));
        if (left.empty()) {
            checked.unsure = false;
            break;
        }
        Redaction more = redactFindings(checked.image, left);
        // Found again where it is painted already: the reading sees through the paint, or makes it up.
        if (more.image == checked.image)
            break;
        checked.image = std::move(more.image);
        checked.boxes.insert(checked.boxes.end(), more.boxes.begin(), more.boxes.end());
    }
    // A wrapped secret found by its rest on the next row is covered at the end of the row before too.
    // What is left at such a row's end that no reading could tell may be its head too: said.
    bool doubtful = false;
    std::vector<QRectF> heads = wrappedHeads(first.value_or(std::vector<Line>()), checked.boxes, &doubtful);
    for (const QRectF& head : unreadHeads(image, first.value_or(std::vector<Line>()), checked.boxes))
        heads.push_back(head);
    if (!heads.empty()) {
        Redaction more = redactFindings(checked.image, heads);
        checked.image = std::move(more.image);
        checked.boxes.insert(checked.boxes.end(), more.boxes.begin(), more.boxes.end());
    }
    // Read as before, the painted picture hides nothing that reading missed the first time: the last look reads it
    // another way. What that finds is covered too, but it tells that the first readings missed something here, so
    // they may have missed more that no reading finds.
    // What is left of a secret beside the paint or at a row's end tells that the findings fell short, though no
    // pattern finds it.
    if (doubtful || remnantsBeside(read(checked.image), checked.boxes))
        checked.unsure = true;
    if (!checker)
        return checked;
    const std::vector<Line> checkLines = checker(boxesOnGround(checked.image, image, checked.boxes));
    if (remnantsBeside(checkLines, checked.boxes))
        checked.unsure = true;
    const std::vector<QRectF> missed = sensitiveFindings(checkLines);
    if (missed.empty())
        return checked;
    Redaction more = redactFindings(checked.image, missed);
    checked.unsure = true;
    checked.image = std::move(more.image);
    checked.boxes.insert(checked.boxes.end(), more.boxes.begin(), more.boxes.end());
    return checked;
}

std::pair<QImage, std::vector<QRectF>> redactWithBoxes(const QImage& image) {
    CheckedRedaction result = redactChecked(image);
    return {std::move(result.image), std::move(result.boxes)};
}

QImage paint(const QImage& image, const std::vector<QRectF>& boxes) {
    return paintBoxes(image, boxes);
}

std::optional<QString> suggestedName(const QImage& image) {
    try {
        return suggestedName(lines(image));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace TextVision
