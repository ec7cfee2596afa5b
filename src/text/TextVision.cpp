#include "text/TextVision.h"

#include "text/Barcodes.h"
#include "text/OcrEngine.h"
#include "text/Redaction.h"
#include "text/SuggestedName.h"
#include "text/TextLayout.h"

#include <QRegularExpression>

namespace TextVision {

std::vector<Line> lines(const QImage& image) {
    return recognise(image);
}

QString text(const QImage& image) {
    std::vector<QRectF> rules;
    const std::vector<Line> read = recognise(image, {.rules = &rules});
    return fullText(read, rules);
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

std::pair<QImage, std::vector<QRectF>> redactWithBoxes(const QImage& image) {
    Redaction result = redactReading(image, [](const QImage& picture) { return lines(picture); });
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
