#include "PngFile.h"

#include "imaging/PngEncoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace PngFile {

namespace {

// Writes every byte of the pieces, in as few calls as the kernel allows.
bool writeAll(int fd, const std::vector<PngEncoder::Encoded::Piece>& pieces) {
    std::vector<iovec> rest;
    for (const PngEncoder::Encoded::Piece& p : pieces)
        rest.push_back({const_cast<uint8_t*>(p.data), p.size});
    size_t done = 0;
    while (done < rest.size()) {
        const int count = int(std::min<size_t>(rest.size() - done, IOV_MAX));
        const ssize_t written = writev(fd, rest.data() + done, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO; // nothing taken and no reason given: better a failure than waiting for ever
            return false;
        }
        // A short write leaves the rest of a piece to go: skip what went.
        size_t left = size_t(written);
        while (done < rest.size() && left >= rest[done].iov_len)
            left -= rest[done++].iov_len;
        if (left > 0) {
            rest[done].iov_base = static_cast<uint8_t*>(rest[done].iov_base) + left;
            rest[done].iov_len -= left;
        }
    }
    return true;
}

} // namespace

bool encode(const XGrab::Pixels& pixels, int fd, std::string& error, const std::function<bool(int rows)>& awaitRows) {
    PngEncoder::Source source;
    source.data = pixels.data;
    source.width = pixels.width;
    source.height = pixels.height;
    source.stride = pixels.stride;
    source.layout = pixels.alpha ? PngEncoder::Layout::Premultiplied : PngEncoder::Layout::Opaque;
    source.awaitRows = awaitRows;
    PngEncoder::Encoded encoded;
    if (!PngEncoder::encode(source, encoded, error))
        return false;
    errno = 0;
    if (!writeAll(fd, encoded.pieces())) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string numbered(const std::string& path, int n) {
    if (n < 2)
        return path;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string base = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : std::string();
    return base + " " + std::to_string(n) + extension;
}

bool writeNew(const XGrab::Pixels& pixels, const std::string& target, std::string& written, std::string& error,
              const std::function<bool(int rows)>& awaitRows) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : target.substr(0, slash);
    // Without a name until it is whole and on the disk: however the tool ends meanwhile (the display going away,
    // a kill), nothing of it is left behind.
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // Where the file system knows no such file, a hidden name that file managers and the program's own folder
    // scans do not pick up.
    std::string temp;
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        temp = folder + "/.screencapture-XXXXXX";
        std::vector<char> pattern(temp.begin(), temp.end());
        pattern.push_back('\0');
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        temp = pattern.data();
    }
    if (fd < 0) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        return false;
    }
    const auto discard = [&] {
        close(fd);
        if (!temp.empty())
            unlink(temp.c_str());
    };
    // A file made without a name is private; a picture gets the mode any new file of the user's would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::string why;
    const bool encoded = encode(pixels, fd, why, awaitRows);
    // A full disk can also show up only when the bytes reach it.
    const bool synced = encoded && fsync(fd) == 0;
    if (!encoded || !synced) {
        error = "cannot write " + target + ": " + (encoded ? std::strerror(errno) : why);
        discard();
        return false;
    }
    // The finished file takes its name in one step, and never one that exists: a file appearing
    // under our name since the caller looked makes us take the next number.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int n = 1; n < 10000; ++n) {
        const std::string name = numbered(target, n);
        int result;
        if (temp.empty()) {
            result = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
        } else {
            result = renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
            if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // File systems without the no-replace rename still refuse to link over a name.
                result = link(temp.c_str(), name.c_str());
                if (result == 0)
                    unlink(temp.c_str());
            }
            if (result == 0)
                temp.clear();
        }
        if (result == 0) {
            written = name;
            close(fd); // the bytes were on the disk before the name: the file is whole whatever close says
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot write " + name + ": " + std::strerror(errno);
            discard();
            return false;
        }
    }
    error = "cannot write " + target + ": no free name";
    discard();
    return false;
}

} // namespace PngFile
