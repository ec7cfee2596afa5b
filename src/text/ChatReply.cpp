#include "text/ChatReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

ChatReply::Line ChatReply::read(const QByteArray& line) {
    static const QByteArray prefix("data: ");
    if (!line.startsWith(prefix))
        return Line::Ignored;
    const QByteArray payload = line.mid(prefix.size());
    if (payload == "[DONE]")
        return Line::Done;
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return Line::Ignored;
    const QJsonValue choices = document.object().value(QStringLiteral("choices"));
    if (!choices.isArray() || choices.toArray().isEmpty())
        return Line::Ignored;
    const QJsonValue first = choices.toArray().first();
    if (!first.isObject())
        return Line::Ignored;
    const QJsonValue delta = first.toObject().value(QStringLiteral("delta"));
    if (!delta.isObject())
        return Line::Ignored;
    const QJsonValue content = delta.toObject().value(QStringLiteral("content"));
    if (!content.isString())
        return Line::Ignored;
    text += content.toString();
    return Line::Text;
}

bool ChatReply::partialDue(qint64 nowMs) {
    if (reported && nowMs - lastReport <= interval)
        return false;
    reported = true;
    lastReport = nowMs;
    return true;
}

QString ChatReply::finalText() const {
    return clean(text);
}

QString ChatReply::clean(const QString& raw) {
    static const QRegularExpression reasoning(QStringLiteral("<think>[\\s\\S]*?</think>"));
    QString result = raw.trimmed();
    const QRegularExpressionMatch match = reasoning.match(result);
    if (match.hasMatch())
        result = (result.left(match.capturedStart()) + result.mid(match.capturedEnd())).trimmed();
    return result;
}
