#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

// The listener lives on this thread; each launch sends from a thread of its own, and every result is read
// here only after that thread has finished, so nothing depends on timing or on reads across threads.

namespace {

using Forwarded = SingleInstance::Forwarded;

struct Received {
    int reopens = 0;
    QList<QStringList> opened;
    void watch(SingleInstance& instance) {
        QObject::connect(&instance, &SingleInstance::reopenRequested, [this] { ++reopens; });
        QObject::connect(&instance, &SingleInstance::openRequested, [this](const QStringList& f) { opened.append(f); });
    }
};

// A second launch: sends from its own thread. With serve, this thread answers meanwhile; without, it stays
// as busy as a copy that is stopped or stuck in long work.
Forwarded launch(const QString& path, const QStringList& files, int timeoutMs, bool serve) {
    Forwarded result = Forwarded::NobodyRuns;
    std::unique_ptr<QThread> sender(QThread::create([&] { result = SingleInstance(path).send(files, timeoutMs); }));
    QEventLoop loop;
    QObject::connect(sender.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    sender->start();
    if (serve)
        loop.exec();
    sender->wait();
    return result;
}

// A socket file as a crashed copy leaves it: bound once, nobody listening any more.
bool leaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = path.toLocal8Bit();
    std::strncpy(address.sun_path, native.constData(), sizeof(address.sun_path) - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

} // namespace

TEST(SingleInstance, ASecondLaunchHandsOverReopenOrItsFilesAndIsAnsweredAfterQueuing) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    SingleInstance first(path);
    ASSERT_TRUE(first.listen());
    Received got;
    got.watch(first);

    EXPECT_EQ(launch(path, {}, 5000, true), Forwarded::Handled);
    const QStringList files{QStringLiteral("/tmp/a b.png"), QStringLiteral("/tmp/ü.heic")};
    EXPECT_EQ(launch(path, files, 5000, true), Forwarded::Handled);
    // "ok" comes once the request is queued; the request itself runs on the next turn of the loop.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(got.reopens, 1);
    ASSERT_EQ(got.opened.size(), 1);
    EXPECT_EQ(got.opened.first(), files);
}

TEST(SingleInstance, ABusyCopyKeepsItsSocketAndHandlesTheRequestOnceItRunsAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    SingleInstance first(path);
    ASSERT_TRUE(first.listen());
    Received got;
    got.watch(first);

    const QStringList files{QStringLiteral("/tmp/late.png")};
    EXPECT_EQ(launch(path, files, 150, false), Forwarded::Pending);
    // The launch that follows must neither remove the socket nor start listening beside the busy copy.
    SingleInstance third(path);
    EXPECT_FALSE(third.listen());
    EXPECT_TRUE(QFileInfo::exists(path));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !got.opened.isEmpty(); }, 20000));
    EXPECT_EQ(got.opened.first(), files);
    EXPECT_EQ(launch(path, {}, 5000, true), Forwarded::Handled);
}

TEST(SingleInstance, NobodyListeningMeansThisLaunchRunsAndTakesOverAStaleSocket) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    EXPECT_EQ(SingleInstance(path).send({}, 200), Forwarded::NobodyRuns);

    ASSERT_TRUE(leaveStaleSocket(path));
    SingleInstance fresh(path);
    EXPECT_EQ(fresh.send({}, 200), Forwarded::NobodyRuns);
    EXPECT_TRUE(fresh.listen());
    Received got;
    got.watch(fresh);
    EXPECT_EQ(launch(path, {}, 5000, true), Forwarded::Handled);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(got.reopens, 1);
}

// Launches at the same moment: each finds nobody listening, and only one may go on to listen. One still
// deciding (holding the lock beside the socket) keeps the other from listening, which hands its request over
// once the first listens.
TEST(SingleInstance, OfTwoLaunchesAtOnceOnlyOneListens) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    SingleInstance first(path), second(path);
    EXPECT_EQ(first.send({}, 200), Forwarded::NobodyRuns);
    EXPECT_EQ(second.send({}, 200), Forwarded::NobodyRuns);
    const int deciding = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(deciding, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(second.listen()) << "listened while another launch was deciding";
    ::close(deciding);
    EXPECT_TRUE(first.listen());
    EXPECT_FALSE(SingleInstance(path).listen()) << "a third launch listened beside the running copy";
    Received got;
    got.watch(first);
    EXPECT_EQ(launch(path, {}, 5000, true), Forwarded::Handled);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(got.reopens, 1);
}
