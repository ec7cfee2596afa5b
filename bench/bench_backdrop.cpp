// The backdrop renderer: a 5K Done against its 400 ms budget, the 1400-pixel preview each drag event renders
// against 25 ms, the same without shadow (the floor), the shadow alone at two blurs (its cost must not grow
// with the radius) and ImageMagick's shadow of the same sigma as an outside reference.

#include "editors/Beautify.h"

#include "Quick.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QImage screen(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(245, 245, 245));
    QPainter painter(&image);
    for (int y = 0; y < h; y += 40)
        painter.fillRect(40, y + 8, w / 2 + (y * 7) % (w / 3), 18, QColor(60 + y % 120, 80, 140));
    return image;
}

const QImage& fiveK() {
    static const QImage image = Quick::on() ? screen(1280, 720) : screen(5120, 2880);
    return image;
}

void Render_Full5K(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Beautify::render(fiveK(), BackdropStyle()));
    state.SetLabel("budget 400 ms");
}

void Render_NoShadow5K(benchmark::State& state) {
    BackdropStyle style;
    style.shadow = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(Beautify::render(fiveK(), style));
    state.SetLabel("the floor");
}

void Render_Preview1400(benchmark::State& state) {
    const QImage preview = screen(1400, 788);
    for (auto _ : state)
        benchmark::DoNotOptimize(Beautify::render(preview, BackdropStyle()));
    state.SetLabel("budget 25 ms, one per drag event");
}

void Shadow_Alone5K(benchmark::State& state) {
    const double blur = double(state.range(0));
    const int pad = 461;
    const QSize size(5120 + 2 * pad, 2880 + 2 * pad);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(pad, pad, 5120, 2880), 123, 123);
    for (auto _ : state)
        benchmark::DoNotOptimize(Beautify::shadow(size, shape, fiveK(), QPointF(pad, pad), blur, 0.4));
}

void Shadow_ImageMagick5K(benchmark::State& state) {
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in.bmp"));
    fiveK().convertToFormat(QImage::Format_ARGB32).save(input);
    const QString sigma = QString::number(state.range(0) / 2.0);
    for (auto _ : state) {
        QProcess process;
        process.start(convert,
                      {input, QStringLiteral("-background"), QStringLiteral("black"), QStringLiteral("-shadow"),
                       QStringLiteral("40x") + sigma + QStringLiteral("+0+0"), QStringLiteral("null:")});
        process.waitForFinished(300000);
    }
    state.SetLabel("includes its start and reading the picture");
}

} // namespace

BENCHMARK(Render_Full5K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Render_NoShadow5K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Render_Preview1400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Shadow_Alone5K)->Apply(Quick::sizes<45, 230>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Shadow_ImageMagick5K)->Arg(45)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(Quick::count(2));

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
