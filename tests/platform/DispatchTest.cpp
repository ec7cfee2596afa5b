#include "platform/Dispatch.h"
#include "platform/Notifications.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {
bool spinUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}
} // namespace

TEST(Dispatch, WorkFromAWorkerComesBackOnTheMainThread) {
    std::atomic<bool> onMain{false};
    std::atomic<bool> ran{false};
    Dispatch::global([&] {
        EXPECT_FALSE(Dispatch::isMainThread());
        Dispatch::main([&] {
            onMain = Dispatch::isMainThread();
            ran = true;
        });
    });
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain);
}

TEST(Dispatch, ADelayedBlockIsSkippedWhenItsOwnerIsGone) {
    bool keptRan = false, goneRan = false;
    auto* kept = new QObject();
    auto* gone = new QObject();
    Dispatch::after(30, kept, [&] { keptRan = true; });
    Dispatch::after(30, gone, [&] { goneRan = true; });
    delete gone;
    ASSERT_TRUE(spinUntil([&] { return keptRan; }));
    spinUntil([] { return false; }, 100);
    EXPECT_FALSE(goneRan);
    delete kept;
}

TEST(Notifications, ObserversHearTheirNameOnlyAndGoWithTheirOwner) {
    auto& center = Notifications::defaultCenter();
    int heard = 0;
    QVariant last;
    auto* owner = new QObject();
    center.observe(QStringLiteral("picto.shotsChanged"), owner, [&](const QVariant& object) {
        ++heard;
        last = object;
    });
    center.post(QStringLiteral("picto.other"));
    center.post(QStringLiteral("picto.shotsChanged"), QStringLiteral("/tmp/a.png"));
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(last, QVariant(QStringLiteral("/tmp/a.png")));
    delete owner;
    center.post(QStringLiteral("picto.shotsChanged"));
    EXPECT_EQ(heard, 1);
}
