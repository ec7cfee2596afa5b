#include "imaging/NewFiles.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace NewFiles {

QString baseName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

Candidates numbered(const QString& folder, const QString& base, const QString& ext) {
    return [folder, base, ext](int n) {
        const QString name = n == 1 ? base : base + QLatin1Char(' ') + QString::number(n);
        return folder + QLatin1Char('/') + name + QLatin1Char('.') + ext;
    };
}

bool taken(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString reserve(const Candidates& candidates, QString* failed) {
    for (int n = 1; n < 100000; ++n) {
        const QString path = candidates(n);
        if (taken(path))
            continue;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return path;
        if (taken(path))
            continue; // someone else took it between the test and the create
        if (failed)
            *failed = QFileInfo(path).fileName();
        return {};
    }
    if (failed)
        *failed = QFileInfo(candidates(1)).fileName();
    return {};
}

bool fill(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly) &&
              file.write(bytes) == bytes.size() && file.flush();
    file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok)
        QFile::remove(path);
    return ok;
}

} // namespace NewFiles
