// Stands in for the model server in tests: takes the real program's arguments, writes them beside its
// "model" file, and behaves as the script in that file says. Script lines, all optional:
//   load_ms=N        /health answers 503 for N ms, then 200
//   exit_ms=N        exits with status 1 after N ms
//   never_healthy    /health always answers 503
//   status=N         chat requests are refused with status N and a JSON error body
//   message=TEXT     the refusal's or the error event's message
//   stall            chat requests get no answer at all
//   error_after=N    an "error:" event after N pieces ends the stream
//   no_done          the stream ends without its end marker
//   endless=N        one line of N bytes without an end instead of the pieces
//   stderr=TEXT      written to standard error at start (before an exit_ms)
//   close            each answer closes its connection (the real server keeps it open)
//   chunks=a|b|c     the reply's pieces ("\n" stands for a line end)
//   delay_ms=N       pause before each piece
//   think            a reasoning block comes first
//   noise            comment, other-field and malformed lines between the pieces
//   drop_after=N     the connection is cut after N pieces, mid-stream
//   mirror           replies "<target>: <text>" to a translation, word by word, and the summary line
//   summary=TEXT     to a summary request (default "A short summary.")
// Each chat request appends its system and user messages as one JSON line to "<model>.prompts".
// Each start appends its pid to "<model>.pid", each probe a line to "<model>.health".
// It keeps the most requests it served at once in "<model>.inflight". Ends on SIGTERM.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

struct Script {
    int loadMs = 0;
    int exitMs = -1;
    bool neverHealthy = false;
    int status = 200;
    QList<QByteArray> chunks{"Hello", " world"};
    int delayMs = 0;
    bool think = false;
    bool noise = false;
    int dropAfter = -1;
    bool mirror = false;
    QByteArray summary = "A short summary.";
    QByteArray message = "the request exceeds the available context size, try increasing it";
    bool stall = false;
    int errorAfter = -1;
    bool noDone = false;
    qint64 endless = -1;
    QByteArray stderrText;
    bool close = false;
};

Script readScript(const QString& path) {
    QHash<QByteArray, QByteArray> said;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            const qsizetype eq = line.indexOf('=');
            said.insert(eq < 0 ? line : line.left(eq), eq < 0 ? QByteArray() : line.mid(eq + 1));
        }
    Script s;
    auto number = [&](const char* key, int& to) {
        if (said.contains(key))
            to = said.value(key).toInt();
    };
    number("load_ms", s.loadMs);
    number("exit_ms", s.exitMs);
    number("status", s.status);
    number("delay_ms", s.delayMs);
    number("drop_after", s.dropAfter);
    s.neverHealthy = said.contains("never_healthy");
    s.think = said.contains("think");
    s.noise = said.contains("noise");
    s.mirror = said.contains("mirror");
    s.summary = said.value("summary", s.summary);
    s.message = said.value("message", s.message);
    s.stall = said.contains("stall");
    number("error_after", s.errorAfter);
    s.noDone = said.contains("no_done");
    if (said.contains("endless"))
        s.endless = said.value("endless").toLongLong();
    s.stderrText = said.value("stderr");
    s.close = said.contains("close");
    if (said.contains("chunks")) {
        s.chunks.clear();
        for (const QByteArray& piece : said.value("chunks").split('|'))
            s.chunks.append(QByteArray(piece).replace("\\n", "\n"));
    }
    return s;
}

// Adds to the file beside the model, or replaces what it holds.
void record(const QString& path, const QByteArray& data, bool append = true) {
    QFile file(path);
    if (file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

QByteArray chunkLine(const QJsonObject& delta, const QJsonValue& finish = QJsonValue::Null) {
    const QJsonObject choice{
        {QStringLiteral("index"), 0}, {QStringLiteral("delta"), delta}, {QStringLiteral("finish_reason"), finish}};
    const QJsonObject object{{QStringLiteral("object"), QStringLiteral("chat.completion.chunk")},
                             {QStringLiteral("choices"), QJsonArray{choice}}};
    return "data: " + QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool wellFormed(const QByteArray& body) {
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const QJsonArray messages = o.value(QStringLiteral("messages")).toArray();
    if (messages.size() != 2 || !o.value(QStringLiteral("stream")).toBool() ||
        !o.value(QStringLiteral("max_tokens")).isDouble() || o.value(QStringLiteral("temperature")).toDouble(-1) != 0)
        return false;
    const char* roles[] = {"system", "user"};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject m = messages.at(i).toObject();
        if (m.size() != 2 || m.value(QStringLiteral("role")).toString() != QLatin1String(roles[i]) ||
            !m.value(QStringLiteral("content")).isString())
            return false;
    }
    return true;
}

class Server : public QObject {
public:
    Server(Script s, QString model) : script(std::move(s)), modelPath(std::move(model)) { clock.start(); }

    // Reads requests one after another on a kept-alive connection.
    void serve(QTcpSocket* socket) {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            next(socket, buffer);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void next(QTcpSocket* socket, const std::shared_ptr<QByteArray>& buffer) {
        if (socket->property("busy").toBool())
            return;
        const qsizetype head = buffer->indexOf("\r\n\r\n");
        if (head < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : buffer->left(head).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (buffer->size() < head + 4 + length)
            return;
        const QByteArray requestLine = buffer->left(buffer->indexOf("\r\n"));
        const QByteArray body = buffer->mid(head + 4, length);
        buffer->remove(0, head + 4 + length);
        socket->setProperty("busy", true);
        answer(socket, requestLine, body);
    }

    // The answer is out: close, or wait for the connection's next request.
    void done(QTcpSocket* socket) {
        if (script.close) {
            socket->disconnectFromHost();
            return;
        }
        socket->setProperty("busy", false);
        QTimer::singleShot(0, socket, [socket] { emit socket->readyRead(); });
    }

    void reply(QTcpSocket* socket, int status, const QByteArray& body) {
        socket->write("HTTP/1.1 " + QByteArray::number(status) +
                      " X\r\nContent-Type: application/json\r\n"
                      "Content-Length: " +
                      QByteArray::number(body.size()) + (script.close ? "\r\nConnection: close" : "") + "\r\n\r\n" +
                      body);
        done(socket);
    }

    void answer(QTcpSocket* socket, const QByteArray& requestLine, const QByteArray& body) {
        if (requestLine.startsWith("GET /health ")) {
            record(modelPath + QStringLiteral(".health"), "probe\n");
            const bool ready = !script.neverHealthy && clock.elapsed() >= script.loadMs;
            return reply(socket, ready ? 200 : 503, ready ? "{\"status\":\"ok\"}" : "{\"error\":\"loading\"}");
        }
        if (!requestLine.startsWith("POST /v1/chat/completions "))
            return reply(socket, 404, "{}");
        if (!wellFormed(body))
            return reply(socket, 400, "{\"error\":\"bad request\"}");
        if (script.status != 200) {
            const QJsonObject error{{QStringLiteral("code"), script.status},
                                    {QStringLiteral("message"), QString::fromUtf8(script.message)},
                                    {QStringLiteral("type"), QStringLiteral("server_error")}};
            return reply(socket, script.status,
                         QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}).toJson(QJsonDocument::Compact));
        }
        const QJsonArray messages = QJsonDocument::fromJson(body).object().value(QStringLiteral("messages")).toArray();
        const QString system = messages.at(0).toObject().value(QStringLiteral("content")).toString();
        const QString user = messages.at(1).toObject().value(QStringLiteral("content")).toString();
        record(modelPath + QStringLiteral(".prompts"),
               QJsonDocument(QJsonObject{{QStringLiteral("system"), system}, {QStringLiteral("user"), user}})
                       .toJson(QJsonDocument::Compact) +
                   '\n');
        if (script.stall)
            return;
        stream(socket, script.mirror ? mirrored(system, user) : script.chunks);
    }

    // A stand-in translation that shows what was asked: the target's name, then the text, word by word.
    QList<QByteArray> mirrored(const QString& system, const QString& user) const {
        QString text = QString::fromUtf8(script.summary);
        if (!system.startsWith(QStringLiteral("You summarize"))) {
            const qsizetype into = user.indexOf(QStringLiteral("into "));
            const qsizetype colon = user.indexOf(QStringLiteral(":\n\n"));
            text = user.mid(into + 5, colon - into - 5) + QStringLiteral(": ") + user.mid(colon + 3);
        }
        QList<QByteArray> pieces;
        const QStringList words = text.split(QLatin1Char(' '));
        for (qsizetype i = 0; i < words.size(); ++i)
            pieces.append((i ? QStringLiteral(" ") : QString()).toUtf8() + words.at(i).toUtf8());
        return pieces;
    }

    void stream(QTcpSocket* socket, const QList<QByteArray>& chosen) {
        ++inFlight;
        if (inFlight > mostInFlight)
            record(modelPath + QStringLiteral(".inflight"), QByteArray::number(mostInFlight = inFlight), false);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n"
                      "\r\n");
        QList<QByteArray> lines{chunkLine(QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")}})};
        QList<QByteArray> pieces = chosen;
        if (script.think)
            pieces.prepend("<think>\nweighing the words\n</think>\n\n");
        if (script.endless >= 0) {
            endless(QPointer<QTcpSocket>(socket), "data: {\"choices\":[{\"delta\":{\"content\":\"", script.endless);
            return;
        }
        int index = 0;
        bool ended = false;
        for (const QByteArray& piece : pieces) {
            if (script.dropAfter >= 0 && index == script.dropAfter) {
                lines.append(QByteArray("DROP"));
                ended = true;
                break;
            }
            if (script.errorAfter >= 0 && index == script.errorAfter) {
                const QJsonObject error{{QStringLiteral("code"), 400},
                                        {QStringLiteral("message"), QString::fromUtf8(script.message)},
                                        {QStringLiteral("type"), QStringLiteral("exceed_context_size_error")}};
                lines.append("error: " + QJsonDocument(error).toJson(QJsonDocument::Compact));
                ended = true;
                break;
            }
            ++index;
            if (script.noise)
                lines << ": keep-alive"
                      << "event: message"
                      << ""
                      << "data: {\"choices\": ["
                      << "data:[DONE]"
                      << "data: [DONE] ";
            lines.append(chunkLine(QJsonObject{{QStringLiteral("content"), QString::fromUtf8(piece)}}));
        }
        if (!ended && !script.noDone) {
            lines.append(chunkLine(QJsonObject{}, QStringLiteral("stop")));
            lines.append("data: [DONE]");
        }
        send(QPointer<QTcpSocket>(socket), lines, 0);
    }

    // One line that never ends, written in pieces as the client takes them; then the stream closes.
    void endless(QPointer<QTcpSocket> socket, QByteArray start, qint64 left) {
        if (!socket)
            return --inFlight, void();
        if (left <= 0) {
            --inFlight;
            writeChunk(socket, "");
            return done(socket);
        }
        const qint64 size = std::min<qint64>(left, 64 * 1024);
        writeChunk(socket, start + QByteArray(int(size - start.size()), 'x'));
        // Never more than a few pieces waiting in the socket.
        const int wait = socket->bytesToWrite() > 1024 * 1024 ? 10 : 0;
        QTimer::singleShot(wait, this, [this, socket, left, size] { endless(socket, {}, left - size); });
    }

    void writeChunk(QTcpSocket* socket, const QByteArray& data) {
        socket->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        socket->flush();
    }

    void send(QPointer<QTcpSocket> socket, QList<QByteArray> lines, int at) {
        if (!socket || at == lines.size() || lines.at(at) == "DROP") {
            --inFlight;
            if (socket && at == lines.size()) {
                writeChunk(socket, "");
                done(socket);
            } else if (socket) {
                socket->abort();
            }
            return;
        }
        const QByteArray line = lines.at(at) + (lines.at(at).isEmpty() ? "\n" : "\n\n");
        const int delay = lines.at(at).contains("\"content\"") ? script.delayMs : 0;
        QTimer::singleShot(delay, this, [this, socket, lines, at, line] {
            if (socket)
                writeChunk(socket, line);
            send(socket, lines, at + 1);
        });
    }

    Script script;
    QString modelPath;
    QElapsedTimer clock;
    int inFlight = 0;
    int mostInFlight = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QString model;
    quint16 port = 0;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("-m"))
            model = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--port"))
            port = quint16(args.at(i + 1).toUInt());
    }
    if (!model.isEmpty()) {
        record(model + QStringLiteral(".args"), args.mid(1).join(QLatin1Char('\n')).toUtf8() + '\n', false);
        record(model + QStringLiteral(".pid"), QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    }
    const Script script = readScript(model);
    if (!script.stderrText.isEmpty()) {
        std::fprintf(stderr, "%s\n", script.stderrText.constData());
        std::fflush(stderr);
    }
    if (script.exitMs >= 0)
        QTimer::singleShot(script.exitMs, [] { std::exit(1); });
    Server server(script, model);
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "fake server: cannot listen on %u\n", unsigned(port));
        return 2;
    }
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection())
            server.serve(socket);
    });
    return app.exec();
}
