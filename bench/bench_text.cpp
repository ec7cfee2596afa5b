// Reading the generated screen corpus: our banded recognition on warm engines against the
// tesseract command on the same pictures, with character and word error rates of each, and a
// table of both per picture at the end. BENCH_TEXT_DUMP=folder keeps the pictures and texts.

#include "SideBySide.h"
#include "text/OcrEngine.h"
#include "text/TextCorpus.h"
#include "text/TextLayout.h"
#include "text/TextVision.h"

#include "Quick.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

struct Figures {
    double seconds = 0, cpu = 0;
    int runs = 0;
    QString text;
    double mean() const { return runs ? seconds / runs : 0; }
    double meanCpu() const { return runs ? cpu / runs : 0; }
};

struct Row {
    TextCorpus::Page page;
    QString file;
    Figures ours, command;
};
std::vector<Row> rows;

// What a user whose preferred language is the page's gets: that language, then English.
TextVision::RecognitionOptions optionsFor(const TextCorpus::Page& page) {
    TextVision::RecognitionOptions options;
    if (page.language != QStringLiteral("eng"))
        options.languages = page.language + QStringLiteral("+eng");
    return options;
}

QString ourText(const TextCorpus::Page& page) {
    TextVision::RecognitionOptions options = optionsFor(page);
    std::vector<QRectF> rules;
    options.rules = &rules;
    const auto lines = TextVision::recognise(page.image, options);
    return TextVision::fullText(lines, rules);
}

QString commandText(const Row& row) {
    QProcess process;
    QStringList arguments{row.file, QStringLiteral("stdout")};
    if (row.page.language != QStringLiteral("eng"))
        arguments << QStringLiteral("-l") << row.page.language;
    process.start(QStringLiteral("tesseract"), arguments);
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput());
}

template <typename Run> void timed(benchmark::State& state, const TextCorpus::Page& page, Figures& figures, Run run) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = SideBySide::cpuSeconds();
        figures.text = run();
        figures.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        figures.cpu += SideBySide::cpuSeconds() - cpuStart;
        ++figures.runs;
    }
    state.counters["CER"] = TextCorpus::characterErrorRate(page.text, figures.text);
    state.counters["WER"] = TextCorpus::wordErrorRate(page.text, figures.text);
}

void dump(const QString& folder) {
    QDir().mkpath(folder);
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString stem = QDir(folder).filePath(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
        rows[i].page.image.save(stem + QStringLiteral(".png"));
        for (const auto& [suffix, text] :
             {std::pair{".truth.txt", rows[i].page.text}, std::pair{".ours.txt", rows[i].ours.text},
              std::pair{".command.txt", rows[i].command.text}}) {
            QFile file(stem + QString::fromLatin1(suffix));
            if (file.open(QIODevice::WriteOnly))
                file.write(text.toUtf8());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!TextCorpus::facesInstalled()) {
        std::fprintf(stderr, "The corpus faces are not installed (scripts/install-deps.sh).\n");
        return 1;
    }
    QTemporaryDir dir;
    for (TextCorpus::Page& page : TextCorpus::pages()) {
        if (Quick::on() && !rows.empty())
            break;
        const QString file = dir.filePath(QStringLiteral("page%1.png").arg(rows.size()));
        page.image.save(file);
        rows.push_back({std::move(page), file, {}, {}});
    }

    // The first call pays for loading the engines; every later one finds them warm.
    QElapsedTimer first;
    first.start();
    ourText(rows.front().page);
    const double firstCall = first.nsecsElapsed() / 1e9;
    for (const Row& row : rows)
        ourText(row.page);

    for (Row& row : rows) {
        const std::string name = row.page.name.toStdString();
        benchmark::RegisterBenchmark(
            ("ours/" + name).c_str(),
            [&row](benchmark::State& state) { timed(state, row.page, row.ours, [&row] { return ourText(row.page); }); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(Quick::count(3));
        benchmark::RegisterBenchmark(("command/" + name).c_str(),
                                     [&row](benchmark::State& state) {
                                         timed(state, row.page, row.command, [&row] { return commandText(row); });
                                     })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(Quick::count(3));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-32s %6s | %6s %6s %7s %7s | %6s %6s %7s %7s | %5s %5s\n", "picture", "chars", "CER", "WER", "ms",
                "cpu ms", "cmdCER", "cmdWER", "cmd ms", "cpu ms", "time", "cpu");
    double sum[8] = {};
    int counted = 0;
    for (const Row& row : rows) {
        if (!row.ours.runs)
            continue;
        // ours: CER, WER, ms, cpu ms; the command: the same four.
        const double f[8] = {TextCorpus::characterErrorRate(row.page.text, row.ours.text),
                             TextCorpus::wordErrorRate(row.page.text, row.ours.text),
                             row.ours.mean() * 1000,
                             row.ours.meanCpu() * 1000,
                             TextCorpus::characterErrorRate(row.page.text, row.command.text),
                             TextCorpus::wordErrorRate(row.page.text, row.command.text),
                             row.command.mean() * 1000,
                             row.command.meanCpu() * 1000};
        std::printf("%-32s %6lld | %6.3f %6.3f %7.0f %7.0f | %6.3f %6.3f %7.0f %7.0f | %5.2f %5.2f\n",
                    row.page.name.toUtf8().constData(), static_cast<long long>(row.page.text.size()), f[0], f[1], f[2],
                    f[3], f[4], f[5], f[6], f[7], f[6] > 0 ? f[2] / f[6] : 0.0, f[7] > 0 ? f[3] / f[7] : 0.0);
        for (int i = 0; i < 8; ++i)
            sum[i] += f[i];
        ++counted;
    }
    if (counted) {
        std::printf("%-32s %6s | %6.3f %6.3f %7.0f %7.0f | %6.3f %6.3f %7.0f %7.0f | %5.2f %5.2f\n", "mean", "",
                    sum[0] / counted, sum[1] / counted, sum[2] / counted, sum[3] / counted, sum[4] / counted,
                    sum[5] / counted, sum[6] / counted, sum[7] / counted, sum[6] > 0 ? sum[2] / sum[6] : 0.0,
                    sum[7] > 0 ? sum[3] / sum[7] : 0.0);
        std::printf("%d recognition threads; first call with cold engines %.0f ms\n", TextVision::recognitionThreads(),
                    firstCall * 1000);
    }
    if (const QString folder = qEnvironmentVariable("BENCH_TEXT_DUMP"); !folder.isEmpty())
        dump(folder);
    return 0;
}
