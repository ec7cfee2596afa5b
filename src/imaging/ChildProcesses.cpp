#include "imaging/ChildProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace ChildProcesses {

QString find(const QString& name, const QString& folder) {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {here + QLatin1Char('/') + name, here + QStringLiteral("/../tools/") + folder + QLatin1Char('/') + name})
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? name : onPath;
}

QString notOpened(int error, const QString& path) {
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("there is no permission to read it");
    case ELOOP:
        return QStringLiteral("it is a link that leads nowhere");
    case ENOENT:
    case ENOTDIR:
        // A name given as text that stood for bytes that are not UTF-8 names another file; that one is not gone.
        return path.contains(QChar::ReplacementCharacter) ? QStringLiteral("its name is not UTF-8 text")
                                                          : QStringLiteral("the file is gone");
    default:
        return QStringLiteral("it could not be read");
    }
}

QString notAFile(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return notOpened(errno, path);
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    return {};
}

bool waitWithin(QProcess& child, int timeLimitMs, const QElapsedTimer& since) {
    const bool started = child.waitForStarted(timeLimitMs);
    if ((started && child.waitForFinished(int(std::max<qint64>(1, timeLimitMs - since.elapsed())))) ||
        (!started && child.state() == QProcess::NotRunning))
        return false;
    const bool timedOut = child.state() != QProcess::NotRunning;
    child.kill();
    child.waitForFinished(-1);
    return timedOut;
}

} // namespace ChildProcesses
