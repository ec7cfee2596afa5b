#include "text/LineReader.h"

QList<QByteArray> LineReader::push(const QByteArray& chunk) {
    QList<QByteArray> lines;
    pending.append(chunk);
    qsizetype start = 0;
    for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', start)) {
        qsizetype length = end - start;
        if (length > 0 && pending.at(end - 1) == '\r')
            --length;
        lines.append(pending.mid(start, length));
        start = end + 1;
    }
    pending.remove(0, start);
    return lines;
}
