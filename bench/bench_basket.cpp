// The basket over 200 generated pictures (PNG, JPEG and HEIC, up to 4K) in an offscreen panel:
// time to the first screenful of thumbnails and to all of them, the longest the UI thread went
// without running a 1 ms timer, and the peak memory; against the same thumbnails made one after
// the other on one thread, in the same run.
//
// The pictures are made by a child process of this program and kept in the temporary folder for
// later runs, so the measured process holds only what the basket itself needs: painting and
// encoding 200 large pictures would leave its heap far larger than loading them ever does.

#include "imaging/ImageConvert.h"
#include "library/LibraryPanel.h"
#include "library/ShotGrid.h"

#include "Quick.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

// Bump the number when the pictures change, so an older set is made anew.
const QString setName =
    QStringLiteral("pictolarium-bench-basket-1") + (Quick::on() ? QStringLiteral("-quick") : QString());
// How many pictures: a few in the quick run.
const int pictureCount = Quick::size(200, 6);
const QString doneMark = QStringLiteral(".complete");

QString folder;
QStringList pictures;

QImage scene(QSize size, int seed) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor::fromHsv(seed * 37 % 360, 120, 220));
    sky.setColorAt(1, QColor::fromHsv(seed * 71 % 360, 200, 90));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random{quint32(seed)};
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate()));
        painter.drawRect(random.bounded(size.width()), random.bounded(size.height()), random.bounded(400) + 10,
                         random.bounded(200) + 10);
    }
    painter.end();
    return image;
}

void generate(const QString& into) {
    const QString shots = into + QStringLiteral("/shots");
    QDir(shots).removeRecursively();
    QDir().mkpath(shots);
    const QSize sizes[] = {{3840, 2160}, {2560, 1440}, {1920, 1080}, {1280, 800}};
    for (int i = 0; i < pictureCount; ++i) {
        const QSize size = sizes[i % 4];
        const QString base = shots + QStringLiteral("/Shot %1").arg(i, 3, 10, QLatin1Char('0'));
        switch (i % 3) {
        case 0:
            scene(size, i).save(base + QStringLiteral(".png"), "PNG");
            pictures.append(base + QStringLiteral(".png"));
            break;
        case 1:
            scene(size, i).save(base + QStringLiteral(".jpg"), "JPEG", 85);
            pictures.append(base + QStringLiteral(".jpg"));
            break;
        default: {
            // HEIC encoding is slow: these stay at 1080p at most.
            const QSize heic = size.width() > 1920 ? QSize(1920, 1080) : size;
            const QString png = base + QStringLiteral(".tmp.png");
            const QImage picture = scene(heic, i);
            picture.save(png, "PNG");
            const QUrl made = ImageConvert::writeBeside(picture, QUrl::fromLocalFile(png), ImageFormat::heic, 0.8);
            QFile::rename(made.toLocalFile(), base + QStringLiteral(".heic"));
            QFile::remove(png);
            pictures.append(base + QStringLiteral(".heic"));
        }
        }
    }
    QFile mark(into + QLatin1Char('/') + doneMark);
    mark.open(QIODevice::WriteOnly);
}

// The pictures of an earlier run, or new ones made by a child process; false when that failed.
bool preparePictures() {
    folder = QDir::temp().filePath(setName);
    if (!QFile::exists(folder + QLatin1Char('/') + doneMark)) {
        std::fprintf(stderr, "making 200 pictures in %s\n", qPrintable(folder));
        QDir().mkpath(folder);
        if (QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("--generate"), folder}) != 0 ||
            !QFile::exists(folder + QLatin1Char('/') + doneMark))
            return false;
    }
    const QDir shots(folder + QStringLiteral("/shots"));
    for (const QString& name : shots.entryList(QDir::Files, QDir::Name))
        pictures.append(shots.filePath(name));
    return pictures.size() == pictureCount;
}

double statusMegabytes(const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// The highest resident size since the last reset, and what was resident when the run began.
double peakMegabytes() {
    return statusMegabytes("VmHWM:");
}
double residentMegabytes() {
    return statusMegabytes("VmRSS:");
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void BM_BasketThumbnailsOnThePool(benchmark::State& state) {
    for (auto _ : state) {
        resetPeak();
        const double startMB = residentMegabytes();
        LibraryPanel::Services services;
        BasketListing::Sources sources;
        sources.home = folder;
        const QString shots = folder + QStringLiteral("/shots");
        sources.shotsFolder = [shots] { return shots; };
        sources.systemFolder = [] { return QString(); };
        sources.recent = [](const QDateTime&, bool, const std::function<bool()>&) {
            return BasketListing::RecentFound();
        };
        sources.now = [] { return QDateTime::currentDateTimeUtc(); };
        services.sources = sources;
        LibraryPanel panel(services);

        QElapsedTimer clock;
        qint64 lastTick = 0, longestStall = 0;
        QTimer probe;
        probe.setInterval(1);
        qint64 stallAt = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (now - lastTick > longestStall) {
                longestStall = now - lastTick;
                stallAt = now;
            }
            lastTick = now;
        });
        clock.start();
        probe.start();
        panel.show();
        panel.reload();
        QApplication::processEvents();
        const QStringList items = panel.listing().items;
        // A screenful: the tiles that lie in the grid's viewport.
        int screenful = 0;
        for (int i = 0; i < items.size(); ++i)
            if (panel.collection->tileRect(i).intersects(panel.collection->viewport()->geometry()))
                screenful = i + 1;
        // Scrolling on down asks for the rest.
        for (const QString& file : items)
            panel.thumbnailFor(file);
        double firstMs = -1;
        while (!panel.thumbsLoading.isEmpty()) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (firstMs < 0) {
                bool all = true;
                for (int i = 0; i < screenful && all; ++i)
                    all = panel.listing().thumbCache.contains(items[i]);
                if (all)
                    firstMs = clock.nsecsElapsed() / 1e6;
            }
        }
        const double allMs = clock.nsecsElapsed() / 1e6;
        probe.stop();
        state.SetIterationTime(allMs / 1000.0);
        state.counters["files"] = double(items.size());
        state.counters["screenful"] = screenful;
        state.counters["first_screen_ms"] = firstMs;
        state.counters["all_ms"] = allMs;
        state.counters["longest_stall_ms"] = longestStall / 1e6;
        state.counters["stall_at_ms"] = stallAt / 1e6;
        state.counters["peak_MB"] = peakMegabytes();
        state.counters["start_MB"] = startMB;
        state.counters["threads"] = LibraryPanel::thumbQueue().maxThreadCount();
        // What a hidden basket keeps: its first screenful of thumbnails.
        state.counters["shown_MB"] = residentMegabytes();
        panel.hide();
        QApplication::processEvents();
        state.counters["hidden_MB"] = residentMegabytes();
        state.counters["thumbnails_kept"] = double(panel.listing().thumbCache.size());
    }
}

void BM_BasketThumbnailsSerially(benchmark::State& state) {
    for (auto _ : state) {
        resetPeak();
        const double startMB = residentMegabytes();
        QElapsedTimer clock;
        clock.start();
        double firstMs = 0;
        for (int i = 0; i < pictures.size(); ++i) {
            benchmark::DoNotOptimize(ImageConvert::thumbnail(QUrl::fromLocalFile(pictures[i]), 480));
            if (i == 8)
                firstMs = clock.nsecsElapsed() / 1e6;
        }
        const double allMs = clock.nsecsElapsed() / 1e6;
        state.SetIterationTime(allMs / 1000.0);
        state.counters["first_screen_ms"] = firstMs;
        state.counters["all_ms"] = allMs;
        state.counters["peak_MB"] = peakMegabytes();
        state.counters["start_MB"] = startMB;
    }
}

BENCHMARK(BM_BasketThumbnailsOnThePool)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BasketThumbnailsSerially)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--generate") == 0) {
        QCoreApplication app(argc, argv);
        generate(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!preparePictures()) {
        std::fprintf(stderr, "could not make the pictures in %s\n", qPrintable(folder));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    LibraryPanel::thumbQueue().waitForDone();
    return 0;
}
