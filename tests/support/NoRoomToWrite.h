#pragma once
// While it lives, no file of this process can grow: every write fails with EFBIG, for root as well, so a
// test of a refused write runs wherever CI runs it (a read-only folder binds every user but root).

#include <csignal>
#include <sys/resource.h>

class NoRoomToWrite {
public:
    NoRoomToWrite() {
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit none = before;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
        // The write fails instead of the process being stopped.
        previous = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~NoRoomToWrite() {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previous);
    }
    // The same for good, in a child between fork and exec (only calls safe there): the program it
    // starts, and every program that one starts, can write no file.
    static void forThisChild() {
        rlimit none{};
        ::getrlimit(RLIMIT_FSIZE, &none);
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
        // The signal is left as a session's limit leaves it: the program must not end on its first write.
    }
    NoRoomToWrite(const NoRoomToWrite&) = delete;
    NoRoomToWrite& operator=(const NoRoomToWrite&) = delete;

private:
    rlimit before{};
    void (*previous)(int) = nullptr;
};
