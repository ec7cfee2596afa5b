#include "platform/SingleInstance.h"

#include "platform/XdgPaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// Each message is one line of JSON: {"cmd": "reopen"} or {"cmd": "open", "files": [...]}.
// The receiver answers "ok\n" once it has queued the request, so the sender can exit knowing
// nothing was lost.

namespace {

// How long a connection attempt may wait for a copy whose listen queue is full before we take it as
// alive but busy. Connecting itself never needs the other copy to run: the kernel accepts for it.
constexpr int connectMs = 2000;

bool refused(QLocalSocket::LocalSocketError error) {
    return error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError;
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent),
      path(socketPath.isEmpty() ? XdgPaths::runtimeDir() + QStringLiteral("/pictolarium.socket") : socketPath) {}

SingleInstance::~SingleInstance() {
    if (lockFd >= 0)
        ::close(lockFd);
}

bool SingleInstance::decideAlone() {
    lockFd = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0)
        return true; // no lock to be had here: decided by the socket alone, as before
    QElapsedTimer waited;
    waited.start();
    while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;
        // Another copy is deciding, or runs: once it listens, this launch hands it the request.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(100) || waited.elapsed() > connectMs) {
            ::close(lockFd);
            lockFd = -1;
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

SingleInstance::Forwarded SingleInstance::send(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(std::min(timeoutMs, connectMs)))
        return refused(socket.error()) ? Forwarded::NobodyRuns : Forwarded::Pending;
    QJsonObject message;
    if (files.isEmpty()) {
        message[QStringLiteral("cmd")] = QStringLiteral("reopen");
    } else {
        message[QStringLiteral("cmd")] = QStringLiteral("open");
        message[QStringLiteral("files")] = QJsonArray::fromStringList(files);
    }
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    // From here on a copy is known to run: whatever happens, this launch must not start a second one.
    QElapsedTimer waited;
    waited.start();
    while (socket.bytesToWrite() > 0) {
        const qint64 left = timeoutMs - waited.elapsed();
        if (left <= 0 || !socket.waitForBytesWritten(int(left)))
            return Forwarded::Pending;
    }
    while (!socket.canReadLine()) {
        const qint64 left = timeoutMs - waited.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return Forwarded::Pending;
    }
    return socket.readLine().trimmed() == "ok" ? Forwarded::Handled : Forwarded::Pending;
}

bool SingleInstance::listen() {
    // One launch at a time decides, and the running copy holds the lock for its life: two launched at once would
    // each find nobody listening and each bind the socket (binding renames it into place), leaving two copies
    // that write over each other's settings.
    if (lockFd < 0 && !decideAlone())
        return false;
    // Listening with access options binds elsewhere and renames the socket into place, replacing whatever
    // is there: so ask first. Only a socket nobody listens on may go; a copy that is merely slow keeps it.
    if (QFileInfo::exists(path)) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(connectMs) || !refused(probe.error()))
            return false;
        QLocalServer::removeServer(path);
    }
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path))
        return false;
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            const QPointer<QLocalSocket> guarded(socket);
            const auto readLines = [this, guarded] {
                while (guarded && guarded->canReadLine()) {
                    const QByteArray line = guarded->readLine();
                    // Queued first, answered after: a sender that got "ok" may exit at once.
                    QMetaObject::invokeMethod(
                        this, [this, line] { handle(line); }, Qt::QueuedConnection);
                    guarded->write("ok\n");
                    guarded->flush();
                }
            };
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, readLines);
            // A sender that gave up waiting may already have written and gone: its line is here now.
            readLines();
        }
    });
    return true;
}

void SingleInstance::handle(const QByteArray& message) {
    const QJsonObject obj = QJsonDocument::fromJson(message).object();
    const QString cmd = obj.value(QStringLiteral("cmd")).toString();
    if (cmd == u"reopen") {
        emit reopenRequested();
    } else if (cmd == u"open") {
        QStringList files;
        for (const QJsonValue& v : obj.value(QStringLiteral("files")).toArray())
            if (v.isString())
                files.append(v.toString());
        if (files.isEmpty())
            emit reopenRequested();
        else
            emit openRequested(files);
    }
}
