// Every writer of the program, killed at random moments of its write: no name is ever left holding an empty or
// cut-off file. Each file found afterwards is judged by a reader of its own kind that is not ours (ImageMagick's
// identify, qpdf, Python's JSON parser).

#include "editors/EditStore.h"
#include "platform/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <limits>
#include <sys/file.h>
#include <thread>
#include <vector>

namespace {

// Whether another program reads the file as whole; empty when it does, else why not.
QString judged(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable");
    const QByteArray head = file.read(8);
    if (head.isEmpty())
        return QStringLiteral("empty");
    QProcess reader;
    if (head.startsWith("\x89PNG") || head.startsWith("\xff\xd8"))
        reader.start(QStringLiteral("identify"), {QStringLiteral("-regard-warnings"), path});
    else if (head.startsWith("%PDF"))
        reader.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    else if (head.startsWith("{"))
        reader.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"), QStringLiteral("import json,sys; json.load(open(sys.argv[1]))"), path});
    else
        return QStringLiteral("of no known kind");
    reader.waitForFinished(60000);
    // qpdf's 3 is a file it read whole with warnings.
    const bool whole = reader.exitStatus() == QProcess::NormalExit &&
                       (reader.exitCode() == 0 || (head.startsWith("%PDF") && reader.exitCode() == 3));
    return whole ? QString() : QString::fromUtf8(reader.readAllStandardError()).left(200);
}

QStringList filesIn(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

struct Writer {
    QProcess process;
    QElapsedTimer clock;
};

// Starts the writer and waits until it is about to write.
bool startWriter(Writer& run, const QString& writer, const QString& folder, bool noLinks) {
    if (noLinks) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(NO_LINKS));
        // In a sanitized build the sanitizer's runtime would refuse to start behind the preloaded library.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
        run.process.setProcessEnvironment(env);
    }
    run.process.setProgram(QStringLiteral(WRITE_ONCE));
    run.process.setArguments({writer, folder});
    run.process.start();
    while (run.process.canReadLine() || run.process.waitForReadyRead(30000))
        if (run.process.readLine().trimmed() == "ready") {
            run.clock.start();
            return true;
        }
    return false;
}

// How many rows saw what a killed write left under a hidden name swept.
std::atomic<int> leftoversSwept{0};

// What a killed write left under a hidden name of ours goes at the next write in its folder, once it is old; a
// young one, or an old one still locked by the instance writing it, stays. False when the writer failed.
bool sweepsLeftovers(const QString& writer, QTemporaryDir& folder) {
    const auto hidden = [&] {
        return QDir(folder.path()).entryList({QStringLiteral(".pictolarium-*")}, QDir::Files | QDir::Hidden);
    };
    const QStringList left = hidden();
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    for (const QString& name : left) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(old, QFileDevice::FileModificationTime))
            return false;
    }
    QFile young(folder.filePath(QStringLiteral(".pictolarium-young"))),
        busy(folder.filePath(QStringLiteral(".pictolarium-busy")));
    if (!young.open(QIODevice::WriteOnly) || !busy.open(QIODevice::WriteOnly) ||
        !busy.setFileTime(old, QFileDevice::FileModificationTime) || ::flock(busy.handle(), LOCK_EX) != 0)
        return false;
    Writer run;
    if (!startWriter(run, writer, folder.path(), true) || !run.process.waitForFinished(120000) ||
        run.process.exitCode() != 0)
        return false;
    QStringList stayed = hidden();
    stayed.sort();
    EXPECT_EQ(stayed.join(u' ').toStdString(), ".pictolarium-busy .pictolarium-young")
        << "left before: " << left.join(u' ').toStdString();
    return true;
}

// Kills the writer at random moments of its write, `kills` times, and judges what each run left.
void killRepeatedly(const char* writer, const char* file, bool noLinks, int kills) {
    // Uninterrupted, three times: that the write succeeds, and how long it takes at the least, so that the kills
    // land inside it however busy the machine is.
    qint64 writeMs = std::numeric_limits<qint64>::max();
    for (int i = 0; i < 3; ++i) {
        QTemporaryDir folder;
        Writer run;
        ASSERT_TRUE(startWriter(run, QString::fromUtf8(writer), folder.path(), noLinks));
        ASSERT_TRUE(run.process.waitForFinished(120000));
        writeMs = std::min(writeMs, run.clock.elapsed());
        ASSERT_EQ(run.process.exitCode(), 0) << run.process.readAllStandardError().toStdString();
        EXPECT_TRUE(judged(folder.filePath(QString::fromUtf8(file))).isEmpty());
    }
    const bool annotated = QByteArrayView(writer) == "annotated";
    // Until `kills` runs were cut short inside the write; a run that ended first says the machine is quicker now.
    int cutShort = 0;
    bool swept = !noLinks;
    for (int runs = 0; cutShort < kills && runs < 4 * kills; ++runs) {
        QTemporaryDir folder;
        if (annotated)
            QDir(EditStore::dir()).removeRecursively();
        Writer run;
        ASSERT_TRUE(startWriter(run, QString::fromUtf8(writer), folder.path(), noLinks));
        const qint64 at = QRandomGenerator::global()->bounded(writeMs + 1);
        QThread::msleep(at);
        ::kill(pid_t(run.process.processId()), SIGKILL);
        run.process.waitForFinished(30000);
        if (run.process.readAllStandardOutput().contains("done"))
            writeMs = std::max<qint64>(20, writeMs * 3 / 4);
        else
            ++cutShort;
        for (const QString& folderOfFiles :
             annotated ? QStringList{folder.path(), EditStore::dir()} : QStringList{folder.path()})
            for (const QString& file : filesIn(folderOfFiles)) {
                // Where files cannot be made without a name, a kill while the whole file is copied to its name
                // leaves the copy under a hidden one of its own.
                if (noLinks && QFileInfo(file).fileName().startsWith(QLatin1String(".pictolarium-")))
                    continue;
                const QString why = judged(file);
                EXPECT_TRUE(why.isEmpty()) << "killed after " << at << " ms of " << writeMs << ": "
                                           << file.toStdString() << " is " << why.toStdString();
            }
        const QString made = folder.filePath(QString::fromUtf8(file));
        // The old picture stays until the new one takes its place.
        if (QByteArrayView(writer) == "in place")
            EXPECT_TRUE(QFile::exists(made)) << "killed after " << at << " ms: the picture is gone";
        if (annotated && QFile::exists(made))
            EXPECT_TRUE(EditStore::load(QUrl::fromLocalFile(made)))
                << "killed after " << at << " ms: the picture is there without its edit";
        if (!swept &&
            !QDir(folder.path()).entryList({QStringLiteral(".pictolarium-*")}, QDir::Files | QDir::Hidden).isEmpty()) {
            swept = true;
            EXPECT_TRUE(sweepsLeftovers(QString::fromUtf8(writer), folder));
            ++leftoversSwept;
        }
    }
    EXPECT_EQ(cutShort, kills) << "the kills came after the writes";
}

} // namespace

TEST(WritesKilled, NoNameEverHoldsAPartOfAFile) {
    const struct {
        const char* writer;
        // The file the write makes or replaces, which must be whole once it is there.
        const char* file;
        // In a folder that knows no files without a name and no hard links.
        bool noLinks = false;
    } writers[] = {
        // A crop, a cut-out, a redaction, a stitched page, a backdrop: beside the picture.
        {"beside", "p crop.png"},
        // An annotated picture written again over itself.
        {"in place", "p.png"},
        // An annotated picture and its edit, which must reopen whenever the picture is there.
        {"annotated", "p annotated.png"},
        // A conversion from the basket or the wheel.
        {"converted", "p.jpg"},
        {"settings", "settings.json"},
        // A page put back into a PDF.
        {"document", "doc.pdf"},
        {"beside", "p crop.png", true},
        {"in place", "p.png", true},
        {"annotated", "p annotated.png", true},
    };
    constexpr int kills = 50;
    // The writers run side by side, each in folders of its own; only the edit store is shared, and the annotating
    // rows, which use it, run one after the other, as do those without links, so that the machine stays as busy
    // as when the kills' moments were measured.
    std::vector<std::thread> rows;
    const auto run = [](const auto& w) {
        SCOPED_TRACE(std::string(w.writer) + (w.noLinks ? " without links" : ""));
        killRepeatedly(w.writer, w.file, w.noLinks, kills);
    };
    const auto annotating = [](const auto& w) { return QByteArrayView(w.writer) == "annotated"; };
    for (const auto& w : writers)
        if (!annotating(w) && !w.noLinks)
            rows.emplace_back([&run, w] { run(w); });
    for (const bool annotated : {true, false})
        rows.emplace_back([&, annotated] {
            for (const auto& w : writers)
                if (annotating(w) == annotated && (annotated || w.noLinks))
                    run(w);
        });
    for (std::thread& row : rows)
        row.join();
    // Which kills leave something behind is chance; among so many, some do.
    EXPECT_GT(leftoversSwept, 0);
}
