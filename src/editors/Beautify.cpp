#include "editors/Beautify.h"

#include "editors/Backdrop.h"
#include "editors/CustomColors.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One running-sum box pass of width 2 r + 1 along rows (or columns), edges clamped to zero beyond.
void boxPass(std::vector<float>& data, int w, int h, int r, bool rows) {
    if (r <= 0)
        return;
    const int lines = rows ? h : w;
    const int length = rows ? w : h;
    const int stride = rows ? 1 : w;
    std::vector<float> line(size_t(length) + 1);
    const float norm = 1.0f / float(2 * r + 1);
    for (int l = 0; l < lines; ++l) {
        float* base = data.data() + (rows ? size_t(l) * w : size_t(l));
        line[0] = 0;
        for (int i = 0; i < length; ++i)
            line[i + 1] = line[i] + base[size_t(i) * stride];
        for (int i = 0; i < length; ++i) {
            const int lo = std::max(0, i - r);
            const int hi = std::min(length, i + r + 1);
            base[size_t(i) * stride] = (line[hi] - line[lo]) * norm;
        }
    }
}

} // namespace

QSize Beautify::outputSize(QSize picture, double padding) {
    const double longer = std::max(picture.width(), picture.height());
    const qint64 pad = std::llround(padding * longer);
    return QSize(int(picture.width() + 2 * pad), int(picture.height() + 2 * pad));
}

void Beautify::drawClipped(QPainter& painter, const QPainterPath& shape, const QImage& picture, QPointF at) {
    // A brush rather than a clip: clip paths have hard edges, a filled path is antialiased.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QBrush brush(picture);
    brush.setTransform(QTransform::fromTranslate(at.x(), at.y()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush);
    painter.drawPath(shape);
    painter.restore();
}

QImage Beautify::shadow(QSize size, const QPainterPath& shape, const QImage& picture, QPointF at, double blur,
                        double opacity) {
    const double sigma = blur / 2;
    // The shadow is soft: a reduced mask blurs as well and far faster.
    const int factor = sigma >= 16 ? 4 : sigma >= 6 ? 2 : 1;
    const int w = std::max(1, (size.width() + factor - 1) / factor);
    const int h = std::max(1, (size.height() + factor - 1) / factor);
    QImage mask(w, h, QImage::Format_ARGB32_Premultiplied);
    if (mask.isNull())
        return QImage();
    mask.fill(Qt::transparent);
    {
        QPainter painter(&mask);
        painter.scale(1.0 / factor, 1.0 / factor);
        drawClipped(painter, shape, picture, at);
    }
    std::vector<float> data(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < w; ++x)
            data[size_t(y) * w + x] = float(qAlpha(row[x]));
    }
    // Three box passes of equal width approach a Gaussian of this sigma.
    const double s = sigma / factor;
    const int r = int(std::lround((std::sqrt(12.0 * s * s / 3 + 1) - 1) / 2));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(data, w, h, r, true);
        boxPass(data, w, h, r, false);
    }
    QImage small(w, h, QImage::Format_ARGB32_Premultiplied);
    if (small.isNull())
        return QImage();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(small.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = std::clamp(int(std::lround(data[size_t(y) * w + x] * opacity)), 0, 255);
            row[x] = qRgba(0, 0, 0, a);
        }
    }
    if (factor == 1)
        return small;
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return QImage();
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, double(w) * factor, double(h) * factor), small);
    return out;
}

std::optional<QImage> Beautify::render(const QImage& picture, const BackdropStyle& given) {
    if (picture.isNull())
        return std::nullopt;
    const BackdropStyle style = given.clamped();
    const int W = picture.width();
    const int H = picture.height();
    const double L = std::max(W, H);
    const int pad = int(std::llround(style.padding * L));
    const QSize size = outputSize(picture.size(), style.padding);
    if (qint64(size.width()) * size.height() > pixelBudget)
        return std::nullopt;
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return std::nullopt;
    out.fill(Qt::transparent);

    std::optional<QList<QColor>> stops;
    double angle = 0;
    if (style.customHex)
        if (const std::optional<QColor> colour = CustomColors::color(*style.customHex))
            stops = QList<QColor>{*colour, *colour};
    if (!stops) {
        const Backdrop::Fill& fill = Backdrop::all().at(style.fill);
        stops = fill.colors;
        angle = fill.angle;
    }

    QPainter painter(&out);
    if (stops && !stops->isEmpty())
        painter.fillRect(out.rect(), Backdrop::gradient(QRectF(out.rect()), *stops, angle));

    const QRectF pictureRect(pad, pad, W, H);
    const double radius = std::min({style.corners * L, W / 2.0, H / 2.0});
    QPainterPath clip;
    clip.addRoundedRect(pictureRect, radius, radius);

    if (style.shadow) {
        // The rounded picture as one piece: its alpha casts the shadow.
        const QImage cast = shadow(size, clip, picture, pictureRect.topLeft(), 0.045 * L, 0.4);
        if (!cast.isNull())
            painter.drawImage(QPointF(0, 0.012 * L), cast);
    }
    drawClipped(painter, clip, picture, pictureRect.topLeft());
    painter.end();
    return out;
}
