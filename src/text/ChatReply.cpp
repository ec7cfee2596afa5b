#include "text/ChatReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// A server's words for the user: one line, not a page.
QString tidy(const QString& text) {
    QString out = text.simplified();
    if (out.size() > 200)
        out = out.left(199) + QChar(0x2026);
    return out;
}

// {"code", "message"} itself, or wrapped in "error".
std::pair<int, QString> reasonOf(const QJsonValue& value) {
    QJsonObject object = value.toObject();
    if (object.value(QStringLiteral("error")).isObject())
        object = object.value(QStringLiteral("error")).toObject();
    QString text = object.value(QStringLiteral("message")).toString();
    if (text.isEmpty() && value.toObject().value(QStringLiteral("error")).isString())
        text = value.toObject().value(QStringLiteral("error")).toString();
    return {object.value(QStringLiteral("code")).toInt(), tidy(text)};
}

} // namespace

QString ChatReply::refusalReason(const QByteArray& body) {
    return reasonOf(QJsonDocument::fromJson(body).object()).second;
}

ChatReply::Line ChatReply::read(const QByteArray& line) {
    static const QByteArray prefix("data: ");
    static const QByteArray error("error:");
    if (line.startsWith(error)) {
        const QByteArray payload = line.mid(error.size()).trimmed();
        const QJsonDocument document = QJsonDocument::fromJson(payload);
        if (document.isObject())
            std::tie(code, message) = reasonOf(document.object());
        else
            message = tidy(QString::fromUtf8(payload));
        return Line::Error;
    }
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
