#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <QFile>
#include <QLocalServer>

namespace {

// forward() blocks, so the listening side runs on its own thread with its own event loop.
struct Listener {
    explicit Listener(const QString& path) {
        thread.start();
        instance = new SingleInstance(path);
        instance->moveToThread(&thread);
        QMetaObject::invokeMethod(instance, [this] { listening = instance->listen(); }, Qt::BlockingQueuedConnection);
        QObject::connect(instance, &SingleInstance::reopenRequested, instance, [this] { ++reopens; });
        QObject::connect(instance, &SingleInstance::openRequested, instance,
                         [this](const QStringList& f) { files = f; });
    }
    ~Listener() {
        QMetaObject::invokeMethod(instance, [this] { delete instance; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    QThread thread;
    SingleInstance* instance = nullptr;
    bool listening = false;
    std::atomic<int> reopens{0};
    QStringList files;
};

} // namespace

TEST(SingleInstance, ASecondLaunchHandsOverReopenOrItsFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    Listener first(path);
    ASSERT_TRUE(first.listening);

    SingleInstance second(path);
    EXPECT_TRUE(second.forward({}));
    EXPECT_EQ(first.reopens.load(), 1);

    const QStringList files{QStringLiteral("/tmp/a b.png"), QStringLiteral("/tmp/ü.heic")};
    EXPECT_TRUE(second.forward(files));
    QThread::msleep(50);
    EXPECT_EQ(first.files, files);
}

TEST(SingleInstance, NobodyListeningMeansThisLaunchRunsAndTakesOverAStaleSocket) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("socket"));
    SingleInstance lone(path);
    EXPECT_FALSE(lone.forward({}, 200));

    // A socket file left behind by a crashed run.
    {
        QLocalServer crashed;
        ASSERT_TRUE(crashed.listen(path));
        crashed.setMaxPendingConnections(0);
        crashed.close();
    }
    QFile stale(path);
    if (!stale.exists()) {
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.close();
    }
    SingleInstance fresh(path);
    EXPECT_FALSE(fresh.forward({}, 200));
    EXPECT_TRUE(fresh.listen());
}
