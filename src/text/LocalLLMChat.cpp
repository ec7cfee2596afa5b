// One chat request to our server, its reply read line by line as it streams in.

#include "text/LocalLLM.h"

#include "text/ChatReply.h"
#include "text/HttpCall.h"
#include "text/LineReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace LocalLLM {

namespace {

// "Model error (500)", with the server's reason when it gave one.
QString modelError(int status, const QString& reason) {
    QString text = QStringLiteral("Model error");
    if (status != 0 || reason.isEmpty())
        text += QStringLiteral(" (") + QString::number(status) + QLatin1Char(')');
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

} // namespace

QString chat(const QString& system, const QString& user, int maxTokens,
             const std::function<void(const QString&)>& partial, const std::atomic<bool>* cancel) {
    touchIdle();
    const Config c = config();
    const QJsonObject body{
        {QStringLiteral("messages"),
         QJsonArray{
             QJsonObject{{QStringLiteral("role"), QStringLiteral("system")}, {QStringLiteral("content"), system}},
             QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), user}}}},
        {QStringLiteral("temperature"), 0},
        {QStringLiteral("max_tokens"), maxTokens},
        {QStringLiteral("stream"), true}};

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(serverPort());
    url.setPath(QStringLiteral("/v1/chat/completions"));

    const auto now = [&c] {
        if (c.clock)
            return c.clock();
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
    LineReader lines(c.maxLineBytes);
    ChatReply reply(c.partialIntervalMs);
    qint64 bodyBytes = 0;
    bool tooLong = false;
    bool failed = false;
    HttpCall call(url);
    call.post(QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json")
        .stallTimeout(c.chatStallMs)
        .cancelFlag(cancel)
        .onData([&](const QByteArray& chunk) {
            // A server that never ends its line or its reply must not take the memory with it.
            bodyBytes += chunk.size();
            const QList<QByteArray> complete = lines.push(chunk);
            tooLong = lines.overflowed() || bodyBytes > c.maxReplyBytes;
            if (tooLong)
                return false;
            for (const QByteArray& line : complete) {
                switch (reply.read(line)) {
                case ChatReply::Line::Done:
                    return false;
                case ChatReply::Line::Error:
                    failed = true;
                    return false;
                case ChatReply::Line::Text:
                    if (partial && reply.partialDue(now()))
                        partial(reply.received());
                    break;
                case ChatReply::Line::Ignored:
                    break;
                }
            }
            return true;
        });
    const HttpCall::Result result = call.run();
    if (result.cancelled)
        throw Failure(QStringLiteral("Cancelled"));
    if (result.status > 299 || (result.status < 200 && result.error.isEmpty()))
        throw Failure(modelError(result.status, ChatReply::refusalReason(result.refusal)));
    if (failed)
        throw Failure(modelError(reply.errorCode(), reply.errorMessage()));
    if (tooLong)
        throw Failure(QStringLiteral("The language model's reply was too long"));
    if (result.stalled)
        throw Failure(QStringLiteral("The language model gave no answer for %1 s").arg((c.chatStallMs + 999) / 1000));
    if (!result.error.isEmpty())
        throw Failure(result.error);
    // A last line without its end still counts, as when the stream ends without the end marker.
    if (!result.stoppedByReader && !lines.rest().isEmpty() && reply.read(lines.rest()) == ChatReply::Line::Error)
        throw Failure(modelError(reply.errorCode(), reply.errorMessage()));
    return reply.finalText();
}

} // namespace LocalLLM
