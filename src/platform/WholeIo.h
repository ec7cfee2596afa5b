#pragma once
// Reads and writes of a whole buffer through a descriptor, for the program and for the child programs beside
// it: plain system calls, no toolkit, so that a child linked without one can use them too.

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace WholeIo {

// Writes all `size` bytes at the descriptor's position, again after a signal and after a short write. False when
// a write fails, with errno saying why (EIO where the system wrote nothing and named no error).
inline bool writeAll(int fd, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        // The system writes at most about 2 GiB a call: larger pieces would only come back short.
        const ssize_t n = ::write(fd, at, std::min<std::size_t>(size, std::size_t(1) << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        at += n;
        size -= std::size_t(n);
    }
    return true;
}

// Reads up to `size` bytes from the descriptor's position, again after a signal and after a short read; stops
// early only at the file's end or a failed read. Returns how many bytes it read.
inline std::size_t readUpTo(int fd, void* data, std::size_t size) {
    char* at = static_cast<char*>(data);
    std::size_t have = 0;
    while (have < size) {
        const ssize_t n = ::read(fd, at + have, std::min<std::size_t>(size - have, std::size_t(1) << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        have += std::size_t(n);
    }
    return have;
}

} // namespace WholeIo
