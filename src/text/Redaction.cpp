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

} // namespace

const std::vector<QRegularExpression>& sensitivePatterns() {
    static const std::vector<QRegularExpression> patterns = [] {
        const char16_t* sources[] = {
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
    std::vector<QRectF> findings;
    for (const Line& line : lines) {
        if (!line.candidate)
            continue;
        for (const QRegularExpression& pattern : sensitivePatterns()) {
            auto matches = pattern.globalMatch(line.text);
            while (matches.hasNext()) {
                const QRegularExpressionMatch match = matches.next();
                if (auto box = line.candidate->boundingBox(match.capturedStart(), match.capturedLength()))
                    findings.push_back(*box);
            }
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

} // namespace TextVision
