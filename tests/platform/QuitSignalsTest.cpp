#include "platform/QuitSignals.h"
#include "platform/FileWrites.h"
#include "platform/WholeIo.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include <cstddef>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

// A peer gone is an error its writer handles, not our end by a signal; programs we start still get the signal.
TEST(QuitSignals, AWriteToAPeerThatWentAwayFailsWithEpipeAndTheProgramGoesOn) {
    const QuitSignals quitting;
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    errno = 0;
    EXPECT_FALSE(WholeIo::writeAll(ends[1], "x", 1));
    EXPECT_EQ(errno, EPIPE);
    ::close(ends[1]);

    // Started without the toolkit, which would reset the signal for its own children.
    FILE* child = ::popen("kill -PIPE $$; echo survived", "r");
    ASSERT_NE(child, nullptr);
    char out[16] = {};
    EXPECT_EQ(std::fread(out, 1, sizeof out - 1, child), 0u) << "a program we start ignores the signal: " << out;
    ::pclose(child);

    // A write the system answers with nothing written and no error (as some network and FUSE filesystems do)
    // fails with EIO rather than going round for ever. Here the system is told to answer so by a filter on this
    // one thread's writes to the pipe.
    ASSERT_EQ(::pipe(ends), 0);
    int zeroWrite = -1, zeroErrno = 0;
    std::thread([&] {
        const sock_filter rules[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __u32(ends[1]), 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{std::size(rules), const_cast<sock_filter*>(rules)};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            return;
        errno = 0;
        zeroWrite = WholeIo::writeAll(ends[1], "x", 1) ? 1 : 0;
        zeroErrno = errno;
    }).join();
    ::close(ends[0]);
    ::close(ends[1]);
    if (zeroWrite < 0)
        GTEST_SKIP() << "this system lets no thread filter its own calls";
    EXPECT_EQ(zeroWrite, 0);
    EXPECT_EQ(zeroErrno, EIO);
}

// A signal caught part way through a write or a read cuts it short or fails it with EINTR: the whole write and the
// filling read go on until every byte has gone through.
TEST(QuitSignals, WholeWritesAndReadsGoOnThroughTheSignalsThatCutThemShort) {
    const QuitSignals quitting; // a reader that gave up fails the write instead of ending the program
    struct sigaction interrupt = {}, previous = {};
    interrupt.sa_handler = [](int) {}; // no SA_RESTART: each signal ends the call under way
    ASSERT_EQ(::sigaction(SIGUSR2, &interrupt, &previous), 0);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    std::string sent(8 << 20, '\0'), got(sent.size() + 1, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 131 >> 3);
    bool wrote = false;
    std::atomic<size_t> read{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        read = WholeIo::readUpTo(ends[0], got.data(), got.size());
        ::close(ends[0]);
        done = true;
    });
    // The reader waits on an empty pipe first, where each signal fails its read with EINTR.
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::pthread_kill(reader.native_handle(), SIGUSR2);
    }
    std::thread writer([&] {
        wrote = WholeIo::writeAll(ends[1], sent.data(), sent.size());
        ::close(ends[1]);
    });
    while (!done) {
        ::pthread_kill(writer.native_handle(), SIGUSR2);
        ::pthread_kill(reader.native_handle(), SIGUSR2);
        std::this_thread::sleep_for(std::chrono::microseconds(5));
    }
    writer.join();
    reader.join();
    ::sigaction(SIGUSR2, &previous, nullptr);
    EXPECT_TRUE(wrote);
    ASSERT_EQ(read, sent.size());
    EXPECT_TRUE(got.compare(0, sent.size(), sent) == 0);
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
