#include "text/LineReader.h"

QList<QByteArray> LineReader::push(const QByteArray& chunk) {
    QList<QByteArray> lines;
    if (tooLong)
        return lines;
    // Only the new bytes can hold a line end: an endless line costs its length, not its square.
    const qsizetype searched = pending.size();
    pending.append(chunk);
    qsizetype start = 0;
    for (qsizetype end = pending.indexOf('\n', searched); end >= 0; end = pending.indexOf('\n', end + 1)) {
        qsizetype length = end - start;
        if (length > 0 && pending.at(end - 1) == '\r')
            --length;
        if (length > limit)
            break;
        lines.append(pending.mid(start, length));
        start = end + 1;
    }
    pending.remove(0, start);
    const qsizetype open = pending.indexOf('\n');
    if ((open < 0 ? pending.size() : open) > limit) {
        tooLong = true;
        pending.clear();
    }
    return lines;
}
