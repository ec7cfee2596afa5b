#pragma once
// Cuts a byte stream into lines, whatever way the network splits it; a line may end in "\n" or "\r\n".

#include <QByteArray>
#include <QList>

class LineReader {
public:
    // The lines completed by this chunk, without their ends.
    QList<QByteArray> push(const QByteArray& chunk);
    // What is left after the stream ended: a last line without its end, if any.
    QByteArray rest() const { return pending; }

private:
    QByteArray pending;
};
