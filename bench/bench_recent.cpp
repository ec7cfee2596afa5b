// The Recent search over a generated 200,000-file home folder (hidden folders, node_modules, deep
// trees, old photos): our search against find and fd as whole processes under hyperfine, after a
// cut and pictures arriving (created, copied with their modification time kept, moved in). Then the
// Screenshots listing over 5,000 files in process.
//
//   bench_recent                       generate, compare, and run the in-process benchmarks
//   bench_recent --search HOME MS      one search since MS (ms since the epoch); prints the count
//   bench_recent --basket HOME MS      the basket's quick search, then its thorough one: counts and times

#include "library/BasketListing.h"
#include "library/RecentImages.h"

#include "Quick.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const pictureExts[] = {"heic", "heif", "jpg", "jpeg", "png",  "gif",
                                   "webp", "tiff", "tif", "bmp",  "avif", "dng"};

int made = 0;

// Back-dates a file's modification time, as a copy that keeps it or an old download moved in has.
void ageModification(const QString& path, int years) {
    const timespec when[2] = {{0, UTIME_OMIT}, {QDateTime::currentDateTime().addYears(-years).toSecsSinceEpoch(), 0}};
    utimensat(AT_FDCWD, QFile::encodeName(path).constData(), when, 0);
}

void touch(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        ++made;
    }
}

void files(const QString& dir, int count, const char* ext) {
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i)
        touch(dir + QStringLiteral("/f%1.%2").arg(i).arg(QLatin1String(ext)));
}

// About 200,000 files, all older than the cut.
void generate(const QString& h) {
    for (int p = 0; p < Quick::size(40, 2); ++p) {
        const QString project = h + QStringLiteral("/Code/project%1").arg(p);
        for (int m = 0; m < 40; ++m)
            files(project + QStringLiteral("/node_modules/pkg%1/dist").arg(m), 50, m % 5 ? "js" : "png");
        QString deep = project + QStringLiteral("/src");
        for (int d = 0; d < 10; ++d) {
            deep += QStringLiteral("/level%1").arg(d);
            files(deep, 50, d % 3 ? "cpp" : "png");
        }
        files(project + QStringLiteral("/.git/objects"), 300, "pack");
    }
    for (int c = 0; c < Quick::size(50, 2); ++c)
        files(h + QStringLiteral("/.cache/app%1").arg(c), 800, c % 2 ? "png" : "bin");
    for (int a = 0; a < Quick::size(100, 2); ++a)
        files(h + QStringLiteral("/Pictures/Photos/%1").arg(2000 + a), 300, "jpg");
    files(h + QStringLiteral("/Downloads"), Quick::size(16000, 100), "pdf");
    files(h + QStringLiteral("/Documents/notes"), 2000, "txt");
}

struct Arrivals {
    int expected = 0;
};

// What arrives after the cut: new files, copies that keep an old modification time, files moved in,
// and some that must not be found (hidden, node_modules, not pictures).
Arrivals arrive(const QString& h, const QString& outside) {
    Arrivals a;
    for (int i = 0; i < 30; ++i) {
        touch(h + QStringLiteral("/Downloads/new%1.%2").arg(i).arg(QLatin1String(pictureExts[i % 12])));
        ++a.expected;
    }
    QDir().mkpath(h + QStringLiteral("/Documents/a/b/c"));
    for (int i = 0; i < 20; ++i) {
        const QString copy = h + QStringLiteral("/Documents/a/b/c/copy%1.jpg").arg(i);
        QFile::copy(h + QStringLiteral("/Pictures/Photos/2001/f%1.jpg").arg(i), copy);
        ageModification(copy, 3);
        ++a.expected;
    }
    QDir().mkpath(h + QStringLiteral("/Pictures/moved"));
    for (int i = 0; i < 20; ++i) {
        const QString from = outside + QStringLiteral("/m%1.png").arg(i);
        touch(from);
        ageModification(from, 2);
        QFile::rename(from, h + QStringLiteral("/Pictures/moved/m%1.png").arg(i));
        ++a.expected;
    }
    files(h + QStringLiteral("/Code/project3/src/level0/level1/level2/level3/level4/assets"), 10, "png");
    a.expected += 10;
    files(h + QStringLiteral("/Code/project7/node_modules/fresh"), 10, "png");
    files(h + QStringLiteral("/.cache/app3/fresh"), 10, "png");
    files(h + QStringLiteral("/Downloads/more"), 10, "zip");
    return a;
}

QString run(const QString& command) {
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(600000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void BM_ScreenshotsRoad(benchmark::State& state) {
    QTemporaryDir dir;
    const QString shots = dir.filePath(QStringLiteral("Pictures/Pictolarium"));
    const QString system = dir.filePath(QStringLiteral("Pictures/Screenshots"));
    files(shots, 2500, "png");
    QDir().mkpath(system);
    for (int i = 0; i < 2500; ++i)
        touch(system + QStringLiteral("/%1 %2.png")
                           .arg(i % 2 ? QStringLiteral("Screenshot from") : QStringLiteral("photo"))
                           .arg(i));
    BasketListing::Sources s;
    s.home = dir.path();
    s.shotsFolder = [shots] { return shots; };
    s.systemFolder = [system] { return system; };
    s.now = [] { return QDateTime::currentDateTimeUtc(); };
    s.visible = [] { return true; };
    BasketListing listing(s);
    for (auto _ : state) {
        listing.reload();
        benchmark::DoNotOptimize(listing.items.size());
    }
    state.counters["listed"] = double(listing.items.size());
}
BENCHMARK(BM_ScreenshotsRoad)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && QByteArray(argv[1]) == "--search") {
        const QString home = QString::fromLocal8Bit(argv[2]);
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(QByteArray(argv[3]).toLongLong(), Qt::UTC);
        const RecentConfig config = RecentConfig::forHome(home, home + QStringLiteral("/Pictures/Pictolarium"));
        std::printf("%lld\n", qlonglong(RecentImages::added(since, config).size()));
        return 0;
    }
    // The basket's two steps: the quick search, and the thorough one when the quick one was cut short.
    if (argc == 4 && QByteArray(argv[1]) == "--basket") {
        const QString home = QString::fromLocal8Bit(argv[2]);
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(QByteArray(argv[3]).toLongLong(), Qt::UTC);
        const auto search = BasketListing::recentSearch(
            [home] { return RecentConfig::forHome(home, home + QStringLiteral("/Pictures/Pictolarium")); });
        for (const bool thorough : {false, true}) {
            QElapsedTimer clock;
            clock.start();
            const BasketListing::RecentFound found = search(since, thorough, {});
            std::printf("%s: %lld found in %lld ms%s\n", thorough ? "thorough" : "quick", qlonglong(found.files.size()),
                        clock.elapsed(), found.cutShort ? ", cut short" : "");
        }
        return 0;
    }

    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    const QString h = root.filePath(QStringLiteral("home"));
    const QString outside = root.filePath(QStringLiteral("outside"));
    QDir().mkpath(outside);
    generate(h);
    std::printf("generated home: %d files\n", made);
    QThread::msleep(1100); // whole seconds apart: find compares inode times to the marker's
    const QString marker = root.filePath(QStringLiteral("marker"));
    touch(marker);
    const QDateTime cut = QFileInfo(marker).lastModified().toUTC();
    QThread::msleep(1100);
    const Arrivals arrivals = arrive(h, outside);
    std::printf("pictures that arrived where they count: %d\n", arrivals.expected);

    QStringList findNames, fdExts;
    for (const char* ext : pictureExts) {
        findNames << QStringLiteral("-iname '*.%1'").arg(QLatin1String(ext));
        fdExts << QStringLiteral("-e %1").arg(QLatin1String(ext));
    }
    const QString self = QCoreApplication::applicationFilePath();
    const QString ours = QStringLiteral("'%1' --search '%2' %3").arg(self, h).arg(cut.toMSecsSinceEpoch());
    const QString find =
        QStringLiteral("find '%1' -name '.*' -prune -o -name node_modules -prune -o -type f \\( %2 \\) "
                       "-cnewer '%3' -print | wc -l")
            .arg(h, findNames.join(QStringLiteral(" -o ")), marker);
    const QString fd =
        QStringLiteral("fdfind --no-ignore --type f --exclude node_modules %1 --changed-after '%2' . '%3' "
                       "| wc -l")
            .arg(fdExts.join(u' '), cut.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), h);
    std::printf("found: ours %s, find -cnewer %s, fdfind --changed-after %s\n", qPrintable(run(ours)),
                qPrintable(run(find)), qPrintable(run(fd)));
    std::fflush(stdout);
    QProcess::execute(QStringLiteral("hyperfine"),
                      {QStringLiteral("--warmup"), QString::number(Quick::count(1)), QStringLiteral("--runs"),
                       QString::number(Quick::size(3, 2)), QStringLiteral("-n"), QStringLiteral("ours"), ours,
                       QStringLiteral("-n"), QStringLiteral("find"), find, QStringLiteral("-n"),
                       QStringLiteral("fdfind"), fd});

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
