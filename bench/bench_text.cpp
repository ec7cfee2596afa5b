// Reading a dense generated screen: our banded recognition on warm engines against the
// tesseract command on the same picture, with the character error rate of each.

#include "text/OcrEngine.h"
#include "text/TextFixtures.h"
#include "text/TextVision.h"

#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

TextFixtures::Screen screen;
QString screenFile;

struct Figures {
    double seconds = 0;
    int runs = 0;
    QString text;
    double mean() const { return runs ? seconds / runs : 0; }
};
Figures ours, command, commandOneThread;

template <typename Run> void timed(benchmark::State& state, Figures& figures, Run run) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        figures.text = run();
        figures.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++figures.runs;
    }
    state.counters["CER"] = TextFixtures::characterErrorRate(screen.text, figures.text);
}

QString tesseractCommand(bool oneThread) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (oneThread)
        environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    else
        environment.remove(QStringLiteral("OMP_THREAD_LIMIT"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("tesseract"),
                  {screenFile, QStringLiteral("stdout"), QStringLiteral("--psm"), QStringLiteral("3")});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void BM_TextVisionText(benchmark::State& state) {
    timed(state, ours, [] { return TextVision::text(screen.image); });
}

void BM_TesseractCommand(benchmark::State& state) {
    timed(state, command, [] { return tesseractCommand(false); });
}

void BM_TesseractCommandOneThread(benchmark::State& state) {
    timed(state, commandOneThread, [] { return tesseractCommand(true); });
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    screen = TextFixtures::denseScreen();
    screenFile = dir.filePath(QStringLiteral("screen.png"));
    screen.image.save(screenFile);
    // The engines stay loaded between pictures; load them before timing.
    TextVision::text(screen.image);

    benchmark::RegisterBenchmark("TextVision::text", BM_TextVisionText)->Unit(benchmark::kMillisecond)->Iterations(5);
    benchmark::RegisterBenchmark("tesseract command", BM_TesseractCommand)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("tesseract command, OMP_THREAD_LIMIT=1", BM_TesseractCommandOneThread)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double cerOurs = TextFixtures::characterErrorRate(screen.text, ours.text);
    const double cerCommand = TextFixtures::characterErrorRate(screen.text, command.text);
    const double cerOne = TextFixtures::characterErrorRate(screen.text, commandOneThread.text);
    std::printf("\nDense 1920x1080 screen, %lld characters, %d recognition threads\n",
                static_cast<long long>(screen.text.size()), TextVision::recognitionThreads());
    std::printf("  TextVision::text          %8.0f ms   CER %.4f\n", ours.mean() * 1000, cerOurs);
    std::printf("  tesseract command         %8.0f ms   CER %.4f\n", command.mean() * 1000, cerCommand);
    std::printf("  tesseract, one thread     %8.0f ms   CER %.4f\n", commandOneThread.mean() * 1000, cerOne);
    if (command.mean() > 0)
        std::printf("  time ratio ours / command %.2f   ours / one thread %.2f\n", ours.mean() / command.mean(),
                    commandOneThread.mean() > 0 ? ours.mean() / commandOneThread.mean() : 0.0);
    return 0;
}
