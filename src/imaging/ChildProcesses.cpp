#include "imaging/ChildProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

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

QString notAFile(const QString& path) {
    const QFileInfo info(path);
    // A name given as text that stood for bytes that are not UTF-8 names another file; that one is not gone.
    if (!info.exists())
        return path.contains(QChar::ReplacementCharacter) ? QStringLiteral("its name is not UTF-8 text")
                                                          : QStringLiteral("the file is gone");
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (!info.isFile())
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
