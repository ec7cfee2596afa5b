#pragma once
// A child program started with posix_spawn, its output discarded, reaped by whoever waits for it.
// Safe to share between threads.

#include <QString>
#include <QStringList>

#include <mutex>
#include <sys/types.h>

class ChildProcess {
public:
    // The errno of the last start that failed on this thread (0 after a good one).
    static int spawnError();

    // Starts program with arguments; stdin on the null device, stdout and stderr too, or both into
    // the file at outputPath (made anew). Throws UserError with the system's reason when the program
    // cannot be started; spawnError() tells which.
    ChildProcess(const QString& program, const QStringList& arguments, const QString& outputPath = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return id; }
    // Not yet exited (reaps it when it has).
    bool running();
    // Waits up to timeoutMs (-1: for good) for the exit; true when it has exited.
    bool waitFor(int timeoutMs);
    // The wait status once exited, as waitpid gives it.
    int waitStatus();
    void terminate();
    // SIGTERM, a bounded wait, then SIGKILL; always reaped afterwards.
    void end(int graceMs);

    // Runs a tool to its end and returns its exit status (128 + signal when killed).
    static int run(const QString& program, const QStringList& arguments);

private:
    bool reap(bool block);

    pid_t id = -1;
    std::mutex lock;
    bool exited = false;
    int status = 0;
};
