// Background removal on a 1080p screenshot-like picture: time per call, and how closely the mask follows
// the subject's true outline (IoU), with the edge-following refinement and with the coarse mask only
// scaled up.

#include "text/Cutout.h"
#include "text/CutoutFixtures.h"

#include "Quick.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

const CutoutScene& scene() {
    static const CutoutScene s = cutoutScene(QSize(1920, 1080));
    return s;
}

void maskOf(benchmark::State& state, bool refine) {
    double iou = 0;
    for (auto _ : state) {
        const QImage mask = Cutout::foregroundMask(scene().picture, refine);
        benchmark::DoNotOptimize(mask.constBits());
        iou = maskIoU(mask, scene().truth);
    }
    state.counters["IoU"] = iou;
}

void BM_CutoutRefined(benchmark::State& state) {
    maskOf(state, true);
}
void BM_CutoutScaledMaskOnly(benchmark::State& state) {
    maskOf(state, false);
}
void BM_RemoveBackground(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Cutout::removeBackground(scene().picture).constBits());
}

BENCHMARK(BM_CutoutRefined)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(3));
BENCHMARK(BM_CutoutScaledMaskOnly)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(3));
BENCHMARK(BM_RemoveBackground)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(3));

} // namespace

int main(int argc, char** argv) {
    // The scene draws text: fonts need a GUI application, offscreen is enough.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
