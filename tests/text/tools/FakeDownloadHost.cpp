// A download host for tests on 127.0.0.1: serves the files of a folder and misbehaves on request.
//   /files/NAME     the file, with its length
//   /nolength/NAME  the file without a length, in 1000 pieces, ended by closing the connection
//   /missing/NAME   404
//   /moved/NAME     302 to /files/NAME
//   /trickle/NAME   the file with its length, in 1000 pieces a millisecond apart
//   /cut/NAME       the length of the whole file, then half of it and a closed connection
//   /stall/NAME     the head with the file's length, then nothing
//   /slow/NAME      the file with its length, in 100 pieces 50 ms apart
// Prints its port on the first line of standard output; appends each request's path to --log.

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

QString root;
QString logPath;

void trickle(QPointer<QTcpSocket> socket, std::shared_ptr<QByteArray> body, qsizetype at, qsizetype step,
             int pauseMs = 1) {
    if (!socket)
        return;
    if (at >= body->size()) {
        socket->disconnectFromHost();
        return;
    }
    socket->write(body->mid(at, step));
    socket->flush();
    QTimer::singleShot(pauseMs, socket,
                       [socket, body, at, step, pauseMs] { trickle(socket, body, at + step, step, pauseMs); });
}

void answer(QTcpSocket* socket, const QByteArray& path) {
    if (QFile log(logPath); !logPath.isEmpty() && log.open(QIODevice::Append))
        log.write(path + '\n');
    const qsizetype slash = path.indexOf('/', 1);
    const QByteArray mode = path.mid(1, slash - 1);
    const QByteArray name = path.mid(slash + 1);
    QFile file(root + QLatin1Char('/') + QString::fromUtf8(name));
    const bool moved = mode == "moved";
    if (moved || mode == "missing" || name.contains("..") || !file.open(QIODevice::ReadOnly)) {
        socket->write(moved ? "HTTP/1.1 302 Found\r\nLocation: /files/" + name +
                                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                            : "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
        socket->disconnectFromHost();
        return;
    }
    const QByteArray body = file.readAll();
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
    if (mode != "nolength")
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket->write(head + "\r\n");
    if (mode == "trickle" || mode == "nolength") {
        trickle(socket, std::make_shared<QByteArray>(body), 0, std::max<qsizetype>(1, body.size() / 1000));
        return;
    }
    if (mode == "slow") {
        trickle(socket, std::make_shared<QByteArray>(body), 0, std::max<qsizetype>(1, body.size() / 100), 50);
        return;
    }
    if (mode == "stall")
        return;
    if (mode == "cut") {
        socket->write(body.left(body.size() / 2));
        socket->flush();
        QTimer::singleShot(50, socket, [socket] { socket->abort(); });
        return;
    }
    socket->write(body);
    socket->disconnectFromHost();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    quint16 port = 0;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--root"))
            root = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--log"))
            logPath = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--port"))
            port = quint16(args.at(i + 1).toUInt());
    }
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "fake host: cannot listen\n");
        return 2;
    }
    std::printf("%u\n", unsigned(listener.serverPort()));
    std::fflush(stdout);
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, buffer] {
                buffer->append(socket->readAll());
                if (!buffer->contains("\r\n\r\n"))
                    return;
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                const QList<QByteArray> parts = buffer->left(buffer->indexOf("\r\n")).split(' ');
                answer(socket, parts.value(1));
            });
        }
    });
    return app.exec();
}
