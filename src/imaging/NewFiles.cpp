#include "imaging/NewFiles.h"

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

namespace {

// The process's file mode mask, read without setting it (umask() would change it for every thread a moment).
mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
    return 022;
}

} // namespace

Pending::Pending(Candidates candidates)
    : names(std::move(candidates)), file(new UnnamedFile(QFileInfo(names(1)).absolutePath())) {
    // The mode a file made with a name gets, not the private one of a file made without.
    if (file->isOpen())
        ::fchmod(file->fd(), 0666 & ~currentUmask());
}

Pending::~Pending() {
    delete file;
}

bool Pending::ok() const {
    return file->isOpen();
}

int Pending::fd() const {
    return file->fd();
}

bool Pending::write(const QByteArray& bytes) {
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && ok()) {
        const ssize_t n = ::write(file->fd(), at, size_t(std::min<qsizetype>(left, qsizetype(1) << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return ok();
}

QString Pending::place(QString* failed) {
    const QString first = QFileInfo(names(1)).fileName();
    if (!ok() || ::fsync(file->fd()) != 0) {
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
        if (failed)
            *failed = QFileInfo(path).fileName();
        return {};
    }
    if (failed)
        *failed = first;
    return {};
}

} // namespace NewFiles
