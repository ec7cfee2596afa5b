#include "platform/UriList.h"

#include <cctype>

namespace UriList {

QList<QUrl> localFiles(const QByteArray& data, qsizetype limit) {
    QList<QUrl> files;
    for (QByteArray line : data.split('\n')) {
        if (files.size() >= limit)
            break;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // A lone '%' or one followed by anything but two hex digits is a broken entry, not a name.
        bool escapesOk = true;
        for (qsizetype i = 0; i < line.size() && escapesOk; ++i)
            if (line.at(i) == '%')
                escapesOk = i + 2 < line.size() && isxdigit(uchar(line.at(i + 1))) && isxdigit(uchar(line.at(i + 2)));
        if (!escapesOk)
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != u"file")
            continue;
        if (!url.host().isEmpty() && url.host() != u"localhost")
            continue;
        const QString path = url.path(QUrl::FullyDecoded);
        if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
            continue;
        files.append(QUrl::fromLocalFile(path));
    }
    return files;
}

} // namespace UriList
