#include "imaging/NewFiles.h"

#include "platform/FileOps.h"
#include "platform/UnnamedFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

QString firstFree(const Candidates& candidates) {
    for (int n = 1; n < 100000; ++n)
        if (!taken(candidates(n)))
            return QFileInfo(candidates(n)).fileName();
    return QFileInfo(candidates(1)).fileName();
}

Pending::Pending(Candidates candidates)
    : names(std::move(candidates)),
      file(scope.admitted() ? new UnnamedFile(QFileInfo(names(1)).absolutePath()) : nullptr) {
    // The mode a file made with a name gets, not the private one of a file made without.
    if (file)
        file->useUserMode();
    if (file && !file->isOpen())
        error = errno ? errno : EIO;
}

Pending::Pending(const QString& path) : Pending(Candidates([path](int) { return path; })) {}

Pending::~Pending() {
    delete file;
}

bool Pending::ok() const {
    return file && file->isOpen();
}

bool Pending::refused() const {
    return !scope.admitted();
}

int Pending::fd() const {
    return file ? file->fd() : -1;
}

bool Pending::write(const QByteArray& bytes) {
    errno = 0;
    if (ok() && file->write(bytes))
        return true;
    error = errno ? errno : EIO;
    return false;
}

QString Pending::place(QString* failed) {
    const QString first = QFileInfo(names(1)).fileName();
    if (!ok()) {
        if (failed)
            *failed = first;
        return {};
    }
    for (int n = 1; n < 100000; ++n) {
        const QString path = names(n);
        if (taken(path))
            continue;
        const int error = file->link(path);
        if (error == 0)
            return path;
        if (error == EEXIST)
            continue; // someone else took it between the test and the link
        this->error = error;
        if (failed)
            *failed = QFileInfo(path).fileName();
        return {};
    }
    if (failed)
        *failed = first;
    return {};
}

int Pending::placeOver(const QString& path) {
    if (!ok())
        return refused() ? ECANCELED : EIO;
    error = file->replace(path);
    return error;
}

QString cantWrite(const QString& name, int error) {
    QString text = QStringLiteral("Couldn't write ") + name;
    if (error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES)
        text += QStringLiteral(": ") + FileOps::errorText(error);
    return text;
}

} // namespace NewFiles
