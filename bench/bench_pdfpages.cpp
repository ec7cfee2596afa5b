// Putting one edited page back into a 50-page, 10 MB PDF: the card's commit (on a worker, the document
// parsed and written by the writer child, flushed to disk) against the qpdf command doing the same
// replacement, which leaves its file to the system to flush.

#include "SideBySide.h"
#include "card/PDFSession.h"
#include "imaging/ShotFiles.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

// 50 letter pages, each with a block of noise that does not compress: about 10 MB.
QString bigPdf(const QString& name) {
    const QString path = folder().filePath(name);
    if (QFile::exists(path))
        QFile::remove(path);
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setResolution(72);
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::LosslessImageRendering);
    std::mt19937 rng(7);
    for (int page = 0; page < 50; ++page) {
        if (page > 0)
            writer.newPage();
        QImage noise(260, 260, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
            for (int x = 0; x < noise.width(); ++x)
                line[x] = rng() | 0xff000000u;
        }
        painter.drawImage(QRectF(50, 50, 400, 400), noise);
        painter.drawText(60, 500, QStringLiteral("Page ") + QString::number(page + 1));
    }
    return path;
}

// Two different page pictures at the size page 10 renders at.
std::pair<QUrl, QUrl> pagePictures() {
    QImage a(1224, 1584, QImage::Format_RGB32), b(1224, 1584, QImage::Format_RGB32);
    a.fill(Qt::white);
    b.fill(Qt::lightGray);
    QPainter(&a).drawText(100, 100, QStringLiteral("edited"));
    QPainter(&b).drawText(100, 100, QStringLiteral("edited again"));
    return {ShotFiles::write(a, QUrl::fromLocalFile(folder().filePath(QStringLiteral("a.png")))),
            ShotFiles::write(b, QUrl::fromLocalFile(folder().filePath(QStringLiteral("b.png"))))};
}

void BM_CommitOnePage(benchmark::State& state) {
    const QString path = bigPdf(QStringLiteral("commit.pdf"));
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    session->render(9);
    const auto [a, b] = pagePictures();
    bool flip = false;
    for (auto _ : state) {
        // Another file than the last one committed always counts as a change.
        if (!session->commit(flip ? a : b))
            state.SkipWithError(session->failure().toUtf8().constData());
        flip = !flip;
    }
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
}
BENCHMARK(BM_CommitOnePage)->Unit(benchmark::kMillisecond)->UseRealTime();

// A ready-made page PDF for the command, of the size the page renders at.
QString pagePdf() {
    const QString page = folder().filePath(QStringLiteral("page.pdf"));
    QPdfWriter writer(page);
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setResolution(72);
    QPainter painter(&writer);
    QImage picture(1224, 1584, QImage::Format_RGB32);
    picture.fill(Qt::white);
    painter.drawImage(QRectF(0, 0, 612, 792), picture);
    return page;
}

// The command replacing page 10; with `flush`, its output is also flushed to disk as ours is before the
// rename (sync FILE).
bool qpdfReplaces(const QString& path, const QString& page, const QString& out, bool flush) {
    const bool written =
        QProcess::execute(QStringLiteral("qpdf"),
                          {path, QStringLiteral("--pages"), path, QStringLiteral("1-9"), page, QStringLiteral("1"),
                           path, QStringLiteral("11-z"), QStringLiteral("--"), out}) == 0;
    return written && (!flush || QProcess::execute(QStringLiteral("sync"), {out}) == 0);
}

void BM_QpdfCommandReplacesOnePage(benchmark::State& state) {
    const QString path = bigPdf(QStringLiteral("command.pdf"));
    const QString page = pagePdf();
    const QString out = folder().filePath(QStringLiteral("out.pdf"));
    for (auto _ : state) {
        if (!qpdfReplaces(path, page, out, false))
            state.SkipWithError("qpdf failed (is the qpdf command installed?)");
    }
}
BENCHMARK(BM_QpdfCommandReplacesOnePage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The side-by-side row: the card's commit and the qpdf command, taken in turn on documents alike.
void sideBySide() {
    const QString path = bigPdf(QStringLiteral("row.pdf"));
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    session->render(9);
    const auto [a, b] = pagePictures();
    const QString command = bigPdf(QStringLiteral("row-command.pdf"));
    const QString page = folder().filePath(QStringLiteral("row-page.pdf"));
    {
        QPdfWriter writer(page);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.fillRect(QRectF(0, 0, 612, 792), Qt::white);
    }
    const QString out = folder().filePath(QStringLiteral("row-out.pdf"));
    bool flip = false, failed = false;
    // Our commit waits for its file to reach the disk: the benchmarks before this one leave many megabytes
    // unwritten, which must not land in its first rounds.
    ::sync();
    const SideBySide::Pair times = SideBySide::interleaved(
        9,
        [&] {
            failed = !session->commit(flip ? a : b) || failed;
            flip = !flip;
        },
        [&] {
            failed =
                QProcess::execute(QStringLiteral("qpdf"), {command, QStringLiteral("--pages"), command,
                                                           QStringLiteral("1-9"), page, QStringLiteral("1"), command,
                                                           QStringLiteral("11-z"), QStringLiteral("--"), out}) != 0 ||
                failed;
        });
    if (failed) {
        std::printf("bench_pdfpages: the commit or qpdf failed\n");
        return;
    }
    SideBySide::row("PDF page commit, 50 pages / 10 MB", SideBySide::ms(times.ours),
                    SideBySide::ms(times.anchor) + " (qpdf --pages)", times.ours / times.anchor, "<= 1.00",
                    times.loadFrom, times.loadTo);
}

// One line for the side-by-side table: ours and the command in turn, the median of each over `rounds`.
int sideBySideLine(int rounds) {
    const QString path = bigPdf(QStringLiteral("commit.pdf"));
    const QString copy = bigPdf(QStringLiteral("command.pdf"));
    const QString page = pagePdf();
    const QString out = folder().filePath(QStringLiteral("out.pdf"));
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    if (!session) {
        std::fprintf(stderr, "the test document could not be opened\n");
        return 1;
    }
    session->render(9);
    const auto [a, b] = pagePictures();
    std::vector<double> ours, command, flushed;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        if (!session->commit(i % 2 ? a : b)) {
            std::fprintf(stderr, "commit failed: %s\n", qPrintable(session->failure()));
            return 1;
        }
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.start();
        if (!qpdfReplaces(copy, page, out, false)) {
            std::fprintf(stderr, "qpdf failed (is the qpdf command installed?)\n");
            return 1;
        }
        command.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.start();
        qpdfReplaces(copy, page, out, true);
        flushed.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const double load = SideBySide::load();
    std::printf("pdf-page-commit ours_ms=%.1f qpdf_ms=%.1f ratio=%.2f qpdf_sync_ms=%.1f ratio_sync=%.2f load=%.2f "
                "rounds=%d\n",
                SideBySide::median(ours), SideBySide::median(command),
                SideBySide::median(ours) / SideBySide::median(command), SideBySide::median(flushed),
                SideBySide::median(ours) / SideBySide::median(flushed), load, rounds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // --side-by-side[=N]: one line comparing ours with the command, N rounds each in turn (7 unless given).
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).startsWith("--side-by-side")) {
            const QByteArray rounds = QByteArray(argv[i]).mid(int(sizeof "--side-by-side"));
            return sideBySideLine(std::max(5, rounds.isEmpty() ? 7 : rounds.toInt()));
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    sideBySide();
    benchmark::Shutdown();
    return 0;
}
