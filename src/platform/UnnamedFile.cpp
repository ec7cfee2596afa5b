#include "platform/UnnamedFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

UnnamedFile::UnnamedFile(const QString& folder) {
    const QByteArray dir = QFile::encodeName(folder);
    descriptor = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return;
    // Network and some FUSE filesystems know no such file: a name that goes the moment the file is open leaves
    // only a moment in which an end could leave it behind.
    QByteArray pattern = dir + "/.pictolarium-XXXXXX";
    descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor >= 0)
        ::unlink(pattern.constData());
    linkable = false;
}

UnnamedFile::~UnnamedFile() {
    if (descriptor >= 0)
        ::close(descriptor);
}

int UnnamedFile::link(const QString& path) {
    if (descriptor < 0)
        return EBADF;
    const QByteArray target = QFile::encodeName(path);
    if (linkable) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        // Without /proc the bytes are copied as below.
        const int error = errno;
        if (error != ENOENT || QFile::exists(QStringLiteral("/proc/self/fd")))
            return error;
    }
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return errno;
    char buffer[1 << 16];
    off_t at = 0;
    int error = 0;
    for (;;) {
        const ssize_t n = ::pread(descriptor, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < n && !error;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno != EINTR)
                error = errno;
            else if (w > 0)
                done += w;
        }
        if (error)
            break;
        at += n;
    }
    if (::close(out) != 0 && !error)
        error = errno;
    if (error)
        ::unlink(target.constData());
    return error;
}
