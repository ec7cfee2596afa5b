#include "imaging/IsolatedDecode.h"

#include "HostilePdfs.h"
#include "PictureFiles.h"

#include "imaging/BoundedLoad.h"
#include "imaging/ChildProcesses.h"
#include "platform/UnnamedFile.h"
#include "support/ManyPictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <optional>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>

using namespace PictureFiles;

namespace {

IsolatedDecode::Job jobFor(const QString& path, ImageFormat format, const QString& copyInto = {}) {
    IsolatedDecode::Job job;
    job.source = path;
    job.pdf = format == ImageFormat::pdf;
    job.format = format;
    job.copyInto = copyInto;
    return job;
}

IsolatedDecode::Result decode(const QString& path, ImageFormat format, const QString& copyInto = {},
                              int timeLimitMs = IsolatedDecode::timeLimitMs) {
    IsolatedDecode::Job job = jobFor(path, format, copyInto);
    job.timeLimitMs = timeLimitMs;
    return IsolatedDecode::run(job);
}

// A GIF of a few dozen bytes whose header and single frame claim 16000 × 16000 pixels with a transparent colour:
// a gigabyte to fill, and to premultiply.
QByteArray hugeGif() {
    return QByteArray::fromHex(
        "474946383961803e803e800000000000ffffff21f90401000000002c00000000803e803e0002024401003b");
}

// A red GIF of 64 × 48 pixels.
QByteArray redGif() {
    return QByteArray::fromHex("47494638396140003000f00000ff000000000021f90400000000002c0000000040003000000239848fa9"
                               "cbed0fa39cb4da8bb3debcfb0f86e24896e689a6eacab6ee0bc7f24cd7f68de7facef7fe0f0c0a87c4a2"
                               "f1884c2a97cca6f3098d260b003b");
}

// A BMP header claiming 16000 × 16000 pixels of 24 bits, and no pixels.
QByteArray hugeBmp() {
    return QByteArray::fromHex("424d36000000000000003600000028000000803e0000803e00000100180000000000000000001"
                               "30b0000130b00000000000000000000");
}

} // namespace

TEST(IsolatedDecode, DecodesWithTheClaimedReaderAndCopiesTheBytesItDecoded) {
    Folder folder;
    const QImage picture = markers(4, 3, 16);
    const QByteArray jpeg = encoded(picture, "jpeg", 95);
    folder.write(QStringLiteral("a.jpg"), jpeg);
    const auto result = decode(folder.path(QStringLiteral("a.jpg")), ImageFormat::jpeg, folder.root());
    ASSERT_TRUE(result.ok()) << result.failure.toStdString();
    EXPECT_EQ(result.image.size(), QSize(64, 48));
    EXPECT_TRUE(near(result.image.pixelColor(8, 8), Qt::red));
    ASSERT_TRUE(result.copy);
    ASSERT_EQ(result.copy->link(folder.path(QStringLiteral("copy.jpg"))), 0);
    EXPECT_EQ(folder.read(QStringLiteral("copy.jpg")), jpeg);
    EXPECT_EQ(result.copy->link(folder.path(QStringLiteral("a.jpg"))), EEXIST) << "a name taken is not replaced";
    EXPECT_EQ(folder.read(QStringLiteral("a.jpg")), jpeg);

    // A photo whose one scan runs longer than the end looked at for its end marker, whole and cut short.
    QImage noise(1800, 1800, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 241, (x + y * 31) % 239));
    const QByteArray photo = encoded(noise, "jpeg", 100);
    ASSERT_GT(photo.size(), 5 << 20);
    folder.write(QStringLiteral("photo.jpg"), photo);
    folder.write(QStringLiteral("cut.jpg"), photo.chopped(1000));
    EXPECT_EQ(decode(folder.path(QStringLiteral("photo.jpg")), ImageFormat::jpeg).image.size(), QSize(1800, 1800));
    EXPECT_EQ(decode(folder.path(QStringLiteral("cut.jpg")), ImageFormat::jpeg).failure.toStdString(),
              "it is not a readable JPEG picture");

    // Small, a one-colour WebP decodes: refused when huge, it is the memory limit that stops it.
    folder.write(QStringLiteral("small.webp"), ManyPictures::oneColourWebp(64, 48));
    const auto small = decode(folder.path(QStringLiteral("small.webp")), ImageFormat::webp);
    ASSERT_TRUE(small.ok()) << small.failure.toStdString();
    EXPECT_EQ(small.image.size(), QSize(64, 48));
    EXPECT_EQ(small.image.pixelColor(10, 10), QColor(48, 128, 192));
}

TEST(IsolatedDecode, RefusesHostileAndBrokenFilesWithAReason) {
    Folder folder;
    const QByteArray png = encoded(markers(2, 2, 8), "png");
    QImage vast(20000, 20000, QImage::Format_Mono);
    vast.fill(0);
    struct Case {
        const char* name;
        QByteArray bytes;
        ImageFormat format;
        const char* failure;
    };
    const Case cases[] = {
        {"huge.png", pngClaiming(60000, 60000), ImageFormat::png, "the picture is too large"},
        // Sound, and within what a header may claim, but past the memory the child may take.
        {"vast.png", encoded(vast, "png"), ImageFormat::png, "the picture is too large"},
        // 32 bytes that decode to a gigabyte: the memory limit holds for every decoder.
        {"huge.webp", ManyPictures::oneColourWebp(16383, 16383), ImageFormat::webp, "the picture is too large"},
        // Only the reader of the claimed format runs: a vector drawing named .png is no PNG, whatever it links.
        {"drawing.png",
         "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='8' height='8'>"
         "<image xlink:href='file:///etc/passwd' width='8' height='8'/></svg>",
         ImageFormat::png, "it is not a readable PNG picture"},
        {"png-named.jpg", png, ImageFormat::jpeg, "it is not a readable JPEG picture"},
        {"broken.pdf", QByteArray("%PDF-1.4\nnothing else"), ImageFormat::pdf, "it is not a readable PDF"},
        {"locked.pdf", encryptedPdf(), ImageFormat::pdf, "it is protected by a password"},
    };
    // The program's own budget: what is refused must be refused by the child, not on its way back.
    const int budget = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(2048);
    for (const Case& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        folder.write(name, c.bytes);
        const auto result = decode(folder.path(name), c.format);
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.failure.toStdString(), c.failure) << c.name;
    }
    QImageReader::setAllocationLimit(budget);
}

// The program's own reads (a copy, the newest screenshot): by content whatever the name, through the child; never
// before the call has returned, and never holding the thread that called while the picture is decoded; refused in
// the words of opening. A file that can't be opened says why, not that it is no picture.
TEST(IsolatedDecode, TheProgramsOwnReadsGoTheSameWayWithoutBlocking) {
    Folder folder;
    const QByteArray png = encoded(markers(2, 2, 8), "png");
    // A file no one may read, one in a folder no one may pass through, and two links that lead to each other.
    const QString locked = folder.write(QStringLiteral("locked.png"), png).toLocalFile();
    ASSERT_TRUE(QDir().mkpath(folder.path(QStringLiteral("shut"))));
    folder.write(QStringLiteral("shut/in.png"), png);
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    ASSERT_TRUE(QFile::setPermissions(folder.path(QStringLiteral("shut")), QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(QFile::link(QStringLiteral("loop-b.png"), folder.path(QStringLiteral("loop.png"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("loop.png"), folder.path(QStringLiteral("loop-b.png"))));
    // Root may read anything: its decoder is started without that power, as a user's is.
    const QByteArray decoder =
        QFile::encodeName(ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode")));
    const QString script =
        folder
            .write(QStringLiteral("decode.sh"), "#!/bin/sh\n[ \"$(id -u)\" = 0 ] && exec setpriv --inh-caps=-all "
                                                "--bounding-set=-dac_override,-dac_read_search '" +
                                                    decoder + "' \"$@\"\nexec '" + decoder + "' \"$@\"\n")
            .toLocalFile();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    IsolatedDecode::setProgram(script);
    const struct {
        const char* name;
        QByteArray bytes;
        const char* failure; // empty: it loads
        qint64 pixelLimit = 0;
    } cases[] = {
        {"locked.png", {}, "there is no permission to read it"},
        {"shut/in.png", {}, "there is no permission to read it"},
        {"loop.png", {}, "it is a link that leads nowhere"},
        {"png-named.jpg", png, ""},
        {"worker.bmp", encoded(markers(2, 2, 8), "bmp"), ""},
        {"huge.webp", ManyPictures::oneColourWebp(16383, 16383), "the picture is too large"},
        {"notes.txt", "hello", "it is not a picture or PDF"},
        {"gone.png", {}, "the file is gone"},
        // Seconds of work on a gigabyte of pixels, and more than the child may hold once they are turned into ours.
        {"huge.gif", hugeGif(), "the picture is too large"},
        {"huge.bmp", hugeBmp(), "the picture is too large"},
        // Within the decoder's limits, but more than a copy may hold: refused before this process holds it.
        {"copied.gif", hugeGif(), "the picture is too large", BoundedLoad::copyPixelLimit},
        {"copied.webp", ManyPictures::oneColourWebp(8000, 8000), "the picture is too large",
         BoundedLoad::copyPixelLimit},
        // Far larger than the pixels a worker may hold, told by its start alone.
        {"vast.gif", QByteArray::fromHex("474946383961ffffffff800000000000ffffff2c00000000ffffffff0002024401003b"),
         "the picture is too large"},
    };
    // The program's own budget, under which the huge pictures are within reach.
    const int budget = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(2048);
    QObject context;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromLatin1(c.name);
        if (!c.bytes.isEmpty())
            folder.write(name, c.bytes);
        std::optional<IsolatedDecode::Result> result;
        // The longest the calling thread's event loop went without a turn, from the call on.
        QElapsedTimer sinceTurn;
        qint64 longestWait = 0;
        QTimer turns;
        QObject::connect(&turns, &QTimer::timeout, [&] { longestWait = std::max(longestWait, sinceTurn.restart()); });
        turns.start(10);
        sinceTurn.start();
        BoundedLoad::start(
            QUrl::fromLocalFile(folder.path(name)), &context, [&](const IsolatedDecode::Result& r) { result = r; },
            c.pixelLimit);
        EXPECT_FALSE(result.has_value());
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 15000));
        EXPECT_LT(longestWait, 300);
        EXPECT_EQ(result->failure.toStdString(), c.failure);
        EXPECT_EQ(result->ok(), !*c.failure);
        EXPECT_EQ(result->tooLarge, QByteArray(c.failure) == "the picture is too large");
    }
    QImageReader::setAllocationLimit(budget);
    IsolatedDecode::setProgram({});
    QFile::setPermissions(folder.path(QStringLiteral("shut")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A decoder without its HEIC module names the module rather than calling a sound picture unreadable.
TEST(IsolatedDecode, AMissingHeicModuleIsNamed) {
    Folder folder;
    const QString alone = folder.path(QStringLiteral("pictolarium-decode"));
    ASSERT_TRUE(
        QFile::copy(ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode")), alone));
    IsolatedDecode::setProgram(alone);
    const auto result =
        decode(folder.write(QStringLiteral("photo.heic"), heic(markers(2, 2, 16))).toLocalFile(), ImageFormat::heic);
    IsolatedDecode::setProgram({});
    EXPECT_TRUE(result.failure.startsWith(QStringLiteral("HEIC pictures can't be read: pictolarium-heif")))
        << result.failure.toStdString();
}

TEST(IsolatedDecode, APageThatTakesTooLongOrInflatesTooFarIsStoppedWithinItsLimits) {
    Folder folder;
    folder.write(QStringLiteral("busy.pdf"), HostilePdfs::busyPage(2'000'000));
    const auto busy = decode(folder.path(QStringLiteral("busy.pdf")), ImageFormat::pdf, {}, 1000);
    EXPECT_FALSE(busy.ok());
    EXPECT_EQ(busy.failure.toStdString(), "it takes too long to read");
    // Refused by the limits, as a picture too large is: a copy says so.
    EXPECT_TRUE(busy.tooLarge);

    folder.write(QStringLiteral("bomb.pdf"), HostilePdfs::inflating(qint64(1) << 30));
    const auto bomb = decode(folder.path(QStringLiteral("bomb.pdf")), ImageFormat::pdf);
    EXPECT_FALSE(bomb.ok());
    EXPECT_FALSE(bomb.failure.isEmpty());
}

// What the child writes has no name, while it works or after: an end without clean-up leaves nothing behind.
TEST(IsolatedDecode, NothingTheChildWritesHasANameUnlessTheCallerGivesItOne) {
    Folder folder;
    // The pixels go to the temporary folder, the copy to the one the job names: here one folder.
    const QString temp = folder.path(QStringLiteral("tmp")), gate = folder.path(QStringLiteral("gate")),
                  started = folder.path(QStringLiteral("started"));
    QDir().mkpath(temp);
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp));
    // The decoder waits for the gate, so that the folder can be looked at while it works.
    const QByteArray decoder =
        QFile::encodeName(ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode")));
    const QString script = folder
                               .write(QStringLiteral("decode.sh"),
                                      "#!/bin/sh\ncd \"${0%/*}\" && touch started\nwhile [ ! -e gate ]; do sleep "
                                      "0.02; done\nexec '" +
                                          decoder + "' \"$@\"\n")
                               .toLocalFile();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    IsolatedDecode::setProgram(script);
    const auto named = [&] {
        return QDir(temp)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
            .join(u' ')
            .toStdString();
    };
    const QByteArray png = encoded(markers(6, 4, 32), "png");
    for (const QByteArray& bytes : {QByteArray(5000, '\x33'), png}) {
        SCOPED_TRACE(bytes == png ? "decodes" : "broken");
        QFile::remove(gate);
        QFile::remove(started);
        QObject context;
        std::optional<IsolatedDecode::Result> result;
        IsolatedDecode::start(
            jobFor(folder.write(QStringLiteral("in.png"), bytes).toLocalFile(), ImageFormat::png, temp), &context,
            [&result](const IsolatedDecode::Result& r) { result = r; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(started); }, 10000));
        EXPECT_EQ(named(), "") << "while it works";
        QFile(gate).open(QIODevice::WriteOnly);
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 15000));
        EXPECT_EQ(result->ok(), bytes == png) << result->failure.toStdString();
        EXPECT_EQ(bool(result->copy), result->ok());
        EXPECT_EQ(named(), "") << "after";
    }
    IsolatedDecode::setProgram({});
    if (oldTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTemp);
}

// The child reads of a file what its decoder needs and no more: a small picture at the start of a gigabyte (a
// sparse download, a scan with many pages) costs its own bytes. Here a child whose memory is held far below a
// gigabyte by its starter; reading any such file whole would fail in it.
TEST(IsolatedDecode, TheChildReadsOfAFileWhatItsPictureNeeds) {
    Folder folder;
    const QByteArray decoder =
        QFile::encodeName(ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode")));
#if defined(__SANITIZE_ADDRESS__)
    // The checker maps its shadow of the whole address space before main, which a limit set from outside refuses;
    // the child's own limit, which counts from after that, is what holds it there.
    const QByteArray dataLimit;
#else
    const QByteArray dataLimit = "ulimit -d 393216\n";
#endif
    const QString script = folder
                               .write(QStringLiteral("decode.sh"),
                                      "#!/bin/sh\necho \"$1\" >> \"${0%/*}/ran\"\n" + dataLimit +
                                      // A file replaced by a pipe between the caller's look and the child's read.
                                      "if [ -e \"$2.pipe\" ]; then rm -f \"$2\"; mkfifo \"$2\"; fi\n"
                                      "exec '" +
                                          decoder + "' \"$@\"\n")
                               .toLocalFile();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    IsolatedDecode::setProgram(script);
    const QImage picture = markers(4, 3, 16);
    const qint64 gigabyte = qint64(1) << 30;
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 fileSize; // above the bytes' own: the rest is a hole
        ImageFormat format;
        int thumbnail;
        qint64 pixelLimit;
        const char* failure;      // empty: it loads
        bool programsOwn = false; // read as the program reads for itself, by its first bytes
    } cases[] = {
        {"scan.tif", encoded(picture, "tiff"), gigabyte, ImageFormat::tiff, 0, 0, ""},
        {"tile.tif", encoded(picture, "tiff"), gigabyte, ImageFormat::tiff, 32, 0, ""},
        {"padded.png", encoded(picture, "png"), gigabyte, ImageFormat::png, 0, 0, ""},
        {"padded.jpg", encoded(picture, "jpeg", 90), gigabyte - 1, ImageFormat::jpeg, 0, 0, ""},
        // A phone's photo with its moving picture after the end, whose bytes may hold what looks like a scan.
        {"motion.jpg",
         encoded(picture, "jpeg", 90) +
             QByteArray("\0\0\0\x18"
                        "ftypmp42\xFF\xDA\0\x08",
                        16) +
             QByteArray(3000, '\x5A'),
         0, ImageFormat::jpeg, 0, 0, ""},
        // More than the caller takes, told by the header alone: refused before the rest is read.
        {"claims.png", pngClaiming(8000, 8000), 0, ImageFormat::png, 0, BoundedLoad::copyPixelLimit,
         "the picture is too large"},
        // Kinds none of our formats claims go to the child as well.
        {"small.gif", redGif(), 0, ImageFormat::png, 0, 0, "", true},
        {"padded.bmp", encoded(picture, "bmp"), gigabyte, ImageFormat::png, 0, 0, "", true},
        {"huge.gif", hugeGif(), 0, ImageFormat::png, 0, 0, "the picture is too large", true},
        {"piped.png", encoded(picture, "png"), 0, ImageFormat::png, 0, 0, "it is not a regular file"},
        {"piped.gif", redGif(), 0, ImageFormat::png, 0, 0, "it is not a regular file", true},
        {"piped.pdf", pdf({QSizeF(200, 200)}), 0, ImageFormat::pdf, 0, 0, "it is not a regular file"},
    };
    QObject context;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.write(QString::fromLatin1(c.name), c.bytes).toLocalFile();
        if (QByteArray(c.name).startsWith("piped"))
            folder.write(QString::fromLatin1(c.name) + QStringLiteral(".pipe"), "");
        if (c.fileSize > 0)
            ASSERT_TRUE(QFile::resize(path, c.fileSize));
        IsolatedDecode::Job job = jobFor(path, c.format);
        job.thumbnail = c.thumbnail;
        job.pixelLimit = c.pixelLimit;
        std::optional<IsolatedDecode::Result> loaded;
        if (c.programsOwn)
            BoundedLoad::start(QUrl::fromLocalFile(path), &context,
                               [&loaded](const IsolatedDecode::Result& r) { loaded = r; });
        else
            loaded = IsolatedDecode::run(job);
        ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.has_value(); }, 15000));
        const IsolatedDecode::Result& result = *loaded;
        EXPECT_EQ(result.failure.toStdString(), c.failure);
        if (!*c.failure)
            EXPECT_EQ(result.image.size(), c.thumbnail ? QSize(32, 24) : QSize(64, 48));
        QFile::remove(path);
    }
    IsolatedDecode::setProgram({});
    EXPECT_EQ(folder.read(QStringLiteral("ran")).count('\n'), qsizetype(std::size(cases))) << "each in the child";
}

// A read whose caller went (a newer copy, a closed window) ends its child without waiting for it: a child taking
// down a gigabyte of pixels, or caught on a slow disk, takes its time, and the thread that answers the user must
// not spend it. Right after, the killed child is still there, if only to be reaped; soon after, it is not.
TEST(IsolatedDecode, AReadWhoseCallerWentEndsItsChildWithoutWaitingForIt) {
    Folder folder;
    // A decoder that never gets on with it.
    const QString script = folder
                               .write(QStringLiteral("decode.sh"), "#!/bin/sh\necho $$ > \"${0%/*}/pid.tmp\" && mv "
                                                                   "\"${0%/*}/pid.tmp\" \"${0%/*}/pid\"\nwhile :; do "
                                                                   "sleep 0.02; done\n")
                               .toLocalFile();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    IsolatedDecode::setProgram(script);
    const QString path = folder.write(QStringLiteral("a.png"), encoded(markers(2, 2, 8), "png")).toLocalFile();
    bool reported = false;
    auto* context = new QObject;
    IsolatedDecode::start(jobFor(path, ImageFormat::png), context, [&reported](const auto&) { reported = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(folder.path(QStringLiteral("pid"))); }, 10000));
    const pid_t pid = folder.read(QStringLiteral("pid")).trimmed().toInt();
    ASSERT_GT(pid, 0);
    delete context;
    EXPECT_EQ(::kill(pid, 0), 0) << "waited for";
    EXPECT_TRUE(QTest::qWaitFor([pid] { return ::kill(pid, 0) != 0; }, 5000)) << "left behind";
    EXPECT_FALSE(reported);
    IsolatedDecode::setProgram({});
}

// The look at the source and the making of the child's files are file-system work a stalled disk would hold up:
// none of it on the thread that starts a read. Here that thread is refused every look at a file by name and every
// file without a name, as a stalled disk would keep them from it; the read still comes back whole.
TEST(IsolatedDecode, TheThreadThatStartsAReadLooksAtNoFile) {
    Folder folder;
    const QString path = folder.write(QStringLiteral("a.png"), encoded(markers(2, 2, 8), "png")).toLocalFile();
    // Idle workers first: a thread the filtered one made would inherit its filter.
    std::atomic<int> waiting{0}, done{0};
    const int workers = QThreadPool::globalInstance()->maxThreadCount();
    for (int i = 0; i < workers; ++i)
        QThreadPool::globalInstance()->start([&waiting, &done, workers] {
            ++waiting;
            while (waiting < workers)
                QThread::msleep(1);
            ++done;
        });
    while (done < workers)
        QThread::msleep(1);
    QObject context;
    std::optional<IsolatedDecode::Result> result;
    bool filtered = false;
    std::thread([&] {
        const sock_filter rules[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_access, 9, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_newfstatat, 0, 2),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[3])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 7, 6),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_statx, 0, 2),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 4, 3),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, __O_TMPFILE, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{std::size(rules), const_cast<sock_filter*>(rules)};
        filtered = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                   ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0 && !QFileInfo::exists(path);
        if (filtered)
            IsolatedDecode::start(jobFor(path, ImageFormat::png), &context,
                                  [&result](const IsolatedDecode::Result& r) { result = r; });
    }).join();
    if (!filtered)
        GTEST_SKIP() << "this system lets no thread filter its own calls";
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 15000));
    EXPECT_EQ(result->failure.toStdString(), "");
    EXPECT_EQ(result->image.size(), QSize(16, 16));
}
