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
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <future>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalLLM {

namespace {

std::mutex processLock;
std::shared_ptr<ChildProcess> process;
// The port the recorded server listens on: the configured one unless another program holds it.
quint16 processPort = 0;

std::mutex startLock;
std::optional<std::shared_future<void>> startTask;

// Only touched on the main thread.
QPointer<QTimer> idleTimer;

std::shared_ptr<ChildProcess> recorded() {
    std::lock_guard guard(processLock);
    return process;
}

void record(std::shared_ptr<ChildProcess> child, quint16 port) {
    std::lock_guard guard(processLock);
    process = std::move(child);
    processPort = port;
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

// The inodes of the sockets listening on the loopback or any address at this port.
QSet<QByteArray> listeners(quint16 port) {
    QSet<QByteArray> inodes;
    const QByteArray hexPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> rows = file.readAll().split('\n');
        for (const QByteArray& row : rows) {
            const QList<QByteArray> fields = row.simplified().split(' ');
            // sl local remote st tx:rx tr:when retrnsmt uid timeout inode
            if (fields.size() < 10 || fields.at(3) != "0A" || !fields.at(1).endsWith(':' + hexPort))
                continue;
            inodes.insert(fields.at(9));
        }
    }
    return inodes;
}

// Whether the process itself holds a socket listening on the port: a health answer there is its own,
// not that of some other program that had the port first.
bool listensOn(pid_t pid, quint16 port) {
    const QSet<QByteArray> inodes = listeners(port);
    if (inodes.isEmpty())
        return false;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList entries =
        QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& fd : entries) {
        char link[64] = {};
        const QByteArray path = QFile::encodeName(fds + QLatin1Char('/') + fd);
        const ssize_t got = ::readlink(path.constData(), link, sizeof link - 1);
        if (got <= 0)
            continue;
        const QByteArray text(link, got);
        if (text.startsWith("socket:[") && inodes.contains(text.mid(8, text.size() - 9)))
            return true;
    }
    return false;
}

// Binds the loopback address at the port (0: any free one) as a server would, and gives the port
// bound, or 0 when another socket holds it. The socket is closed again at once.
quint16 bindable(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    quint16 bound = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        bound = ntohs(address.sin_port);
    ::close(fd);
    return bound;
}

bool probe(quint16 port) {
    const Config c = config();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(QStringLiteral("/health"));
    const HttpCall::Result result = HttpCall(url).stallTimeout(c.probeTimeoutMs).totalTimeout(c.probeTimeoutMs).run();
    return result.status == 200 && result.error.isEmpty();
}

// Why the server ended, from the last lines it wrote: the last one that names an error, else the last.
QString reasonInLog() {
    QFile file(serverLog());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > 64 * 1024)
        file.seek(file.size() - 64 * 1024);
    QStringList lines;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).simplified();
        if (!line.isEmpty())
            lines.append(line);
    }
    lines = lines.mid(std::max<qsizetype>(0, lines.size() - 20));
    QString reason = lines.isEmpty() ? QString() : lines.last();
    for (const QString& line : std::as_const(lines))
        if (line.contains(QStringLiteral("error"), Qt::CaseInsensitive))
            reason = line;
    if (reason.size() > 200)
        reason = reason.left(199) + QChar(0x2026);
    return reason;
}

void startOnce() {
    const Config c = config();
    if (const auto running = recorded(); running && running->running()) {
        const quint16 port = serverPort();
        if (probe(port) && listensOn(running->pid(), port))
            return;
    }
    killStray();
    const QString binary = serverBinary();
    if (binary.isEmpty())
        throw Failure(QStringLiteral("Translation engine missing"));
    // Another program on our port would answer our probe and read every text sent to it.
    quint16 port = c.port;
    if (bindable(port) == 0)
        port = bindable(0);
    if (port == 0)
        throw Failure(QStringLiteral("Language model failed to start: no free port on 127.0.0.1"));
    sendStatus(QStringLiteral("Loading language model\u2026"));
    std::shared_ptr<ChildProcess> child;
    try {
        child = std::make_shared<ChildProcess>(binary, serverArguments(port), serverLog());
    } catch (const UserError& error) {
        // A program that cannot run at all (a broken or foreign file) is set up anew on the next use.
        const int why = ChildProcess::spawnError();
        if (why == ENOEXEC || why == EACCES || why == ENOENT) {
            discardEngine();
            throw Failure(error.message + QStringLiteral(" \u2014 it will be set up again on the next try"));
        }
        throw Failure(error.message);
    }
    record(child, port);
    for (int round = 0; round < c.probeCount; ++round) {
        QThread::msleep(c.probePauseMs);
        if (probe(port) && listensOn(child->pid(), port))
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
    const QString reason = reasonInLog();
    throw Failure(QStringLiteral("Language model failed to start") +
                  (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
}

} // namespace

int workerThreads(int processors) {
    return std::max(2, processors / 2);
}

QStringList serverArguments(quint16 port) {
    return {QStringLiteral("-m"),         modelPath(),
            QStringLiteral("--host"),     QStringLiteral("127.0.0.1"),
            QStringLiteral("--port"),     QString::number(port),
            QStringLiteral("-c"),         QStringLiteral("8192"),
            QStringLiteral("-np"),        QStringLiteral("4"),
            QStringLiteral("-ngl"),       QStringLiteral("99"),
            QStringLiteral("-fa"),        QStringLiteral("on"),
            QStringLiteral("-t"),         QString::number(workerThreads(QThread::idealThreadCount())),
            QStringLiteral("--no-webui"), QStringLiteral("--no-warmup")};
}

bool healthy() {
    return probe(serverPort());
}

quint16 serverPort() {
    {
        std::lock_guard guard(processLock);
        if (process && processPort != 0)
            return processPort;
    }
    return config().port;
}

QString serverLog() {
    return dir() + QStringLiteral("/server.log");
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
