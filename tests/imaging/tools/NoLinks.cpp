// Preloaded into a writer, it makes every folder behave as a USB stick's FAT does: no file without a name, no
// hard link. Renaming, with or without replacing, works as usual.

#include <cerrno>
#include <cstdarg>
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

} // namespace

extern "C" {

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
