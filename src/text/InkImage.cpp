#include "text/InkImage.h"

#include "text/SharedWork.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace TextVision {

namespace {

// A pixel is open ground when the square of this radius around it is all one colour: panels,
// bubbles and margins are, the strokes and joints of text up to bold headings are not.
constexpr int groundRadius = 4;
constexpr int sameColour = 3; // per channel, what still counts as one colour (dithering, JPEG)

bool alike(QRgb a, QRgb b) {
    // Most neighbours on a screen are exactly the same colour.
    if (a == b)
        return true;
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

QImage opaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

// The strokes of a large bold heading on a doubled screen are wider than the square that tells open
// ground, so the middle of each stroke passes for ground of the letters' colour, and the letters come
// out hollow. Open ground lies in patches several times wider than that square is, joined up to the
// margins and panels; what is nowhere more than a few pixels across either way, and joins no such
// patch, is the inside of a stroke. Returns whether any open ground is left.
bool dropStrokeCores(std::vector<uint16_t>& distance, std::vector<QRgb>& ground, int w, int h) {
    constexpr int deep = 6; // a stroke of up to 14 pixels leaves no more than this of open ground across
    const size_t n = size_t(w) * size_t(h);
    const auto at = [w](int x, int y) { return size_t(y) * size_t(w) + size_t(x); };
    const auto open = [&](size_t i) { return distance[i] == 0; };
    // Open ground in a run longer than `deep` across, then (in slices of columns) down as well.
    std::vector<uint8_t> reached(n, 0);
    shareRows(h, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            for (int x = 0; x < w;) {
                if (!open(at(x, y))) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < w && open(at(x, y)))
                    ++x;
                if (x - start > deep)
                    std::fill_n(&reached[at(start, y)], x - start, uint8_t(1));
            }
    });
    shareRows(w, [&](int first, int end) {
        std::vector<int> start(size_t(end - first), -1);
        for (int y = 0; y <= h; ++y)
            for (int x = first; x < end; ++x) {
                int& top = start[size_t(x - first)];
                if (y < h && open(at(x, y))) {
                    if (top < 0)
                        top = y;
                    continue;
                }
                if (top >= 0 && y - top <= deep)
                    for (int r = top; r < y; ++r)
                        reached[at(x, r)] = 0;
                top = -1;
            }
    });
    // Open ground joined to a patch wide both ways stays ground; a sweep each way reaches all but
    // the most winding strips, which take the colour of the ground nearest them instead.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = at(x, y);
            if (!reached[i] && open(i) && ((x > 0 && reached[i - 1]) || (y > 0 && reached[i - size_t(w)])))
                reached[i] = 1;
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = at(x, y);
            if (!reached[i] && open(i) && ((x + 1 < w && reached[i + 1]) || (y + 1 < h && reached[i + size_t(w)])))
                reached[i] = 1;
        }
    std::atomic<bool> left = false;
    shareRows(h, [&](int first, int end) {
        bool any = false;
        for (size_t i = at(0, first); i < at(0, end); ++i) {
            if (open(i) && !reached[i]) {
                distance[i] = 0xffff;
                ground[i] = qRgb(255, 255, 255);
            }
            any = any || open(i);
        }
        if (any)
            left = true;
    });
    return left;
}

} // namespace

QImage inkImage(const QImage& image) {
    const QImage flat = opaque(image);
    const int w = flat.width(), h = flat.height();
    const size_t n = size_t(w) * size_t(h);
    const auto* bits = reinterpret_cast<const QRgb*>(flat.constBits());
    const size_t stride = size_t(flat.bytesPerLine()) / sizeof(QRgb);
    const auto pixel = [bits, stride](int x, int y) { return bits[size_t(y) * stride + size_t(x)]; };

    // Colour changes to the right or below, then their count over a window across and down:
    // where a whole square holds none, the pixel is open ground.
    const int side = 2 * groundRadius;
    std::vector<uint8_t> across(n);
    shareRows(h, [&](int first, int end) {
        std::vector<uint8_t> change(static_cast<size_t>(w));
        for (int y = first; y < end; ++y) {
            for (int x = 0; x < w; ++x)
                change[size_t(x)] = (x + 1 < w && !alike(pixel(x, y), pixel(x + 1, y))) ||
                                    (y + 1 < h && !alike(pixel(x, y), pixel(x, y + 1)));
            uint8_t* row = &across[size_t(y) * size_t(w)];
            int sum = 0;
            for (int x = 0; x < w; ++x) {
                sum += change[size_t(x)];
                if (x >= side)
                    sum -= change[size_t(x - side)];
                row[x] = uint8_t(std::min(sum, 255));
            }
        }
    });
    constexpr uint16_t far = 0xffff;
    std::vector<uint16_t> distance(n, far);
    std::vector<QRgb> ground(n, qRgb(255, 255, 255));
    std::atomic<bool> any = false;
    shareRows(h, [&](int first, int end) {
        // Column sums over the last `side` rows, started `side` rows above the slice.
        std::vector<int> sum(static_cast<size_t>(w), 0);
        bool found = false;
        const int start = std::max(0, first - side);
        for (int y = start; y < end; ++y) {
            const uint8_t* row = &across[size_t(y) * size_t(w)];
            const uint8_t* gone = y - side >= start ? &across[size_t(y - side) * size_t(w)] : nullptr;
            for (int x = 0; x < w; ++x) {
                sum[size_t(x)] += row[x] - (gone ? gone[x] : 0);
                // The window just summed ends at (x, y); its centre is the pixel tested.
                if (y >= first && y >= side && x >= side && sum[size_t(x)] == 0) {
                    const size_t i = size_t(y - groundRadius) * size_t(w) + size_t(x - groundRadius);
                    distance[i] = 0;
                    ground[i] = pixel(x - groundRadius, y - groundRadius);
                    found = true;
                }
            }
        }
        if (found)
            any = true;
    });
    across = {};
    if (any)
        any = dropStrokeCores(distance, ground, w, h);
    if (!any) {
        // No open ground at all (a photograph, a tiny crop): the picture's corner stands in.
        std::fill(ground.begin(), ground.end(), pixel(0, 0));
        std::fill(distance.begin(), distance.end(), 0);
    }

    // Ground runs on through every pixel of its own colour next to it: a highlighted row only a
    // little taller than its letters holds no open square above or below them, and its letters
    // would otherwise take the ground outside the row, nearer than the row's own between its words.
    // A pass down and one back up reach the strips over and under the letters from the gaps
    // between words.
    auto spread = [&](size_t i, size_t from, QRgb colour) {
        if (distance[from] == 0 && alike(colour, ground[from])) {
            distance[i] = 0;
            ground[i] = ground[from];
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x > 0)
                spread(i, i - 1, pixel(x, y));
            if (y > 0 && distance[i] != 0)
                spread(i, i - size_t(w), pixel(x, y));
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
            if (x + 1 < w)
                spread(i, i + 1, pixel(x, y));
            if (y + 1 < h && distance[i] != 0)
                spread(i, i + size_t(w), pixel(x, y));
        }

    // Every pixel takes the colour of the nearest ground (two chamfer passes).
    auto relax = [&](size_t i, size_t from, uint16_t cost) {
        if (distance[from] != far && distance[from] + cost < distance[i]) {
            distance[i] = uint16_t(std::min(int(far) - 1, distance[from] + cost));
            ground[i] = ground[from];
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (distance[i] == 0)
                continue;
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
            if (distance[i] == 0)
                continue;
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
    shareRows(h, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            uchar* row = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * size_t(w) + size_t(x);
                int ink = distance[i] == 0 ? 0 : difference(pixel(x, y), ground[i]);
                // Where two grounds meet (a bubble's rim, a selected row's edge) the pixels blend
                // the two; that is an edge, not ink, and would read as a bar or a bracket.
                for (int dy = -2; dy <= 2 && ink > 0; ++dy)
                    for (int dx = -2; dx <= 2 && ink > 0; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const QRgb other = ground[size_t(ny) * size_t(w) + size_t(nx)];
                        if (other != ground[i])
                            ink = std::min(ink, blendResidual(pixel(x, y), ground[i], other));
                    }
                row[x] = uchar(255 - ink);
            }
        }
    });
    return out;
}

} // namespace TextVision
