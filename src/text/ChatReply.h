#pragma once
// The reply of one streamed chat request: reads its event lines, gathers the text, says when the
// caller should see the text so far, and cleans the final text.

#include <QByteArray>
#include <QString>

class ChatReply {
public:
    explicit ChatReply(int partialIntervalMs) : interval(partialIntervalMs) {}

    enum class Line { Ignored, Text, Done, Error };
    // One line of the stream, without its end. An "error:" event ends the reply with the server's reason.
    Line read(const QByteArray& line);
    // After an Error line: the code the server gave (0 when none) and its message, tidied and shortened.
    int errorCode() const { return code; }
    const QString& errorMessage() const { return message; }
    // The reason a refused reply's JSON body gives ({"error": {"code", "message"}}), or empty.
    static QString refusalReason(const QByteArray& body);
    // After a Text line: true when the caller is due a report at nowMs (the first one at once).
    bool partialDue(qint64 nowMs);

    const QString& received() const { return text; }
    // Trimmed, without the first reasoning block.
    QString finalText() const;
    static QString clean(const QString& text);

private:
    int interval;
    QString text;
    bool reported = false;
    int code = 0;
    QString message;
    qint64 lastReport = 0;
};
