// Cost of one frame of the tour: a kit stage (four shadowed tiles, the 14-tool pill, captions and a
// pointer) evaluated and painted at 1× and 2×, and the evaluation of the whole tree alone; then each
// of the eight real scenes painted at 1× and 2× over several seconds of its loop; last, what the whole
// tour window costs while it shows the welcome page, as a share of one core, at 1× and 2×.

#include "onboarding/LayerRenderer.h"
#include "onboarding/Onboarding.h"
#include "onboarding/TourKit.h"
#include "onboarding/TourScene.h"
#include "platform/Defaults.h"
#include "ui/UI.h"

#include "Quick.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <vector>

using tour::Layer;
using tour::LayerPtr;

namespace {

LayerPtr kitStage(double scale) {
    TourKit kit;
    kit.now = 1;
    LayerPtr root = Layer::make();
    root->setFrame({0, 0, 544 * scale, 300 * scale});
    LayerPtr stage = Layer::make();
    stage->setFrame({0, 0, 544, 300});
    stage->model.transform = tour::Transform::scaled(scale);
    stage->model.position = {272 * scale, 150 * scale};
    root->addSublayer(stage);
    const double hues[] = {0.08, 0.55, 0.3, 0.75};
    for (int i = 0; i < 4; ++i) {
        LayerPtr tile = kit.glassTile({30.0 + i * 125, 90.0 + (i % 2) * 30, 120, 90}, hues[i], i % 2);
        tile->model.transform = tour::Transform::rotated((i - 1.5) * 0.06);
        stage->addSublayer(tile);
    }
    auto [bar, centres] = kit.pill(470, 34, 3);
    bar->model.position = {272, 40};
    stage->addSublayer(bar);
    const QStringList names = TourKit::toolNames();
    for (int i = 0; i < 3; ++i)
        stage->addSublayer(kit.label(names.at(i), {37 + centres.at(i * 4), 74}, 60));
    stage->addSublayer(kit.cursor({300, 150}));
    return root;
}

void walk(const Layer& layer, double t, double& sink) {
    sink += tour::presentation(layer, t).opacity;
    for (const LayerPtr& sub : layer.sublayers())
        walk(*sub, t, sink);
}

void reportTimes(benchmark::State& state, std::vector<double>& ms, const char* name) {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (const double v : ms)
        sum += v;
    state.counters[std::string(name) + "_mean_ms"] = sum / double(ms.size());
    state.counters[std::string(name) + "_p95_ms"] = ms[size_t(double(ms.size() - 1) * 0.95)];
}

// The painting thread's own processor time, which a busy machine does not inflate.
double threadMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Paints a cleared frame as the scene view does, on a pool thread (which Qt does not split its fills from), and
// keeps the wall time and the thread's own time it took.
template <class Paint>
void paintOnPool(QImage& frame, std::vector<double>& ms, std::vector<double>& cpu, const Paint& paint) {
    const auto start = std::chrono::steady_clock::now();
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        const double begin = threadMs();
        frame.fill(Qt::transparent);
        QPainter p(&frame);
        paint(p);
        p.end();
        cpu.push_back(threadMs() - begin);
        done.release();
    });
    done.acquire();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

void BM_PaintStage(benchmark::State& state) {
    const double scale = double(state.range(0));
    const LayerPtr root = kitStage(scale);
    QImage frame(QSize(int(544 * scale), int(300 * scale)), QImage::Format_ARGB32_Premultiplied);
    tour::LayerRenderer renderer;
    std::vector<double> ms, cpu;
    double t = 1;
    for (auto _ : state) {
        paintOnPool(frame, ms, cpu, [&](QPainter& p) {
            p.translate(0, frame.height());
            p.scale(1, -1);
            renderer.paint(p, *root, t);
        });
        t += 1.0 / 60;
    }
    reportTimes(state, ms, "wall");
    reportTimes(state, cpu, "cpu");
}
BENCHMARK(BM_PaintStage)->Apply(Quick::sizes<1, 2>)->Unit(benchmark::kMillisecond);

void BM_Presentation(benchmark::State& state) {
    const LayerPtr root = kitStage(1);
    double t = 1, sink = 0;
    for (auto _ : state) {
        walk(*root, t, sink);
        t += 1.0 / 60;
    }
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Presentation)->Unit(benchmark::kMicrosecond);

const char* const kSceneNames[] = {"welcome", "pick", "slice", "card", "basket", "latest", "wheel", "permissions"};

// A real scene as the tour view paints it, a frame every 1/60 s from 0.5 s after it was built, so
// the entrances and every part of the loops are in the sample.
void BM_Scene(benchmark::State& state) {
    const auto kind = TourScene::Kind(state.range(0));
    const double scale = double(state.range(1));
    double t = 100;
    TourScene scene(nullptr, [&t] { return t; });
    scene.kind = kind;
    scene.resize(544, 300);
    scene.rebuild();
    QImage frame(QSize(int(544 * scale), int(300 * scale)), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> ms, cpu;
    double at = t + 0.5;
    for (auto _ : state) {
        paintOnPool(frame, ms, cpu, [&](QPainter& p) {
            p.scale(scale, scale);
            scene.render(p, at);
        });
        at += 1.0 / 60;
    }
    state.SetLabel(kSceneNames[state.range(0)]);
    reportTimes(state, ms, "wall");
    reportTimes(state, cpu, "cpu");
}
BENCHMARK(BM_Scene)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {1, 2}})
    ->Iterations(Quick::count(600))
    ->Unit(benchmark::kMillisecond);

double processSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr char kWindowCpu[] = "--tour-window-cpu";

// In a child of its own: the tour window opened as a first run opens it, its entrance left to settle, then
// the process's processor time over a few seconds of the event loop, all threads counted.
int measureWindow(QApplication& app, double seconds) {
    UI::registerFonts();
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("bench"));
    Onboarding::Services services;
    services.defaults = &defaults;
    Onboarding::setServices(services);
    Onboarding::show(false);
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit);
    settle.exec();
    const double before = processSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double used = processSeconds() - before;
    std::printf("core_percent %.2f\n", used / (double(wall.nsecsElapsed()) / 1e9) * 100.0);
    return 0;
}

// The tour window on the welcome page: the share of one core its process takes while it shows, at the scale
// given (QT_SCALE_FACTOR in the child, as a scale is fixed once the application starts).
void BM_TourWindowCpu(benchmark::State& state) {
    const int scale = int(state.range(0));
    double sum = 0;
    int runs = 0;
    for (auto _ : state) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kWindowCpu)});
        child.waitForFinished(60000);
        const QByteArray out = child.readAllStandardOutput();
        const qsizetype at = out.indexOf("core_percent ");
        if (child.exitCode() != 0 || at < 0) {
            state.SkipWithError("the tour window did not report");
            return;
        }
        sum += out.mid(at + 13).trimmed().split('\n').first().toDouble();
        ++runs;
    }
    state.counters["core_percent"] = sum / std::max(runs, 1);
    state.counters["goal_percent"] = scale == 1 ? 8 : 15;
}
BENCHMARK(BM_TourWindowCpu)->Apply(Quick::sizes<1, 2>)->Iterations(Quick::count(3))->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kWindowCpu) == 0)
        return measureWindow(app, 4.0);
    UI::registerFonts();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
