#include "platform/SingleInstance.h"

#include "platform/XdgPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>

// Each message is one line of JSON: {"cmd": "reopen"} or {"cmd": "open", "files": [...]}.
// The receiver answers "ok\n" once it has queued the request, so the sender can exit knowing
// nothing was lost.

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent),
      path(socketPath.isEmpty() ? XdgPaths::runtimeDir() + QStringLiteral("/pictolarium.socket") : socketPath) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::forward(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QJsonObject message;
    if (files.isEmpty()) {
        message[QStringLiteral("cmd")] = QStringLiteral("reopen");
    } else {
        message[QStringLiteral("cmd")] = QStringLiteral("open");
        message[QStringLiteral("files")] = QJsonArray::fromStringList(files);
    }
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

bool SingleInstance::listen() {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        // A socket left by a crashed run: nobody answered forward(), so it is stale.
        QLocalServer::removeServer(path);
        if (!server->listen(path))
            return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    socket->write("ok\n");
                    socket->flush();
                    handle(line);
                }
            });
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
