// Done in the annotate editor on a 5K picture with 50 shapes: the first save (render, annotated PNG, base
// PNG and record) and a later one, beside writing the picture alone; cleaning an imported 12 MP signature
// photo; pruning an edits folder of 2,000 entries.

#include "editors/AnnotateWindow.h"
#include "editors/EditStore.h"
#include "editors/SignatureStore.h"
#include "imaging/ShotFiles.h"

#include "Quick.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>
#include <random>

namespace {

QTemporaryDir* home = nullptr;

QImage screen(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(238, 240, 244));
    QPainter p(&image);
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i)
        p.fillRect(int(random() % w), int(random() % h), 300, 18, QColor(int(random() % 200), 90, 120));
    return image;
}

// Editors are handed their picture ready-read, as the card reads it for them.
std::unique_ptr<AnnotateWindow> editor(const QUrl& file, const QImage& picture,
                                       std::function<void(const QUrl&, const QImage&)> done = {}) {
    auto window = std::make_unique<AnnotateWindow>(
        Shot{file, picture, QStringLiteral("B"), std::nullopt},
        done ? std::move(done) : [](const QUrl&, const QImage&) {});
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    std::mt19937 random(3);
    for (int i = 0; i < 50; ++i) {
        const QPointF a(random() % 5000, random() % 2800), b(random() % 5000, random() % 2800);
        Annotation::Kind kind = i % 3 == 0   ? Annotation::Kind(Annotation::Arrow{a, b})
                                : i % 3 == 1 ? Annotation::Kind(Annotation::Box{QRectF(a, QSizeF(300, 200))})
                                             : Annotation::Kind(Annotation::Ellipse{QRectF(b, QSizeF(200, 200))});
        window->canvas->shapes.push_back({kind, Annotation::palette()[size_t(i % 12)], 8, false, {}});
    }
    return window;
}

// Done writes on a worker: the save is over when the editor is no longer writing.
void finished(AnnotateWindow& window) {
    window.finish();
    while (window.isWriting())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

void BM_FirstSave(benchmark::State& state) {
    const QImage picture = screen(5120, 2880);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QUrl file = QUrl::fromLocalFile(home->filePath(QStringLiteral("first%1.png").arg(n++)));
        ShotFiles::write(picture, file);
        auto window = editor(file, picture);
        state.ResumeTiming();
        finished(*window);
    }
}
BENCHMARK(BM_FirstSave)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(5));

void BM_LaterSave(benchmark::State& state) {
    const QUrl file = QUrl::fromLocalFile(home->filePath(QStringLiteral("later.png")));
    const QImage picture = screen(5120, 2880);
    ShotFiles::write(picture, file);
    QUrl annotated;
    QImage drawn;
    finished(*editor(file, picture, [&](const QUrl& url, const QImage& image) {
        annotated = url;
        drawn = image;
    }));
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<AnnotateWindow>(Shot{annotated, drawn, QStringLiteral("B"), std::nullopt},
                                                       [](const QUrl&, const QImage&) {});
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        if (!window->editID)
            state.SkipWithError("the edit did not reopen");
        state.ResumeTiming();
        finished(*window);
    }
}
BENCHMARK(BM_LaterSave)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(5));

void BM_WritePictureAlone(benchmark::State& state) {
    const QImage picture = screen(5120, 2880);
    const QUrl file = QUrl::fromLocalFile(home->filePath(QStringLiteral("alone.png")));
    for (auto _ : state)
        ShotFiles::write(picture, file);
}
BENCHMARK(BM_WritePictureAlone)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(5));

void BM_CleanSignaturePhoto(benchmark::State& state) {
    QImage photo(4000, 3000, QImage::Format_RGB32);
    photo.fill(QColor(245, 243, 238));
    QPainter p(&photo);
    p.setPen(QPen(QColor(30, 30, 40), 14));
    p.drawLine(800, 1500, 3200, 1400);
    p.end();
    for (auto _ : state)
        benchmark::DoNotOptimize(SignatureStore::cleaned(photo));
}
BENCHMARK(BM_CleanSignaturePhoto)->Unit(benchmark::kMillisecond);

// Argument 0: every entry young (the usual prune after a save); 1: every entry past 30 days and deleted.
void BM_Prune2000(benchmark::State& state) {
    const int days = state.range(0) ? 31 : 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir().mkpath(EditStore::dir());
        for (int i = 0; i < 2000; ++i) {
            QFile file(EditStore::dir() + QStringLiteral("/%1.json").arg(i));
            file.open(QIODevice::WriteOnly);
        }
        state.ResumeTiming();
        EditStore::prune(QDateTime::currentDateTimeUtc().addDays(days));
    }
}
BENCHMARK(BM_Prune2000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(Quick::count(5));

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    home = &folder;
    // The store and the settings go to a folder of the benchmark's own.
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
