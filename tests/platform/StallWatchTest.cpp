#include "platform/StallWatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Keeps the main thread busy without letting the event loop turn.
[[gnu::noinline]] void holdTheLoopFor(int ms) {
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < ms)
        asm volatile("" ::: "memory");
}

void turnTheLoop(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// What the program writes to standard error while `run` runs.
QByteArray errorOutput(const std::function<void()>& run) {
    int ends[2];
    if (pipe(ends) != 0)
        return {};
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(ends[1], 2);
    run();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(ends[1]);
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, int(n));
    close(ends[0]);
    return out;
}

} // namespace

// A loop held past the threshold is reported once, naming the function that held it; a loop that turns, or a
// process stopped from outside (its every thread held), is not.
TEST(StallWatchTest, ReportsTheLoopHeldWithWhatHeldIt) {
    const QByteArray out = errorOutput([] {
        StallWatch watch(200);
        turnTheLoop(150);
        const pid_t self = getpid();
        const pid_t helper = fork(); // from outside: a thread of ours would be stopped too
        if (helper == 0) {
            usleep(50 * 1000);
            kill(self, SIGSTOP);
            usleep(400 * 1000);
            kill(self, SIGCONT);
            _exit(0);
        }
        turnTheLoop(600); // stopped for 400 ms in here
        waitpid(helper, nullptr, 0);
        QTimer::singleShot(0, [] { holdTheLoopFor(450); });
        turnTheLoop(600); // the hold and the beat after it
    });
    EXPECT_EQ(out.count("pictolarium: stall of "), 1) << out.constData();
    EXPECT_TRUE(out.contains("holdTheLoopFor")) << out.constData();
    EXPECT_FALSE(out.contains("during start-up")) << out.constData();
}

// The launch, before the loop first turns, is told as such; what runs in that first turn (the program's own start,
// posted once the watch is made) is a stall as any later one.
TEST(StallWatchTest, TellsTheLaunchApartFromTheStartThatFollowsIt) {
    struct Case {
        const char* name;
        bool beforeTheLoop;
        const char* said;
    };
    const Case cases[] = {
        {"held before the loop turns", true, " ms during start-up; "},
        {"held in the loop's first turn", false, " ms; "},
    };
    for (const Case& c : cases) {
        const QByteArray out = errorOutput([&c] {
            StallWatch watch(200);
            if (c.beforeTheLoop)
                holdTheLoopFor(450);
            else
                QTimer::singleShot(0, [] { holdTheLoopFor(450); });
            turnTheLoop(600);
        });
        EXPECT_EQ(out.count("pictolarium: stall of "), 1) << c.name << ": " << out.constData();
        EXPECT_TRUE(out.contains(c.said)) << c.name << ": " << out.constData();
        EXPECT_TRUE(out.contains("holdTheLoopFor")) << c.name << ": " << out.constData();
    }
}
