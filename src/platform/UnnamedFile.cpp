#include "platform/UnnamedFile.h"

#include "platform/FileOps.h"
#include "platform/WholeIo.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

QByteArray folderOf(const QByteArray& target) {
    const qsizetype slash = target.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : target.left(std::max<qsizetype>(slash, 1));
}

// How our hidden names start: a file copied to its name is first whole under one of them.
constexpr char stagingPrefix[] = ".pictolarium-";

// A name in the target's folder that nothing else uses, for the moment between linking and renaming.
QByteArray stagingName(const QByteArray& target) {
    const QByteArray folder = folderOf(target);
    return folder + "/" + stagingPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

// What a write left under a hidden name of ours when it was cut off (the program killed while it copied a file to
// its name, where files cannot be made without one): removed the first time this process writes in the folder.
// Only regular files of this user's, untouched for a while and not locked: a write under way holds its lock until
// its file has its name, and one just begun is young.
constexpr time_t leftoverAge = 10 * 60;

void sweepLeftovers(const QByteArray& folder) {
    static std::mutex lock;
    static std::set<QByteArray> swept;
    {
        const std::lock_guard<std::mutex> held(lock);
        if (!swept.insert(folder).second)
            return;
    }
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    DIR* listing = ::fdopendir(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    const time_t now = ::time(nullptr);
    while (dirent* entry = listing ? ::readdir(listing) : nullptr) {
        const char* name = entry->d_name;
        if (std::strncmp(name, stagingPrefix, std::strlen(stagingPrefix)) != 0)
            continue;
        struct stat seen {};
        if (::fstatat(dir, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
            seen.st_uid != ::geteuid() || now - seen.st_mtime < leftoverAge)
            continue;
        const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && opened.st_ino == seen.st_ino &&
            opened.st_dev == seen.st_dev)
            ::unlinkat(dir, name, 0);
        ::close(fd);
    }
    if (listing)
        ::closedir(listing);
    ::close(dir);
}

// The extended attributes a file was given before its name (an edit record's id) go with its copy.
void copyAttributes(int from, int to) {
    std::vector<char> names(64 * 1024);
    const ssize_t length = ::flistxattr(from, names.data(), names.size());
    std::vector<char> value(64 * 1024);
    for (ssize_t at = 0; at < length; at += ssize_t(std::strlen(names.data() + at)) + 1) {
        const ssize_t size = ::fgetxattr(from, names.data() + at, value.data(), value.size());
        if (size >= 0)
            ::fsetxattr(to, names.data() + at, value.data(), size_t(size), 0);
    }
}

// Gives the whole file at `staging` the name `target` too, or moves it there, never replacing a file: 0 or the
// errno value. A USB stick's FAT and some FUSE filesystems know no hard links; some of them know no rename that
// refuses to replace either, and there the name is taken first and the whole file moved onto it at once.
int nameWithoutReplacing(const QByteArray& staging, const QByteArray& target) {
    if (::link(staging.constData(), target.constData()) == 0)
        return 0;
    int error = errno;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS)
        return error;
    if (::renameat2(AT_FDCWD, staging.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    error = errno;
    if (error != EINVAL && error != EOPNOTSUPP && error != ENOSYS)
        return error;
    const int held = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (held < 0)
        return errno;
    ::close(held);
    if (::rename(staging.constData(), target.constData()) == 0)
        return 0;
    error = errno;
    ::unlink(target.constData());
    return error;
}

} // namespace

UnnamedFile::UnnamedFile(const QString& folder) {
    const QByteArray dir = QFile::encodeName(folder);
    descriptor = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return;
    // Network and some FUSE filesystems know no such file: a name that goes the moment the file is open leaves
    // only a moment in which an end could leave it behind.
    sweepLeftovers(dir);
    QByteArray pattern = dir + "/" + stagingPrefix + "XXXXXX";
    descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor >= 0)
        ::unlink(pattern.constData());
    linkable = false;
}

UnnamedFile::~UnnamedFile() {
    if (descriptor >= 0)
        ::close(descriptor);
}

void UnnamedFile::useUserMode() {
    if (descriptor >= 0)
        ::fchmod(descriptor, 0666 & ~currentUmask());
}

bool UnnamedFile::write(const char* data, qint64 size) {
    if (descriptor < 0) {
        errno = EBADF;
        return false;
    }
    return size <= 0 || WholeIo::writeAll(descriptor, data, size_t(size));
}

int UnnamedFile::sync() const {
    if (descriptor < 0)
        return EBADF;
    // A name given before the bytes are on the disk can hold an empty file after a power cut.
    return ::fsync(descriptor) == 0 ? 0 : errno;
}

int UnnamedFile::link(const QString& path) {
    if (const int error = sync())
        return error;
    return linkAs(QFile::encodeName(path));
}

int UnnamedFile::replace(const QString& path) {
    if (const int error = sync())
        return error;
    // Settings kept elsewhere and linked in, through however many links, stay where they are kept.
    int error = 0;
    const QString target = FileOps::throughLinks(path, error);
    if (error)
        return error;
    const QByteArray name = QFile::encodeName(target);
    struct stat existing;
    if (::stat(name.constData(), &existing) == 0) {
        // Only a plain file is replaced: a pipe, a device or a folder put there meanwhile stays as it is.
        if (!S_ISREG(existing.st_mode))
            return EEXIST;
        // The rename would replace a file the user may not change or read: it stays as it is, also for a user whom
        // the system would let write it.
        if (::access(name.constData(), W_OK) != 0 || ::access(name.constData(), R_OK) != 0 ||
            (existing.st_mode & 0222) == 0 || (existing.st_mode & 0444) == 0)
            return EACCES;
        ::fchmod(descriptor, existing.st_mode & 07777);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray staging = stagingName(name);
        const int error = linkAs(staging);
        if (error == EEXIST)
            continue;
        if (error)
            return error;
        // The staging name holds the whole file from the start; the rename swaps it in for the old one at once.
        if (::rename(staging.constData(), name.constData()) != 0) {
            const int renameError = errno;
            ::unlink(staging.constData());
            return renameError;
        }
        return 0;
    }
    return EEXIST;
}

int UnnamedFile::linkAs(const QByteArray& target) {
    if (descriptor < 0)
        return EBADF;
    if (linkable) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        // Without /proc the bytes are copied as below.
        const int error = errno;
        if (error != ENOENT || QFile::exists(QStringLiteral("/proc/self/fd")))
            return error;
    }
    // The copy is made under a hidden name of its own and renamed without replacing once whole; locked until then,
    // so that no other instance takes it for what a cut-off write left behind.
    sweepLeftovers(folderOf(target));
    const QByteArray staging = stagingName(target);
    const int out = ::open(staging.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return errno;
    ::flock(out, LOCK_EX | LOCK_NB);
    const int lockHolder = ::fcntl(out, F_DUPFD_CLOEXEC, 0);
    struct stat own;
    const bool known = ::fstat(descriptor, &own) == 0;
    if (known)
        ::fchmod(out, own.st_mode & 07777);
    copyAttributes(descriptor, out);
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
        if (!WholeIo::writeAll(out, buffer, size_t(n))) {
            error = errno;
            break;
        }
        at += n;
    }
    // The copy is the same file to whoever compares size and time (an edit record names the picture by them).
    if (!error && known) {
        const timespec times[2] = {own.st_atim, own.st_mtim};
        ::futimens(out, times);
    }
    if (!error && ::fsync(out) != 0)
        error = errno;
    if (::close(out) != 0 && !error)
        error = errno;
    if (!error)
        error = nameWithoutReplacing(staging, target);
    ::unlink(staging.constData());
    if (lockHolder >= 0)
        ::close(lockHolder);
    return error;
}
