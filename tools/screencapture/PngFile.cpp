#include "PngFile.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace PngFile {

namespace {

void putBig32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

bool writeChunk(std::FILE* file, const char type[4], const uint8_t* data, size_t size) {
    std::vector<uint8_t> head;
    putBig32(head, uint32_t(size));
    head.insert(head.end(), type, type + 4);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    // zlib's lengths are 32-bit; a chunk never comes near that, but the CRC is fed in pieces anyway.
    for (size_t done = 0; done < size;) {
        const uInt piece = uInt(std::min<size_t>(size - done, 1u << 30));
        crc = crc32(crc, data + done, piece);
        done += piece;
    }
    std::vector<uint8_t> tail;
    putBig32(tail, uint32_t(crc));
    return std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
           (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
}

// One band of rows, filtered and deflated on its own thread. Bands end on a sync flush (the last
// one finishes the stream), so their outputs joined make one valid deflate stream, as pigz does.
struct Band {
    int first = 0;
    int last = 0; // exclusive
    bool final = false;
    std::vector<uint8_t> compressed;
    uLong adler = 1;
    size_t rawSize = 0;
    bool ok = false;
};

int channelsOf(const XGrab::Pixels& pixels) {
    return pixels.alpha ? 4 : 3;
}

// One row as PNG wants it: red, green, blue (and alpha, not premultiplied, for a picture with alpha).
void unpackRow(const XGrab::Pixels& pixels, const uint8_t* src, uint8_t* out) {
    if (!pixels.alpha) {
        for (int x = 0; x < pixels.width; ++x) {
            out[size_t(x) * 3] = src[x * 4 + 2];
            out[size_t(x) * 3 + 1] = src[x * 4 + 1];
            out[size_t(x) * 3 + 2] = src[x * 4];
        }
        return;
    }
    for (int x = 0; x < pixels.width; ++x) {
        const unsigned a = src[x * 4 + 3];
        uint8_t* o = out + size_t(x) * 4;
        o[3] = uint8_t(a);
        for (int i = 0; i < 3; ++i) {
            // The server keeps colour premultiplied by alpha: undone with rounding, capped for the
            // odd pixel whose colour exceeds its alpha.
            const unsigned v = src[x * 4 + 2 - i];
            o[i] = a == 0 ? 0 : uint8_t(std::min(255u, (v * 255 + a / 2) / a));
        }
    }
}

void encodeBand(const XGrab::Pixels& pixels, Band& band) {
    const size_t pixelBytes = size_t(channelsOf(pixels));
    const size_t rowBytes = size_t(pixels.width) * pixelBytes + 1;
    band.rawSize = rowBytes * size_t(band.last - band.first);
    std::vector<uint8_t> above(size_t(pixels.width) * pixelBytes, 0);
    if (band.first > 0)
        unpackRow(pixels, pixels.data + size_t(band.first - 1) * size_t(pixels.stride), above.data());
    std::vector<uint8_t> current(above.size());

    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    band.compressed.resize(deflateBound(&z, uLong(band.rawSize)) + 16);
    z.next_out = band.compressed.data();
    z.avail_out = uInt(band.compressed.size());
    // Rows go to the compressor a few at a time, while they are still in the cache, rather than as one
    // filtered copy of the whole band.
    constexpr int batchRows = 16;
    std::vector<uint8_t> raw(rowBytes * batchRows);
    int result = Z_OK;
    for (int y = band.first; y < band.last && result == Z_OK;) {
        const int rows = std::min(batchRows, band.last - y);
        for (int i = 0; i < rows; ++i, ++y) {
            // The Up filter: screens repeat vertically (window edges, backgrounds, columns of text),
            // and it costs one subtraction per byte.
            uint8_t* dst = raw.data() + size_t(i) * rowBytes;
            unpackRow(pixels, pixels.data + size_t(y) * size_t(pixels.stride), current.data());
            dst[0] = 2;
            for (size_t k = 0; k < current.size(); ++k)
                dst[k + 1] = uint8_t(current[k] - above[k]);
            above.swap(current);
        }
        const size_t bytes = rowBytes * size_t(rows);
        band.adler = adler32_z(band.adler, raw.data(), bytes);
        z.next_in = raw.data();
        z.avail_in = uInt(bytes);
        const int flush = y < band.last ? Z_NO_FLUSH : (band.final ? Z_FINISH : Z_SYNC_FLUSH);
        result = deflate(&z, flush);
        if (z.avail_in != 0)
            result = Z_BUF_ERROR;
        else if (result == Z_STREAM_END)
            result = Z_OK;
    }
    band.ok = result == Z_OK;
    band.compressed.resize(z.total_out);
    deflateEnd(&z);
}

} // namespace

bool encode(const XGrab::Pixels& pixels, std::FILE* file, std::string& error) {
    if (pixels.width <= 0 || pixels.height <= 0 || !pixels.data) {
        error = "nothing to write";
        return false;
    }
    // Bands of at least 64 rows and at most one per core: a 4K screen compresses in a fraction of
    // the single-threaded time, at the cost of a dictionary restart per band.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t rowBytes = size_t(pixels.width) * size_t(channelsOf(pixels)) + 1;
    // Each band's input must fit zlib's 32-bit counters.
    const int maxRows = int(std::min<size_t>(size_t(pixels.height), (size_t(1) << 30) / rowBytes));
    int bandCount = std::max(1, std::min<int>(int(cores), pixels.height / 64));
    while ((pixels.height + bandCount - 1) / bandCount > maxRows)
        ++bandCount;
    std::vector<Band> bands(static_cast<size_t>(bandCount));
    const int perBand = (pixels.height + bandCount - 1) / bandCount;
    for (int i = 0; i < bandCount; ++i) {
        bands[size_t(i)].first = std::min(pixels.height, i * perBand);
        bands[size_t(i)].last = std::min(pixels.height, (i + 1) * perBand);
        bands[size_t(i)].final = i == bandCount - 1;
    }
    std::vector<std::thread> workers;
    for (size_t i = 1; i < bands.size(); ++i)
        workers.emplace_back(encodeBand, std::cref(pixels), std::ref(bands[i]));
    encodeBand(pixels, bands[0]);
    for (std::thread& t : workers)
        t.join();

    std::vector<uint8_t> stream{0x78, 0x01}; // zlib header: deflate, 32K window, fastest
    uLong adler = 1;
    for (const Band& band : bands) {
        if (!band.ok) {
            error = "out of memory";
            return false;
        }
        stream.insert(stream.end(), band.compressed.begin(), band.compressed.end());
        adler = adler32_combine(adler, band.adler, z_off_t(band.rawSize));
    }
    putBig32(stream, uint32_t(adler));

    static const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> header;
    putBig32(header, uint32_t(pixels.width));
    putBig32(header, uint32_t(pixels.height));
    // 8-bit RGB or RGBA, deflate, adaptive filters, not interlaced
    header.insert(header.end(), {8, uint8_t(pixels.alpha ? 6 : 2), 0, 0, 0});
    bool ok = std::fwrite(signature, 1, sizeof signature, file) == sizeof signature &&
              writeChunk(file, "IHDR", header.data(), header.size());
    // IDAT chunks of at most 1 MiB: any reader accepts them, and no length nears the 2^31 limit.
    for (size_t done = 0; ok && done < stream.size();) {
        const size_t piece = std::min<size_t>(stream.size() - done, 1u << 20);
        ok = writeChunk(file, "IDAT", stream.data() + done, piece);
        done += piece;
    }
    ok = ok && writeChunk(file, "IEND", nullptr, 0);
    if (!ok)
        error = std::strerror(errno);
    return ok;
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
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : target.substr(0, slash);
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
