// Picture formats against their peers: our PNG writer against Qt's default writer and ImageMagick, thumbnails
// against decoding in full, HEIC and JPEG compression against ImageMagick. Pictures are generated here, at
// 1920 × 1080 and 3840 × 2160, drawn like screenshots (flat panels, text, a soft gradient behind).
// A summary of every figure and its ratio to its peer follows the benchmark table.

#include "imaging/HeifCodec.h"
#include "imaging/ImageConvert.h"
#include "imaging/PngWriter.h"
#include "imaging/ShotFiles.h"

#include "Quick.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>

namespace {

QTemporaryDir* work = nullptr;

QString workPath(const QString& name) {
    return work->path() + QLatin1Char('/') + name;
}

QImage screenshot(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(40, 60, 110));
    g.setColorAt(1, QColor(150, 80, 120));
    p.fillRect(image.rect(), g);
    std::mt19937 rng(7);
    QFont font;
    font.setPixelSize(std::max(10, h / 80));
    p.setFont(font);
    p.fillRect(0, 0, w, h / 40, QColor(20, 20, 24));
    for (int k = 0; k < 6; ++k) {
        const QRect r(int(rng() % unsigned(w / 2)), int(rng() % unsigned(h / 2)), w / 3 + int(rng() % unsigned(w / 3)),
                      h / 3 + int(rng() % unsigned(h / 3)));
        p.fillRect(r.translated(4, 6), QColor(0, 0, 0, 60));
        p.fillRect(r, QColor(246, 246, 246));
        p.fillRect(QRect(r.x(), r.y(), r.width(), h / 40), QColor(222, 222, 228));
        p.setPen(QColor(30, 30, 30));
        for (int y = r.y() + h / 25; y < r.bottom() - 10; y += h / 60) {
            QString line;
            const int n = 20 + int(rng() % 60);
            for (int i = 0; i < n; ++i)
                line += QChar(char16_t(rng() % 6 == 0 ? u' ' : u'a' + rng() % 26));
            p.drawText(r.x() + 12, y, line);
        }
    }
    return image;
}

// A camera-like picture: smooth shading with fine texture, which JPEG is made for.
QImage photo(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    std::mt19937 rng(11);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(rng() % 24);
            row[x] = qRgb((x * 255 / w + n) & 255, (y * 255 / h + n) & 255, ((x + y) * 128 / (w + h) + n) & 255);
        }
    }
    return image;
}

const QImage& shotOf(int h) {
    static std::map<int, QImage> cache;
    auto it = cache.find(h);
    if (it == cache.end())
        it = cache.emplace(h, screenshot(h * 16 / 9, h)).first;
    return it->second;
}

QByteArray rawRgb(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray bytes;
    bytes.reserve(qsizetype(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), qsizetype(rgb.width()) * 3);
    return bytes;
}

QString magick() {
    return QFile::exists(QStringLiteral("/usr/bin/convert"))
               ? QStringLiteral("/usr/bin/convert")
               : QStandardPaths::findExecutable(QStringLiteral("convert"));
}

// Runs ImageMagick once; the measured time includes its start, as it would for a program calling it.
bool runMagick(const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(magick(), args);
    if (!process.waitForStarted())
        return false;
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

QString sizeArg(const QImage& image) {
    return QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

QByteArray qtEncoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

// ---- PNG writing: the capture road's file write ----

void PngWrite_Ours(benchmark::State& state) {
    const QImage& image = shotOf(int(state.range(0)));
    const QUrl url = QUrl::fromLocalFile(workPath(QStringLiteral("ours.png")));
    for (auto _ : state)
        ShotFiles::write(image, url);
    state.counters["bytes"] = double(QFile(url.toLocalFile()).size());
}

void PngWrite_QtDefault(benchmark::State& state) {
    const QImage& image = shotOf(int(state.range(0)));
    const QString path = workPath(QStringLiteral("qt.png"));
    for (auto _ : state) {
        QImageWriter writer(path, "png");
        if (!writer.write(image))
            state.SkipWithError("Qt's writer failed");
    }
    state.counters["bytes"] = double(QFile(path).size());
}

void PngWrite_ImageMagick(benchmark::State& state) {
    const QImage& image = shotOf(int(state.range(0)));
    const QByteArray raw = rawRgb(image);
    const QString path = workPath(QStringLiteral("magick.png"));
    const QStringList args{QStringLiteral("-size"), sizeArg(image),          QStringLiteral("-depth"),
                           QStringLiteral("8"),     QStringLiteral("rgb:-"), path};
    for (auto _ : state)
        if (!runMagick(args, raw))
            state.SkipWithError("ImageMagick failed");
    state.counters["bytes"] = double(QFile(path).size());
}

// ---- Thumbnails for the basket (480 pixels) ----

QString jpeg24mp() {
    const QString path = workPath(QStringLiteral("photo-24mp.jpg"));
    if (!QFile::exists(path))
        writeFile(path, qtEncoded(photo(6000, 4000), "jpeg", 90));
    return path;
}

QString png4k() {
    const QString path = workPath(QStringLiteral("shot-4k.png"));
    if (!QFile::exists(path))
        writeFile(path, PngWriter::encode(shotOf(2160)));
    return path;
}

void thumbnailOurs(benchmark::State& state, const QString& path) {
    const QUrl url = QUrl::fromLocalFile(path);
    for (auto _ : state) {
        const QImage thumb = ImageConvert::thumbnail(url, 480);
        if (thumb.isNull())
            state.SkipWithError("no thumbnail");
        benchmark::DoNotOptimize(thumb.constBits());
    }
}

void thumbnailFullDecode(benchmark::State& state, const QString& path) {
    for (auto _ : state) {
        const QImage full(path);
        const QImage thumb = full.scaled(480, 480, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(thumb.constBits());
    }
}

void Thumbnail24MPJpeg_Ours(benchmark::State& state) {
    thumbnailOurs(state, jpeg24mp());
}
void Thumbnail24MPJpeg_FullDecode(benchmark::State& state) {
    thumbnailFullDecode(state, jpeg24mp());
}
void Thumbnail4KPng_Ours(benchmark::State& state) {
    thumbnailOurs(state, png4k());
}
void Thumbnail4KPng_FullDecode(benchmark::State& state) {
    thumbnailFullDecode(state, png4k());
}

// A whole 4K screenshot read for the card or a conversion: libpng through our reader against the toolkit's.
void PngLoad4K_Ours(benchmark::State& state) {
    const QUrl url = QUrl::fromLocalFile(png4k());
    for (auto _ : state) {
        const QImage image = ImageConvert::load(url);
        benchmark::DoNotOptimize(image.constBits());
    }
}
void PngLoad4K_Qt(benchmark::State& state) {
    const QString path = png4k();
    for (auto _ : state) {
        // In the formats our pictures are kept in, as loading hands them out.
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// ---- HEIC ----

void HeicEncode_Ours(benchmark::State& state) {
    const QImage& image = shotOf(int(state.range(0)));
    QByteArray bytes;
    for (auto _ : state)
        bytes = HeifCodec::encode(image, 0.9);
    if (bytes.isEmpty())
        state.SkipWithError("no HEIC encoder");
    state.counters["bytes"] = double(bytes.size());
}

void HeicEncode_ImageMagick(benchmark::State& state) {
    const QImage& image = shotOf(int(state.range(0)));
    const QByteArray raw = rawRgb(image);
    const QString path = workPath(QStringLiteral("magick.heic"));
    const QStringList args{QStringLiteral("-size"),  sizeArg(image),
                           QStringLiteral("-depth"), QStringLiteral("8"),
                           QStringLiteral("rgb:-"),  QStringLiteral("-quality"),
                           QStringLiteral("90"),     path};
    for (auto _ : state)
        if (!runMagick(args, raw))
            state.SkipWithError("ImageMagick failed");
    state.counters["bytes"] = double(QFile(path).size());
}

QString heicFile(int h) {
    const QString path = workPath(QStringLiteral("shot-%1.heic").arg(h));
    if (!QFile::exists(path))
        writeFile(path, HeifCodec::encode(shotOf(h), 0.9));
    return path;
}

void HeicDecode_Ours(benchmark::State& state) {
    const QUrl url = QUrl::fromLocalFile(heicFile(int(state.range(0))));
    for (auto _ : state) {
        const QImage image = ImageConvert::load(url);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void HeicDecode_ImageMagick(benchmark::State& state) {
    const QString path = heicFile(int(state.range(0)));
    for (auto _ : state)
        if (!runMagick({path, QStringLiteral("rgb:-")}))
            state.SkipWithError("ImageMagick failed");
}

// ---- Compress: a 4K screenshot PNG to a JPEG of at most 1800 pixels at quality 0.68 ----

void Compress4K_Ours(benchmark::State& state) {
    const QByteArray source = PngWriter::encode(shotOf(2160));
    const QString path = workPath(QStringLiteral("compress.png"));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(workPath(QStringLiteral("compress.jpg")));
        writeFile(path, source);
        state.ResumeTiming();
        ImageConvert::compress(QUrl::fromLocalFile(path));
    }
}

void Compress4K_ImageMagick(benchmark::State& state) {
    const QString source = png4k();
    const QString out = workPath(QStringLiteral("magick-small.jpg"));
    for (auto _ : state)
        if (!runMagick({source, QStringLiteral("-resize"), QStringLiteral("1800x1800>"), QStringLiteral("-quality"),
                        QStringLiteral("68"), out}))
            state.SkipWithError("ImageMagick failed");
}

// "HeicEncode_Ours/1080/iterations:3/real_time" is "HeicEncode_Ours/1080" in the summary.
std::string plainName(std::string name) {
    for (const char* tail : {"/real_time", "/iterations:"}) {
        const size_t at = name.find(tail);
        if (at != std::string::npos)
            name.erase(at);
    }
    return name;
}

// Keeps each benchmark's time so the summary can set it against its peer.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred)
                millis[plainName(run.benchmark_name())] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> millis;
};

void summary(const Collector& c) {
    struct Pair {
        std::string ours, peer;
    };
    const Pair pairs[] = {
        {"PngWrite_Ours/1080", "PngWrite_QtDefault/1080"},
        {"PngWrite_Ours/2160", "PngWrite_QtDefault/2160"},
        {"PngWrite_Ours/1080", "PngWrite_ImageMagick/1080"},
        {"PngWrite_Ours/2160", "PngWrite_ImageMagick/2160"},
        {"Thumbnail24MPJpeg_Ours", "Thumbnail24MPJpeg_FullDecode"},
        {"Thumbnail4KPng_Ours", "Thumbnail4KPng_FullDecode"},
        {"PngLoad4K_Ours", "PngLoad4K_Qt"},
        {"HeicEncode_Ours/1080", "HeicEncode_ImageMagick/1080"},
        {"HeicEncode_Ours/2160", "HeicEncode_ImageMagick/2160"},
        {"HeicDecode_Ours/1080", "HeicDecode_ImageMagick/1080"},
        {"HeicDecode_Ours/2160", "HeicDecode_ImageMagick/2160"},
        {"Compress4K_Ours", "Compress4K_ImageMagick"},
    };
    std::printf("\n%-28s %10s   %-30s %10s   %s\n", "ours", "ms", "peer", "ms", "ours / peer");
    for (const Pair& p : pairs) {
        const auto ours = c.millis.find(p.ours);
        const auto peer = c.millis.find(p.peer);
        if (ours == c.millis.end() || peer == c.millis.end()) {
            std::printf("%-28s %10s   %-30s %10s   (not measured)\n", p.ours.c_str(), "-", p.peer.c_str(), "-");
            continue;
        }
        std::printf("%-28s %10.1f   %-30s %10.1f   %.2f\n", p.ours.c_str(), ours->second, p.peer.c_str(), peer->second,
                    ours->second / peer->second);
    }
    std::printf("Goal: PngWrite_Ours/2160 at most 0.35 x PngWrite_QtDefault/2160.\n");
}

} // namespace

BENCHMARK(PngWrite_Ours)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngWrite_QtDefault)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngWrite_ImageMagick)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Thumbnail24MPJpeg_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Thumbnail24MPJpeg_FullDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Thumbnail4KPng_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Thumbnail4KPng_FullDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngLoad4K_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PngLoad4K_Qt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HeicEncode_Ours)
    ->Apply(Quick::sizes<1080, 2160>)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(Quick::count(3));
BENCHMARK(HeicEncode_ImageMagick)
    ->Apply(Quick::sizes<1080, 2160>)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(Quick::count(3));
BENCHMARK(HeicDecode_Ours)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HeicDecode_ImageMagick)->Apply(Quick::sizes<1080, 2160>)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Compress4K_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Compress4K_ImageMagick)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    // The compress benchmark sends each source to the Trash: keep that Trash, and everything else, in a
    // folder of our own.
    QTemporaryDir dir;
    work = &dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QImageReader::setAllocationLimit(2048);
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    summary(collector);
    return 0;
}
