#include "PngFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace PngFile {

namespace {

struct ErrorSink {
    std::jmp_buf jump;
    std::string message;
};

void onError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    sink->message = message;
    std::longjmp(sink->jump, 1);
}

void onWarning(png_structp, png_const_charp) {}

} // namespace

bool encode(const XGrab::Pixels& pixels, std::FILE* file, std::string& error) {
    ErrorSink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
    if (!png) {
        error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(size_t(pixels.height));
    if (!info || setjmp(sink.jump)) {
        png_destroy_write_struct(&png, &info);
        error = sink.message.empty() ? std::string("out of memory") : sink.message;
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(pixels.width), png_uint_32(pixels.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Measured on screen contents: level 1 with the Sub filter takes a fraction of the time of the
    // defaults for files about a third larger.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < pixels.height; ++y)
        rows[size_t(y)] = const_cast<png_bytep>(pixels.data + size_t(y) * size_t(pixels.stride));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
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

bool writeNew(const XGrab::Pixels& pixels, const std::string& target, std::string& written, std::string& error) {
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : target.substr(0, slash);
    // Hidden, so that file managers and the program's own folder scans do not pick up half a file.
    std::string temp = folder + "/.screencapture-XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        return false;
    }
    temp = pattern.data();
    // mkstemp makes the file private; a picture gets the mode any new file of the user's would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    std::string why;
    const bool encoded = encode(pixels, file, why);
    // A full disk shows up at the flush or the close, not necessarily in the encoder.
    errno = 0;
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (flushed && !closed)
        savedErrno = errno;
    if (!encoded || !flushed || !closed) {
        error = "cannot write " + target + ": " + (encoded ? std::strerror(savedErrno) : why);
        unlink(temp.c_str());
        return false;
    }
    // The finished file takes its name in one step, and never one that exists: a file appearing
    // under our name since the caller looked makes us take the next number.
    for (int n = 1; n < 10000; ++n) {
        const std::string name = numbered(target, n);
        int result = renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without the no-replace rename still refuse to link over a name.
            result = link(temp.c_str(), name.c_str());
            if (result == 0)
                unlink(temp.c_str());
        }
        if (result == 0) {
            written = name;
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot write " + name + ": " + std::strerror(errno);
            unlink(temp.c_str());
            return false;
        }
    }
    error = "cannot write " + target + ": no free name";
    unlink(temp.c_str());
    return false;
}

} // namespace PngFile
