#pragma once
// Cuts a byte stream into lines, whatever way the network splits it; a line may end in "\n" or "\r\n".
// A line may grow only so long: past that the reader stops taking bytes and says so.

#include <QByteArray>
#include <QList>

class LineReader {
public:
    explicit LineReader(qsizetype maxLine = 1024 * 1024) : limit(maxLine) {}

    // The lines completed by this chunk, without their ends. Once a line has run past the limit,
    // nothing more is taken.
    QList<QByteArray> push(const QByteArray& chunk);
    // What is left after the stream ended: a last line without its end, if any.
    QByteArray rest() const { return pending; }
    bool overflowed() const { return tooLong; }

private:
    QByteArray pending;
    qsizetype limit;
    bool tooLong = false;
};
