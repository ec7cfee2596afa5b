// The server program's life: started on demand, probed, stopped when idle or at quit, and strays of
// our own engine folder ended at launch.

#include "text/LocalLLM.h"

#include "platform/Dispatch.h"
#include "text/ChildProcess.h"
#include "text/HttpCall.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <future>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalLLM {

namespace {

std::mutex processLock;
std::shared_ptr<ChildProcess> process;

std::mutex startLock;
std::optional<std::shared_future<void>> startTask;

// Only touched on the main thread.
QPointer<QTimer> idleTimer;

std::shared_ptr<ChildProcess> recorded() {
    std::lock_guard guard(processLock);
    return process;
}

void record(std::shared_ptr<ChildProcess> child) {
    std::lock_guard guard(processLock);
    process = std::move(child);
}

std::shared_ptr<ChildProcess> takeRecorded() {
    std::lock_guard guard(processLock);
    return std::exchange(process, nullptr);
}

// The program file a process runs, as the kernel has it ("" when it cannot be read: gone, a zombie,
// or another user's).
QString programOf(const QString& pid) {
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/") + pid + QStringLiteral("/exe"));
    static const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

bool ownedByUs(const QString& pid) {
    struct stat info {};
    return ::stat(QFile::encodeName(QStringLiteral("/proc/") + pid).constData(), &info) == 0 &&
           info.st_uid == ::getuid();
}

QStringList serversIn(const QString& folder) {
    QStringList pids;
    const QString prefix = folder + QLatin1Char('/');
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (!number || pid == ::getpid() || !ownedByUs(entry))
            continue;
        if (programOf(entry).startsWith(prefix))
            pids.append(entry);
    }
    return pids;
}

void startOnce() {
    const Config c = config();
    if (const auto running = recorded(); running && running->running() && healthy())
        return;
    killStray();
    const QString binary = serverBinary();
    if (binary.isEmpty())
        throw Failure(QStringLiteral("Translation engine missing"));
    sendStatus(QStringLiteral("Loading language model\u2026"));
    std::shared_ptr<ChildProcess> child;
    try {
        child = std::make_shared<ChildProcess>(binary, serverArguments());
    } catch (const UserError& error) {
        throw Failure(error.message);
    }
    record(child);
    for (int probe = 0; probe < c.probeCount; ++probe) {
        QThread::msleep(c.probePauseMs);
        if (healthy())
            return;
        if (!child->running())
            break;
    }
    {
        std::lock_guard guard(processLock);
        if (process == child)
            process.reset();
    }
    child->end(2000);
    throw Failure(QStringLiteral("Language model failed to start"));
}

} // namespace

int workerThreads(int processors) {
    return std::max(2, processors / 2);
}

QStringList serverArguments() {
    const Config c = config();
    return {QStringLiteral("-m"),         modelPath(),
            QStringLiteral("--host"),     QStringLiteral("127.0.0.1"),
            QStringLiteral("--port"),     QString::number(c.port),
            QStringLiteral("-c"),         QStringLiteral("8192"),
            QStringLiteral("-np"),        QStringLiteral("4"),
            QStringLiteral("-ngl"),       QStringLiteral("99"),
            QStringLiteral("-fa"),        QStringLiteral("on"),
            QStringLiteral("-t"),         QString::number(workerThreads(QThread::idealThreadCount())),
            QStringLiteral("--no-webui"), QStringLiteral("--no-warmup")};
}

bool healthy() {
    const Config c = config();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(c.port);
    url.setPath(QStringLiteral("/health"));
    const HttpCall::Result result = HttpCall(url).stallTimeout(c.probeTimeoutMs).totalTimeout(c.probeTimeoutMs).run();
    return result.status == 200 && result.error.isEmpty();
}

void startServer() {
    touchIdle();
    std::promise<void> promise;
    std::shared_future<void> outcome;
    bool mine = false;
    {
        std::lock_guard guard(startLock);
        if (startTask) {
            outcome = *startTask;
        } else {
            outcome = promise.get_future().share();
            startTask = outcome;
            mine = true;
        }
    }
    if (mine) {
        try {
            startOnce();
            promise.set_value();
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
        std::lock_guard guard(startLock);
        startTask.reset();
    }
    outcome.get();
}

bool serverRunning() {
    const auto child = recorded();
    return child && child->running();
}

void killStray() {
    const std::shared_ptr<ChildProcess> ours = takeRecorded();
    const QString folder = QFileInfo(engineFolder()).canonicalFilePath();
    QStringList pids;
    if (!folder.isEmpty())
        pids = serversIn(folder);
    for (const QString& pid : std::as_const(pids))
        ::kill(pid.toInt(), SIGTERM);

    // Wait so the port is free before a new server wants it; reap what is ours.
    const auto alive = [&](const QString& pid) {
        if (ours && pid.toInt() == ours->pid())
            return ours->running();
        return ::kill(pid.toInt(), 0) == 0 && programOf(pid).startsWith(folder + QLatin1Char('/'));
    };
    for (int waited = 0; waited < 3000; waited += 20) {
        pids.erase(std::remove_if(pids.begin(), pids.end(), [&](const QString& pid) { return !alive(pid); }),
                   pids.end());
        if (pids.isEmpty())
            break;
        QThread::msleep(20);
    }
    for (const QString& pid : std::as_const(pids))
        ::kill(pid.toInt(), SIGKILL);
    if (ours)
        ours->end(1000);
}

void stop() {
    const auto stopTimer = [] {
        if (idleTimer)
            idleTimer->stop();
    };
    if (Dispatch::isMainThread())
        stopTimer();
    else if (QCoreApplication::instance())
        Dispatch::main(stopTimer);
    if (const auto child = recorded())
        child->terminate();
    killStray();
}

void touchIdle() {
    if (!QCoreApplication::instance())
        return;
    const int idleMs = config().idleMs;
    Dispatch::main([idleMs] {
        if (!idleTimer) {
            idleTimer = new QTimer(QCoreApplication::instance());
            idleTimer->setSingleShot(true);
            QObject::connect(idleTimer, &QTimer::timeout, [] { stop(); });
        }
        idleTimer->start(idleMs);
    });
}

} // namespace LocalLLM
