// Cost of lining up and joining one pair of scroll-capture frames, at 1080p and 2160p.

#include "card/Stitcher.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <random>

namespace {

// A page of text-like lines (dark runs whose grey changes every row) with a few picture blocks.
QImage makePage(int width, int height, unsigned seed) {
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

struct Pair {
    QImage prev, next;
    int scroll;
};

// Two window frames of the page, the second scrolled by a fifth of the height.
Pair framePair(int height) {
    const int width = height * 16 / 9;
    const int scroll = height / 5;
    const QImage page = makePage(width, height * 2, 1);
    return {page.copy(0, 0, width, height), page.copy(0, scroll, width, height), scroll};
}

void BM_NewRows(benchmark::State& state) {
    const Pair pair = framePair(int(state.range(0)));
    for (auto _ : state) {
        const auto rows = Stitcher::newRows(pair.prev, pair.next);
        if (rows != pair.scroll)
            state.SkipWithError("wrong offset");
        benchmark::DoNotOptimize(rows);
    }
}

// Frames that share nothing: every shift is tried before giving up.
void BM_NewRowsUnmatched(benchmark::State& state) {
    const int height = int(state.range(0));
    const int width = height * 16 / 9;
    const QImage prev = makePage(width, height, 2), next = makePage(width, height, 3);
    for (auto _ : state) {
        const auto rows = Stitcher::newRows(prev, next);
        if (rows)
            state.SkipWithError("unexpected offset");
        benchmark::DoNotOptimize(rows);
    }
}

void BM_Changed(benchmark::State& state) {
    const Pair pair = framePair(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Stitcher::changed(pair.prev, pair.next));
}

void BM_Stitch(benchmark::State& state) {
    const Pair pair = framePair(int(state.range(0)));
    for (auto _ : state) {
        QImage out = Stitcher::stitch({pair.prev, pair.next}, {pair.scroll});
        benchmark::DoNotOptimize(out.constBits());
    }
}

} // namespace

BENCHMARK(BM_NewRows)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewRowsUnmatched)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Changed)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stitch)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
