// Cost of lining up and joining one pair of scroll-capture frames, at 1080p and 2160p.

#include "ScrollPage.h"
#include "card/Stitcher.h"

#include "Quick.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <random>

namespace {

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

// Grabs while the page stands still, most grabs of a recording: every row is compared before saying so.
void BM_ChangedStill(benchmark::State& state) {
    const Pair pair = framePair(int(state.range(0)));
    const QImage same = pair.prev.copy();
    for (auto _ : state)
        if (Stitcher::changed(pair.prev, same))
            state.SkipWithError("a copy changed");
}

void BM_Stitch(benchmark::State& state) {
    const Pair pair = framePair(int(state.range(0)));
    for (auto _ : state) {
        QImage out = Stitcher::stitch({pair.prev, pair.next}, {pair.scroll});
        benchmark::DoNotOptimize(out.constBits());
    }
}

// The whole page of ten frames, each scrolled by a fifth of the height, with the rows that stand still at the
// window's bottom found and left out of the strips: what the stitching work does once a recording ends.
void BM_StitchPage(benchmark::State& state) {
    const int height = int(state.range(0));
    const int width = height * 16 / 9, scroll = height / 5;
    const QImage page = makePage(width, height * 3, 1);
    QList<QImage> frames;
    QList<int> offsets;
    for (int i = 0; i < 10; ++i) {
        frames.append(page.copy(0, i * scroll, width, height));
        if (i > 0)
            offsets.append(scroll);
    }
    for (auto _ : state) {
        QImage out = Stitcher::stitchPage(frames, offsets);
        benchmark::DoNotOptimize(out.constBits());
    }
}

} // namespace

BENCHMARK(BM_NewRows)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewRowsUnmatched)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Changed)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangedStill)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stitch)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StitchPage)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
