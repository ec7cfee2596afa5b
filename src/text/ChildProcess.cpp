#include "text/ChildProcess.h"

#include "imaging/UserError.h"

#include <QByteArray>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {
thread_local int lastSpawnError = 0;
}

int ChildProcess::spawnError() {
    return lastSpawnError;
}

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments, const QString& outputPath) {
    const QByteArray path = program.toLocal8Bit();
    std::vector<QByteArray> storage;
    storage.reserve(arguments.size() + 1);
    storage.push_back(path);
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const QByteArray output = outputPath.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(outputPath);
    posix_spawn_file_actions_addopen(&actions, 1, output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The child starts with default signal handling and nothing blocked, whatever this thread has.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error = posix_spawn(&id, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    lastSpawnError = error;
    if (error != 0) {
        id = -1;
        throw UserError(program + QStringLiteral(" could not be started (") +
                        QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')'));
    }
}

ChildProcess::~ChildProcess() {
    // Never leave a zombie or an orphaned server behind.
    if (running())
        end(2000);
}

bool ChildProcess::reap(bool block) {
    std::lock_guard guard(lock);
    if (exited)
        return true;
    int got = 0;
    pid_t done;
    do {
        done = waitpid(id, &got, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == id) {
        exited = true;
        status = got;
    } else if (done < 0) {
        // Someone else reaped it (or it was never ours): it is gone all the same.
        exited = true;
    }
    return exited;
}

bool ChildProcess::running() {
    return id > 0 && !reap(false);
}

bool ChildProcess::waitFor(int timeoutMs) {
    if (id <= 0)
        return true;
    if (timeoutMs < 0)
        return reap(true);
    for (int waited = 0;; waited += 10) {
        if (reap(false))
            return true;
        if (waited >= timeoutMs)
            return false;
        QThread::msleep(10);
    }
}

int ChildProcess::waitStatus() {
    std::lock_guard guard(lock);
    return status;
}

void ChildProcess::terminate() {
    std::lock_guard guard(lock);
    if (!exited && id > 0)
        ::kill(id, SIGTERM);
}

void ChildProcess::end(int graceMs) {
    terminate();
    if (waitFor(graceMs))
        return;
    {
        std::lock_guard guard(lock);
        if (!exited)
            ::kill(id, SIGKILL);
    }
    waitFor(-1);
}

int ChildProcess::run(const QString& program, const QStringList& arguments) {
    ChildProcess child(program, arguments);
    child.waitFor(-1);
    const int got = child.waitStatus();
    if (WIFEXITED(got))
        return WEXITSTATUS(got);
    if (WIFSIGNALED(got))
        return 128 + WTERMSIG(got);
    return -1;
}
