#include "platform/FileOps.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
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
    // A name in the folder it really is in: a relative target is read from there, as the system reads it, which need
    // not be the folder a path names when a folder on the way is a link too ("..", or a link to a linked folder).
    const auto inRealFolder = [](const QByteArray& name) {
        const qsizetype slash = name.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : name.left(slash);
        char* real = ::realpath(folder.constData(), nullptr);
        if (!real)
            return name;
        QByteArray out(real);
        std::free(real);
        return (out.endsWith('/') ? out : out + '/') + name.mid(slash + 1);
    };
    QByteArray at = QFile::encodeName(path);
    // A name that is no text (bytes that aren't UTF-8) can't be given back as one: refused rather than another
    // name written in its place.
    const auto named = [&error](const QByteArray& name) {
        const QString text = QFile::decodeName(name);
        if (QFile::encodeName(text) != name)
            error = EILSEQ;
        return text;
    };
    // As many as the system itself follows.
    for (int links = 0; links <= 40; ++links) {
        struct stat info {};
        if (::lstat(at.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return named(at);
        QByteArray target(4096, '\0');
        const ssize_t length = ::readlink(at.constData(), target.data(), size_t(target.size()));
        if (length <= 0 || length >= target.size())
            return named(at);
        target.truncate(length);
        const QByteArray real = inRealFolder(at);
        at = inRealFolder(target.startsWith('/') ? target : real.left(real.lastIndexOf('/') + 1) + target);
    }
    error = ELOOP;
    return path;
}

} // namespace FileOps
