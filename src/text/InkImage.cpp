#include "text/InkImage.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace TextVision {

namespace {

// A pixel is open ground when the square of this radius around it is all one colour: panels,
// bubbles and margins are, the strokes and joints of text up to bold headings are not.
constexpr int groundRadius = 4;
constexpr int sameColour = 3;   // per channel, what still counts as one colour (dithering, JPEG)
constexpr double fullInk = 255; // the difference from the ground is the ink, as the picture shows it

bool alike(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= sameColour && std::abs(qGreen(a) - qGreen(b)) <= sameColour &&
           std::abs(qBlue(a) - qBlue(b)) <= sameColour;
}

int difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// How far a colour lies from every blend of two others (max over channels).
int blendResidual(QRgb colour, QRgb a, QRgb b) {
    const double v[3] = {double(qRed(colour) - qRed(a)), double(qGreen(colour) - qGreen(a)),
                         double(qBlue(colour) - qBlue(a))};
    const double d[3] = {double(qRed(b) - qRed(a)), double(qGreen(b) - qGreen(a)), double(qBlue(b) - qBlue(a))};
    const double length = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double t = length > 0 ? std::clamp((v[0] * d[0] + v[1] * d[1] + v[2] * d[2]) / length, 0.0, 1.0) : 0;
    return int(std::max({std::abs(v[0] - t * d[0]), std::abs(v[1] - t * d[1]), std::abs(v[2] - t * d[2])}));
}

} // namespace

QImage inkImage(const QImage& image) {
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    const int w = flat.width(), h = flat.height();
    const size_t n = size_t(w) * size_t(h);
    std::vector<QRgb> px(n);
    for (int y = 0; y < h; ++y)
        std::copy_n(reinterpret_cast<const QRgb*>(flat.constScanLine(y)), w, px.begin() + qsizetype(y) * w);
    flat = QImage();

    // Summed counts of colour changes to the right or below, so any square is checked at once.
    std::vector<int32_t> changes(size_t(w + 1) * size_t(h + 1), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const bool change = (x + 1 < w && !alike(px[i], px[i + 1])) || (y + 1 < h && !alike(px[i], px[i + size_t(w)]));
            changes[size_t(y + 1) * size_t(w + 1) + size_t(x + 1)] = change + changes[size_t(y) * size_t(w + 1) + size_t(x + 1)] +
                                                                    changes[size_t(y + 1) * size_t(w + 1) + size_t(x)] -
                                                                    changes[size_t(y) * size_t(w + 1) + size_t(x)];
        }
    auto changesIn = [&](int left, int top, int right, int bottom) { // [left, right) x [top, bottom)
        const auto at = [&](int x, int y) { return changes[size_t(y) * size_t(w + 1) + size_t(x)]; };
        return at(right, bottom) - at(left, bottom) - at(right, top) + at(left, top);
    };

    // Every pixel takes the colour of the nearest open ground (two chamfer passes).
    constexpr uint16_t far = 0xffff;
    std::vector<uint16_t> distance(n, far);
    std::vector<QRgb> ground(n, qRgb(255, 255, 255));
    bool any = false;
    const int r = groundRadius;
    for (int y = r; y + r < h; ++y)
        for (int x = r; x + r < w; ++x)
            if (changesIn(x - r, y - r, x + r, y + r) == 0) {
                const size_t i = size_t(y) * size_t(w) + size_t(x);
                distance[i] = 0;
                ground[i] = px[i];
                any = true;
            }
    changes = {};
    if (!any) {
        // No open ground at all (a photograph, a tiny crop): the picture's corner stands in.
        std::fill(ground.begin(), ground.end(), px.front());
        std::fill(distance.begin(), distance.end(), 0);
    }
    auto relax = [&](size_t i, size_t from, uint16_t cost) {
        if (distance[from] != far && distance[from] + cost < distance[i]) {
            distance[i] = uint16_t(std::min(int(far) - 1, distance[from] + cost));
            ground[i] = ground[from];
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (x > 0)
                relax(i, i - 1, 2);
            if (y > 0) {
                relax(i, i - size_t(w), 2);
                if (x > 0)
                    relax(i, i - size_t(w) - 1, 3);
                if (x + 1 < w)
                    relax(i, i - size_t(w) + 1, 3);
            }
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (x + 1 < w)
                relax(i, i + 1, 2);
            if (y + 1 < h) {
                relax(i, i + size_t(w), 2);
                if (x + 1 < w)
                    relax(i, i + size_t(w) + 1, 3);
                if (x > 0)
                    relax(i, i + size_t(w) - 1, 3);
            }
        }

    QImage out(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* row = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            int ink = difference(px[i], ground[i]);
            // Where two grounds meet (a bubble's rim, a selected row's edge) the pixels blend
            // the two; that is an edge, not ink, and would read as a bar or a bracket.
            if (ink > 0 && distance[i] > 0)
                for (int dy = -2; dy <= 2 && ink > 0; ++dy)
                    for (int dx = -2; dx <= 2 && ink > 0; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const QRgb other = ground[size_t(ny) * size_t(w) + size_t(nx)];
                        if (other != ground[i])
                            ink = std::min(ink, blendResidual(px[i], ground[i], other));
                    }
            row[x] = uchar(255 - int(std::min(255.0, ink * 255.0 / fullInk)));
        }
    }
    return out;
}

} // namespace TextVision
