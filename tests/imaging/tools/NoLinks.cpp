// Preloaded into a writer, it makes every folder behave as a USB stick's FAT does: no file without a name, no
// hard link. Renaming, with or without replacing, works as usual. While the file NO_LINKS_SLOW_FLUSH names exists,
// each flush to the disk takes 0.7 s besides, as a stick's does.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int openIn(const char* path, int flags, va_list args) {
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = (flags & O_CREAT) || unnamed ? mode_t(va_arg(args, int)) : 0;
    if (unnamed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return int(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

void slowFlush() {
    static const char* const when = std::getenv("NO_LINKS_SLOW_FLUSH");
    if (!when || ::access(when, F_OK) != 0)
        return;
    timespec wait{0, 700 * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // namespace

extern "C" {

int fsync(int fd) {
    slowFlush();
    return int(::syscall(SYS_fsync, fd));
}

int fdatasync(int fd) {
    slowFlush();
    return int(::syscall(SYS_fdatasync, fd));
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = openIn(path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = openIn(path, flags, args);
    va_end(args);
    return fd;
}

int link(const char*, const char*) noexcept {
    errno = EPERM;
    return -1;
}

int linkat(int, const char*, int, const char*, int) noexcept {
    errno = EPERM;
    return -1;
}

} // extern "C"
