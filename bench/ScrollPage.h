#pragma once
// The page the scroll benchmarks move over: text-like lines with a few picture blocks.

#include <QImage>

#include <algorithm>
#include <random>

// A page of text-like lines (dark runs whose grey changes every row) with a few picture blocks.
inline QImage makePage(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    auto run = [&](int y, int x0, int x1, QRgb c) {
        QRgb* line = reinterpret_cast<QRgb*>(page.scanLine(y));
        std::fill(line + x0, line + x1, c);
    };
    const int scale = width / 960;
    int y = 10;
    while (y < height) {
        if (rng() % 12 == 0) {
            const int rows = (30 + int(rng() % 60)) * scale;
            for (int k = 0; k < rows && y + k < height; ++k)
                run(y + k, 40 * scale, width - 40 * scale, qRgb(int(rng() % 256), int(rng() % 256), int(rng() % 256)));
            y += rows + 10 * scale;
            continue;
        }
        const int lineRows = (8 + int(rng() % 9)) * scale;
        int x = (16 + int(rng() % 24)) * scale;
        while (x < width - 40 * scale) {
            const int w = std::min(width - 40 * scale - x, (12 + int(rng() % 70)) * scale);
            for (int k = 0; k < lineRows && y + k < height; ++k) {
                const int grey = int(rng() % 170);
                run(y + k, x, x + w, qRgb(grey, grey, grey + 40));
            }
            x += w + (6 + int(rng() % 14)) * scale;
        }
        y += lineRows + (4 + int(rng() % 9)) * scale;
    }
    return page;
}
