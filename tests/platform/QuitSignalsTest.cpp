#include "platform/QuitSignals.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

// A peer that went away (the display's socket at a logout, a helper's pipe) is an error its writer handles, not
// the end of the program by a signal; and the programs we start still end by that signal, as programs expect.
TEST(QuitSignals, AWriteToAPeerThatWentAwayFailsWithEpipeAndTheProgramGoesOn) {
    const QuitSignals quitting;
    struct Case {
        const char* name;
        bool socket;
    };
    for (const Case& c : {Case{"pipe", false}, Case{"socket", true}}) {
        SCOPED_TRACE(c.name);
        int ends[2] = {-1, -1};
        ASSERT_EQ(c.socket ? ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : ::pipe(ends), 0);
        // A pipe's reader is its first end; either end of a socket pair reads.
        ::close(ends[0]);
        errno = 0;
        EXPECT_EQ(::write(ends[1], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
        ::close(ends[1]);
    }

    // An ignored signal stays ignored across exec; a handled one goes back to its default. Started without the
    // toolkit, which would reset it for its own children.
    QByteArray status(256, '\0');
    FILE* child = ::popen("grep SigIgn /proc/self/status", "r");
    ASSERT_NE(child, nullptr);
    status.truncate(qsizetype(std::fread(status.data(), 1, size_t(status.size()), child)));
    ::pclose(child);
    const QByteArray ignored = status.split(':').value(1).trimmed();
    bool isNumber = false;
    const qulonglong mask = ignored.toULongLong(&isNumber, 16);
    ASSERT_TRUE(isNumber) << ignored.toStdString();
    EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << "a program we start ignores the signal";
}
