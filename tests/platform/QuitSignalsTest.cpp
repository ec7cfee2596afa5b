#include "platform/QuitSignals.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
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
