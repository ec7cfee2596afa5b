#include "Desktop.h"

#include "imaging/HostilePdfs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/xattr.h>

// The running copy stays up and answers: a stopped copy keeps its place, hostile files are refused within
// their limits while later launches are still answered, and nothing is left running after the app ends.

namespace {

QString write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

// A later launch handing over a reopen: whether the running copy answered it (a busy copy leaves it
// pending and the launcher says so), and how long that took.
struct Answer {
    bool answered = false;
    qint64 ms = 0;
};
Answer launchAgain(Desktop& desktop) {
    QProcess p;
    p.setProcessEnvironment(desktop.environment());
    QElapsedTimer clock;
    clock.start();
    p.start(PICTOLARIUM_BIN, {});
    p.waitForFinished(15000);
    return {p.exitCode() == 0 && !p.readAllStandardError().contains("busy"), clock.elapsed()};
}

QStringList visibleFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(Robustness, AStoppedCopyKeepsItsPlaceAndTakesTheRequestOnceItRuns) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QString picture = desktop.folder("in") + "/late.png";
    QImage image(200, 150, QImage::Format_RGB32);
    image.fill(QColor(40, 140, 210));
    ASSERT_TRUE(image.save(picture));

    const qint64 pid = desktop.app()->processId();
    ::kill(pid_t(pid), SIGSTOP);
    int code = -1;
    // Returns only when the launcher gave up waiting: a second copy would keep running until the timeout.
    desktop.run(PICTOLARIUM_BIN, {picture}, &code, 20000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(QFileInfo::exists(desktop.runtimeDir() + "/pictolarium.socket"));
    ::kill(pid_t(pid), SIGCONT);

    QList<quint32> cards;
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return !(cards = desktop.windowsByName("Pictolarium Card")).isEmpty(); }, 10000));
    EXPECT_EQ(visibleFiles(desktop.shotsFolder()), QStringList{"late.png"});
    // The card stays off the panel's task list and the pager.
    const QString state = desktop.run("xprop", {"-id", QString::number(cards.first()), "_NET_WM_STATE"});
    EXPECT_TRUE(state.contains("_NET_WM_STATE_SKIP_TASKBAR")) << state.toStdString();
    EXPECT_TRUE(state.contains("_NET_WM_STATE_SKIP_PAGER")) << state.toStdString();
    EXPECT_TRUE(launchAgain(desktop).answered);
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
}

TEST(Robustness, HostileFilesAreRefusedWithinTheirLimitsWhileTheAppAnswers) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QString in = desktop.folder("in");
    QDir().mkpath(desktop.shotsFolder());

    QStringList hostile{
        write(in + "/busy.pdf", HostilePdfs::busyPage(1'400'000)),
        write(in + "/inflating.pdf", HostilePdfs::inflating(qint64(1) << 30)),
        write(in + "/random.png", QByteArray(100000, '\x33')),
    };
    const QString pipe = in + "/x.png";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    hostile << pipe;

    for (const QString& file : hostile) {
        int code = -1;
        desktop.run(PICTOLARIUM_BIN, {file}, &code, 5000);
        EXPECT_EQ(code, 0) << file.toStdString();
        // While the decoder works (up to its ten seconds), later launches are still answered at once.
        qint64 slowest = 0;
        for (int i = 0; i < 3; ++i) {
            const Answer answer = launchAgain(desktop);
            EXPECT_TRUE(answer.answered) << file.toStdString();
            slowest = std::max(slowest, answer.ms);
        }
        std::printf("%s: later launches answered within %lld ms\n", qPrintable(QFileInfo(file).fileName()),
                    static_cast<long long>(slowest));
        // Its message comes as a toast, and no card: the word that it is being read comes first, while the
        // decoder's copy of it is still staged in the folder.
        EXPECT_TRUE(Desktop::waitUntil(
            [&] {
                return !desktop.windowsByName("Pictolarium Toast").isEmpty() &&
                       visibleFiles(desktop.shotsFolder()).isEmpty();
            },
            15000))
            << file.toStdString();
        EXPECT_TRUE(desktop.windowsByName("Pictolarium Card").isEmpty()) << file.toStdString();
        Desktop::pause(300);
    }
    desktop.screenshot(Desktop::shotsDir() + "/robustness-refused.png");
    // Nothing unreadable was copied in, and the memory went back.
    EXPECT_EQ(visibleFiles(desktop.shotsFolder()), QStringList());
    const qint64 rss = Desktop::memoryKb(desktop.app()->processId());
    std::printf("resident after the hostile files: %lld kB\n", static_cast<long long>(rss));
    EXPECT_GT(rss, 0);
#ifndef PICTOLARIUM_SANITIZED
    EXPECT_LT(rss, 100 * 1024);
#endif
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
}

TEST(Robustness, StartsAndQuitsLeaveNoBusDaemonAndEndAtOnce) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    // Daemons started for this desktop carry its display in their environment.
    const QByteArray ours = "DISPLAY=" + desktop.display().toUtf8();
    const auto busDaemons = [&] {
        int count = 0;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(entry));
            if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("dbus-"))
                continue;
            QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(ours))
                ++count;
        }
        return count;
    };
    qint64 slowest = 0;
    for (int i = 0; i < 20; ++i) {
        QProcess* app = desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp()) << i;
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(app->processId()), i % 2 ? SIGINT : SIGTERM);
        ASSERT_TRUE(app->waitForFinished(10000)) << i;
        slowest = std::max(slowest, clock.elapsed());
        EXPECT_EQ(app->exitStatus(), QProcess::NormalExit) << i;
        EXPECT_EQ(app->exitCode(), 0) << i;
        // An orderly end takes the socket with it, so the next start does not mistake it for a running copy.
        EXPECT_FALSE(QFileInfo::exists(desktop.runtimeDir() + "/pictolarium.socket")) << i;
        Desktop::pause(100);
    }
    std::printf("slowest quit on a signal: %lld ms\n", static_cast<long long>(slowest));
    EXPECT_EQ(busDaemons(), 0);
}

// The display going away under the running copy (a logout, a display restart): the program ends by itself,
// without a signal (a core and a crash report at every logout otherwise), whether idle or writing a capture,
// and the capture folder holds no half file: a hidden file being written is gone, a picture is whole.
TEST(Robustness, TheDisplayGoingAwayEndsTheProgramWithoutASignalOrAHalfFile) {
    for (const bool capturing : {false, true}) {
        Desktop::Options options;
        // A large screen of noise, so that writing its capture takes long enough to end the display during it.
        if (capturing)
            options.size = QSize(4000, 3000);
        Desktop desktop(options);
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        QProcess* app = desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp());
        const QString folder = desktop.shotsFolder();
        if (capturing) {
            // Speckles tiled over the root window: a bitmap of random bits.
            QByteArray bitmap = "#define noise_width 1000\n#define noise_height 1000\nstatic char noise_bits[] = {\n";
            quint32 seed = 12345;
            for (int i = 0; i < 1000 * 1000 / 8; ++i) {
                seed = seed * 1664525u + 1013904223u;
                bitmap += (i ? (i % 12 ? ", " : ",\n") : "") + QByteArray("0x") + QByteArray::number(seed >> 24, 16);
            }
            const QString background = write(desktop.folder("in") + "/noise.xbm", bitmap + "};\n");
            int code = -1;
            desktop.run("xsetroot", {"-bitmap", background, "-fg", "#3060c0", "-bg", "#f0e0a0"}, &code, 60000);
            ASSERT_EQ(code, 0);
            desktop.moveTo(QPoint(2000, 1500));
            desktop.xdotool({"key", "super+shift+d"});
            // The tool writes into a file without a name: the display goes while it runs.
            const bool writing = Desktop::waitUntil(
                [&] {
                    return !desktop.run("pgrep", {"-f", "pictolarium-screencapture"}).trimmed().isEmpty();
                },
                15000, 5);
            ASSERT_TRUE(writing) << "the capture never started";
            Desktop::pause(300);
        }
        desktop.killDisplay();
        ASSERT_TRUE(app->waitForFinished(15000)) << capturing;
        EXPECT_EQ(app->exitStatus(), QProcess::NormalExit) << capturing << desktop.appStderr().toStdString();
        EXPECT_TRUE(desktop.appStderr().contains("the display went away")) << desktop.appStderr().toStdString();
        EXPECT_FALSE(desktop.appStderr().contains("terminate called")) << capturing;
        for (const QString& name : visibleFiles(folder)) {
            EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
            QImageReader reader(folder + '/' + name);
            EXPECT_FALSE(reader.read().isNull()) << name.toStdString() << ": " << reader.errorString().toStdString();
        }
    }
}

// The display going away a second after an editor's Return on a large picture (a logout): the program ends only
// once the picture is written, no name holds a part of it, and an annotated one can be edited again: its edit was
// stored before the picture took its name.
TEST(Robustness, TheDisplayGoingAwayWhileAnEditorWritesEndsWithTheWholeFile) {
    const struct {
        const char* tool;
        const char* title;
        const char* made;
    } editors[] = {
        {"crop", "^Pictolarium Crop$", "large crop.png"},
        {"annotate", "^Pictolarium Annotate$", "large annotated.png"},
    };
    // Noise, which takes seconds to write as a PNG, at the size of a large camera picture.
    QImage picture(12000, 8000, QImage::Format_RGB32);
    quint32 state = 2463534242u;
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            row[x] = 0xff000000u | (state & 0xffffffu);
        }
    }
    for (const auto& e : editors) {
        SCOPED_TRACE(e.tool);
        Desktop desktop;
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        // The editor's tool alone on the card.
        QStringList hidden{"crop",   "annotate", "resize", "rotate",  "text",     "pin",   "translate",
                           "redact", "cutout",   "scroll", "rename",  "compress", "share", "library"};
        hidden.removeOne(QString::fromLatin1(e.tool));
        ASSERT_TRUE(desktop.writeCardSettings(hidden));
        const QString large = desktop.home() + "/large.jpg";
        ASSERT_TRUE(picture.save(large, "JPEG", 95));
        QProcess* app = desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp());
        const quint32 card = desktop.openCard(large);
        ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
        desktop.click(desktop.pillButton(card, 1, false, 0));
        const quint32 editor = desktop.waitVisible(e.title, true, 20000);
        ASSERT_NE(editor, 0u) << desktop.appStderr().toStdString();
        const QRect window = desktop.clientGeometry(editor);
        // From near the picture's top-left corner to past its bottom-right one: most of it cropped, or an arrow.
        desktop.drag({window.center() - QPoint(250, 140), window.center() + QPoint(290, 220)});
        desktop.key("Return");
        Desktop::pause(1000);
        desktop.killDisplay();
        ASSERT_TRUE(app->waitForFinished(120000));
        EXPECT_TRUE(desktop.appStderr().contains("the display went away")) << desktop.appStderr().toStdString();
        const QString folder = desktop.shotsFolder();
        EXPECT_EQ(visibleFiles(folder).join(" | ").toStdString(), std::string(e.made) + " | large.jpg");
        const QString made = folder + '/' + e.made;
        int code = -1;
        const QString judged = desktop.run("identify", {"-regard-warnings", made}, &code, 60000);
        EXPECT_EQ(code, 0) << judged.toStdString();
        if (QByteArrayView(e.tool) != "annotate")
            continue;
        char id[64] = {};
        const ssize_t got = ::getxattr(QFile::encodeName(made).constData(), "user.com.quillmerette.picto.edit", id,
                                       sizeof id - 1);
        ASSERT_GT(got, 0) << "the annotated picture names no edit";
        const QString edits = desktop.environment().value("XDG_DATA_HOME") + "/Pictolarium/Edits/" + QString::fromUtf8(id);
        desktop.run("python3", {"-c", "import json,sys; json.load(open(sys.argv[1]))", edits + ".json"}, &code, 60000);
        EXPECT_EQ(code, 0) << "the edit record is missing or cut short";
        desktop.run("identify", {"-regard-warnings", edits + ".png"}, &code, 60000);
        EXPECT_EQ(code, 0) << "the edit's picture is missing or cut short";
    }
}

// On a folder that knows no file without a name and no hard link (a USB stick's FAT, slow to flush), the copy of a
// file handed over is made byte by byte and flushed when it is named, and the settings the start writes are
// flushed too: seconds, and none of them on the thread that answers the user.
TEST(Robustness, AFileOpenedWhereNothingCanBeLinkedNeverStopsTheProgram) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.setEnvironment("LD_PRELOAD", NO_LINKS);
#ifdef PICTOLARIUM_SANITIZED
    // The checker wants its runtime first among the libraries a program starts with; the shim, which only wraps
    // file calls, may come before it.
    desktop.setEnvironment("ASAN_OPTIONS",
                           desktop.environment().value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
#endif
    const QString slow = desktop.folder("in") + "/slow";
    desktop.setEnvironment("NO_LINKS_SLOW_FLUSH", slow);
    write(slow, "");
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    // A small picture at the start of a long file, as a download written into a file of its final size.
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString file = desktop.folder("in") + "/padded.png";
    ASSERT_TRUE(picture.save(file, "PNG"));
    const qint64 size = qint64(64) << 20;
    ASSERT_TRUE(QFile::resize(file, size));
    desktop.run(PICTOLARIUM_BIN, {file});
    EXPECT_TRUE(Desktop::waitUntil([&] { return !desktop.windowsByName("Pictolarium Card").isEmpty(); }, 60000));
    EXPECT_EQ(visibleFiles(desktop.shotsFolder()), QStringList{"padded.png"});
    EXPECT_EQ(QFileInfo(desktop.shotsFolder() + "/padded.png").size(), size);
    // Nor any stall, however short, while the copy was named (a stall is told once it has ended).
    Desktop::pause(1000);
    const QString said = desktop.appStderr();
    EXPECT_FALSE(said.contains("AppDelegate::finishOpening")) << said.toStdString();
}

// The display going away while a slow page opens leaves no file behind, and the decoder ends with the program.
TEST(Robustness, TheDisplayGoingAwayWhileAFileOpensLeavesNoTemporaryFile) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    const QString temp = desktop.folder("tmp");
    desktop.setEnvironment("TMPDIR", temp);
    QProcess* app = desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QString file = write(desktop.folder("in") + "/heavy.pdf", HostilePdfs::busyPage(1'400'000));
    desktop.run(PICTOLARIUM_BIN, {file});
    QString decoder;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            decoder = desktop.run("pgrep", {"-P", QString::number(app->processId()), "pictolarium-dec"}).trimmed();
            return !decoder.isEmpty();
        },
        10000, 20));
    Desktop::pause(800); // its copy of the file is made before it draws
    desktop.killDisplay();
    ASSERT_TRUE(app->waitForFinished(30000));
    EXPECT_TRUE(desktop.appStderr().contains("the display went away")) << desktop.appStderr().toStdString();
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(temp).entryList(all).join(' ').toStdString(), "");
    EXPECT_EQ(QDir(desktop.shotsFolder()).entryList(all).join(' ').toStdString(), "");
    EXPECT_TRUE(Desktop::waitUntil([&] { return !QFileInfo::exists("/proc/" + decoder); }, 5000))
        << "the decoder outlived the program";
}
