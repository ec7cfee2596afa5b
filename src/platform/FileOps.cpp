#include "platform/FileOps.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace FileOps {

int renameNoReplace(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    // Older kernels and some filesystems (network, FUSE) refuse the flag; a hard link gives the same
    // guarantee, since link(2) never replaces its target.
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    if (::link(src.constData(), dst.constData()) != 0)
        return errno;
    if (::unlink(src.constData()) != 0) {
        const int unlinkErr = errno;
        ::unlink(dst.constData());
        return unlinkErr;
    }
    return 0;
}

QString errorText(int errnum) {
    return QString::fromStdString(std::generic_category().message(errnum));
}

QString throughLinks(const QString& path, int& error) {
    error = 0;
    QString at = path;
    // As many as the system itself follows.
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(at);
        if (!info.isSymLink())
            return at;
        const QString next = info.symLinkTarget();
        if (next.isEmpty())
            return at;
        at = next;
    }
    error = ELOOP;
    return path;
}

} // namespace FileOps
