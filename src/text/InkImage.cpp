#include "text/InkImage.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace TextVision {

namespace {

// A pixel is open ground when it lies in a run of one colour at least this long both across and
// down: panels, bubbles and margins are, the strokes of text up to bold headings are not.
constexpr int groundRun = 8;
constexpr int sameColour = 3;   // per channel, what still counts as one colour (dithering, JPEG)
constexpr double fullInk = 255; // the difference from the ground is the ink, as the picture shows it

bool alike(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= sameColour && std::abs(qGreen(a) - qGreen(b)) <= sameColour &&
           std::abs(qBlue(a) - qBlue(b)) <= sameColour;
}

// For each pixel, the length of the run of alike pixels it belongs to along one direction.
void runLengths(const std::vector<QRgb>& px, int w, int h, bool across, std::vector<uint8_t>& out) {
    const int lines = across ? h : w, length = across ? w : h;
    const size_t step = across ? 1 : size_t(w);
    for (int l = 0; l < lines; ++l) {
        const size_t first = across ? size_t(l) * size_t(w) : size_t(l);
        int start = 0;
        for (int i = 1; i <= length; ++i) {
            if (i < length && alike(px[first + size_t(i) * step], px[first + size_t(i - 1) * step]))
                continue;
            const auto run = uint8_t(std::min(i - start, 255));
            for (int k = start; k < i; ++k)
                out[first + size_t(k) * step] = run;
            start = i;
        }
    }
}

int difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
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

    std::vector<uint8_t> across(n), down(n);
    runLengths(px, w, h, true, across);
    runLengths(px, w, h, false, down);

    // Every pixel takes the colour of the nearest open ground (two chamfer passes).
    constexpr uint16_t far = 0xffff;
    std::vector<uint16_t> distance(n, far);
    std::vector<QRgb> ground(n, qRgb(255, 255, 255));
    bool any = false;
    for (size_t i = 0; i < n; ++i)
        if (across[i] >= groundRun && down[i] >= groundRun) {
            distance[i] = 0;
            ground[i] = px[i];
            any = true;
        }
    across = {};
    down = {};
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
            const double ink = std::min(255.0, difference(px[i], ground[i]) * 255.0 / fullInk);
            row[x] = uchar(255 - int(ink));
        }
    }
    return out;
}

} // namespace TextVision
