#include "platform/QuitSignals.h"
#include "platform/FileWrites.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

// A peer gone is an error its writer handles, not our end by a signal; programs we start still get the signal.
TEST(QuitSignals, AWriteToAPeerThatWentAwayFailsWithEpipeAndTheProgramGoesOn) {
    const QuitSignals quitting;
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    errno = 0;
    EXPECT_EQ(::write(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(ends[1]);

    // Started without the toolkit, which would reset the signal for its own children.
    FILE* child = ::popen("kill -PIPE $$; echo survived", "r");
    ASSERT_NE(child, nullptr);
    char out[16] = {};
    EXPECT_EQ(std::fread(out, 1, sizeof out - 1, child), 0u) << "a program we start ignores the signal: " << out;
    ::pclose(child);
}

// At the end the program waits for a write under way, however long, and starts none: the work that was under way
// still writes every file it has to.
TEST(QuitSignals, TheEndWaitsForWritesUnderWayAndStartsNone) {
    const QTemporaryDir dir;
    const QString before = dir.filePath(QStringLiteral("before.json")),
                  after = dir.filePath(QStringLiteral("after.json"));
    // The end is for good: in a child of its own.
    EXPECT_EXIT(
        {
            std::atomic<bool> holding = false;
            std::thread work([&] {
                const FileWrites::Scope scope;
                holding = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
                // Already under way: its files are written though the end has begun.
                std::_Exit(FileWrites::replaceWith(before, "{}") == 0 ? 0 : 3);
            });
            while (!holding)
                std::this_thread::yield();
            FileWrites::finishAll();
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(QFile::exists(before));
    EXPECT_EXIT(
        {
            FileWrites::finishAll();
            std::_Exit(FileWrites::replaceWith(after, "{}") == ECANCELED && !QFile::exists(after) ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "");
}
