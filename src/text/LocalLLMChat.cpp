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
    url.setPort(c.port);
    url.setPath(QStringLiteral("/v1/chat/completions"));

    const auto now = [&c] {
        if (c.clock)
            return c.clock();
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
    LineReader lines;
    ChatReply reply(c.partialIntervalMs);
    HttpCall call(url);
    call.post(QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json")
        .stallTimeout(c.chatStallMs)
        .cancelFlag(cancel)
        .onData([&](const QByteArray& chunk) {
            for (const QByteArray& line : lines.push(chunk)) {
                switch (reply.read(line)) {
                case ChatReply::Line::Done:
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
        throw Failure(QStringLiteral("Model error (") + QString::number(result.status) + QLatin1Char(')'));
    if (!result.error.isEmpty())
        throw Failure(result.error);
    // A last line without its end still counts, as when the stream ends without the end marker.
    if (!result.stoppedByReader && !lines.rest().isEmpty())
        reply.read(lines.rest());
    return reply.finalText();
}

} // namespace LocalLLM
