#include "platform/FileNames.h"

#include "platform/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace FileNames {

namespace {

// The length of the valid UTF-8 sequence at the start of the bytes (no overlong forms, no surrogates), 0 when
// there is none.
int sequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int length = 0;
    unsigned min = 0;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    unsigned value = c & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

bool isUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype at = 0; at < bytes.size();) {
        const int n = sequenceLength(p + at, bytes.size() - at);
        if (n == 0)
            return false;
        at += n;
    }
    return true;
}

QByteArray absolute(const QByteArray& path) {
    if (path.startsWith('/'))
        return path;
    char here[PATH_MAX];
    if (!::getcwd(here, sizeof here))
        return path;
    return QByteArray(here) + '/' + path;
}

void clearOld(const QString& folder) {
    const QDateTime dayAgo = QDateTime::currentDateTime().addDays(-1);
    for (const QFileInfo& link : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        if (link.lastModified() < dayAgo)
            QDir(link.absoluteFilePath()).removeRecursively();
}

} // namespace

QString readable(const QByteArray& name) {
    QString out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.constData());
    for (qsizetype at = 0; at < name.size();) {
        const int n = sequenceLength(p + at, name.size() - at);
        if (n == 0) {
            out.append(QChar(char16_t(p[at])));
            ++at;
            continue;
        }
        out.append(QString::fromUtf8(name.constData() + at, n));
        at += n;
    }
    return out;
}

QString openable(const QByteArray& given) {
    const QByteArray path = absolute(given);
    if (isUtf8(path))
        return QDir::cleanPath(QFile::decodeName(path));
    QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    for (const QString& base : {XdgPaths::runtimeDir(), QDir::tempPath()}) {
        const QString folder = base + QStringLiteral("/pictolarium-names");
        if (!QDir().mkpath(folder))
            continue;
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        clearOld(folder);
        QByteArray pattern = QFile::encodeName(folder) + "/XXXXXX";
        if (!::mkdtemp(pattern.data()))
            continue;
        QString shown = readable(name).replace(QLatin1Char('/'), QLatin1Char('-'));
        if (shown.isEmpty())
            shown = QStringLiteral("file");
        const QByteArray link = pattern + '/' + QFile::encodeName(shown);
        if (::symlink(path.constData(), link.constData()) == 0)
            return QFile::decodeName(link);
    }
    return {};
}

} // namespace FileNames
