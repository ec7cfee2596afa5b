#include "imaging/PngEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <sched.h>
#include <system_error>
#include <thread>

namespace PngEncoder {

namespace {

// Screenshots are mostly flat areas, text and soft gradients. The "up" filter costs one subtraction per
// byte and catches what repeats down the screen (window edges, backgrounds, columns of text); zlib's level 3
// (the last of its quick levels, whose longer match search pays off on text and grain) then makes files
// smaller than libpng's adaptive filtering at its usual level, in a fraction of its time.
constexpr int zlibLevel = 3;
constexpr uint8_t upFilter = 2;
constexpr size_t window = 32768;
// A strip is worth a thread from about this much raw data on; below it the start-up costs more than it saves.
constexpr size_t stripBytesAtLeast = 256 * 1024;
constexpr int stripsPerThread = 4;
constexpr int stripsAtMost = 64;
// Keeps each strip's input and output inside zlib's 32-bit counters and a chunk's length.
constexpr size_t stripBytesAtMost = size_t(1) << 30;
// Rows go to the compressor in batches of about this size, filtered while still in the cache.
constexpr size_t batchBytes = 64 * 1024;

void putBig32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

uLong crcOf(uLong crc, const uint8_t* data, size_t size) {
    while (size > 0) {
        const uInt piece = uInt(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, piece);
        data += piece;
        size -= piece;
    }
    return crc;
}

// The cores this process may run on, which in a container or under taskset can be fewer than the machine has.
int usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

bool isDeep(Layout layout) {
    return layout == Layout::Opaque64 || layout == Layout::Straight64 || layout == Layout::Premultiplied64;
}

int channelsOf(Layout layout) {
    return layout == Layout::Opaque || layout == Layout::Opaque64 ? 3 : 4;
}

// Bytes of one row as written, without its filter byte.
size_t rowBytes(const Source& source) {
    return size_t(source.width) * size_t(channelsOf(source.layout)) * (isDeep(source.layout) ? 2 : 1);
}

// One row of 16-bit samples in PNG's byte order (big-endian).
void packDeepRow(Layout layout, const uint8_t* src, int width, uint8_t* out) {
    const int channels = channelsOf(layout);
    for (int x = 0; x < width; ++x, src += 8) {
        uint16_t v[4];
        std::memcpy(v, src, sizeof v);
        if (layout == Layout::Premultiplied64) {
            const uint32_t a = v[3];
            for (int i = 0; i < 3; ++i)
                v[i] = a == 0 ? 0 : uint16_t(std::min<uint32_t>(65535, (uint32_t(v[i]) * 65535 + a / 2) / a));
        }
        for (int i = 0; i < channels; ++i) {
            *out++ = uint8_t(v[i] >> 8);
            *out++ = uint8_t(v[i]);
        }
    }
}

// One row in PNG's byte order, for the layouts with alpha.
void packRow(Layout layout, const uint8_t* src, int width, uint8_t* out) {
    if (isDeep(layout)) {
        packDeepRow(layout, src, width, out);
        return;
    }
    if (layout == Layout::Straight) {
        for (int x = 0; x < width; ++x, src += 4, out += 4) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
            out[3] = src[3];
        }
        return;
    }
    for (int x = 0; x < width; ++x, src += 4, out += 4) {
        const unsigned a = src[3];
        out[3] = uint8_t(a);
        for (int i = 0; i < 3; ++i) {
            // Undone with rounding, and capped for the odd pixel whose colour exceeds its alpha.
            const unsigned v = src[2 - i];
            out[i] = a == 0 ? 0 : uint8_t(std::min(255u, (v * 255 + a / 2) / a));
        }
    }
}

// The opaque rows need no packed copy: each byte is the pixel's colour less the one above it.
void upOpaque(const uint8_t* row, const uint8_t* above, int width, uint8_t* out) {
    for (int x = 0; x < width; ++x, row += 4, above += 4, out += 3) {
        out[0] = uint8_t(row[2] - above[2]);
        out[1] = uint8_t(row[1] - above[1]);
        out[2] = uint8_t(row[0] - above[0]);
    }
}

// Produces the filtered lines (filter byte first) of consecutive rows, from any row on.
class Filter {
public:
    Filter(const Source& source, int from)
        : source(source), bytes(rowBytes(source)), zeros(size_t(source.width) * 4), prev(bytes), cur(bytes),
          next(from) {
        if (source.layout != Layout::Opaque && from > 0)
            packRow(source.layout, rowAt(from - 1), source.width, prev.data());
    }

    size_t lineBytes() const { return bytes + 1; }

    // Writes the next row's line to out.
    void line(uint8_t* out) {
        out[0] = upFilter;
        const int y = next++;
        if (source.layout == Layout::Opaque) {
            upOpaque(rowAt(y), y > 0 ? rowAt(y - 1) : zeros.data(), source.width, out + 1);
            return;
        }
        packRow(source.layout, rowAt(y), source.width, cur.data());
        for (size_t i = 0; i < bytes; ++i)
            out[1 + i] = uint8_t(cur[i] - prev[i]);
        prev.swap(cur);
    }

private:
    const uint8_t* rowAt(int y) const { return source.data + ptrdiff_t(y) * source.stride; }

    const Source& source;
    const size_t bytes;
    const std::vector<uint8_t> zeros;
    std::vector<uint8_t> prev, cur; // packed rows, for the layouts with alpha
    int next;
};

// One strip of rows becomes one IDAT chunk: length and type, (the zlib header for the first strip,) the
// deflate data, (the checksum of all rows for the last strip,) and the CRC. A strip that is not the last
// ends on a sync flush, at a byte boundary, so the next strip's blocks can follow it in the stream.
struct Strip {
    int first = 0, last = 0; // rows [first, last)
    bool opens = false, closes = false;
    std::unique_ptr<uint8_t[]> buffer;
    size_t end = 0;  // bytes of the buffer used, up to the end of the deflate data
    uLong adler = 1; // of this strip's filtered lines
    size_t raw = 0;  // their length
    uLong crc = 0;   // of the chunk's type and data so far
    const char* failure = nullptr;
};

// What one thread keeps from strip to strip: setting up a compressor and its buffers anew for each would cost
// more in fresh pages than some strips take to compress.
class Worker {
public:
    explicit Worker(size_t line) : rowsPerBatch(std::max<size_t>(1, batchBytes / line)) {
        // Room for a batch, or for the rows that make the dictionary, whichever is more.
        const size_t rows = std::max(rowsPerBatch, (window + line - 1) / line);
        batch.reset(new (std::nothrow) uint8_t[rows * line]);
        ready = batch && deflateInit2(&z, zlibLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Worker() {
        if (ready)
            deflateEnd(&z);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    z_stream z{};
    std::unique_ptr<uint8_t[]> batch;
    const size_t rowsPerBatch;
    bool ready = false;
};

void compressStrip(const Source& source, Strip& strip, Worker& worker) {
    if (!worker.ready) {
        strip.failure = "out of memory";
        return;
    }
    if (source.awaitRows && !source.awaitRows(strip.last)) {
        strip.failure = "the pixels could not be read";
        return;
    }
    Filter filter(source, strip.first);
    const size_t line = filter.lineBytes();
    z_stream& z = worker.z;
    uint8_t* const batch = worker.batch.get();
    const size_t rowsPerBatch = worker.rowsPerBatch;
    deflateReset(&z);
    // The previous strip's last 32 KiB as the dictionary, so matches reach back across the seam.
    if (strip.first > 0) {
        const int back = int(std::min<size_t>(size_t(strip.first), (window + line - 1) / line));
        Filter before(source, strip.first - back);
        for (int i = 0; i < back; ++i)
            before.line(batch + size_t(i) * line);
        const size_t use = std::min(size_t(back) * line, window);
        deflateSetDictionary(&z, batch + size_t(back) * line - use, uInt(use));
    }
    strip.raw = size_t(strip.last - strip.first) * line;
    // Untouched, so that only the pages the compressed data fills are ever mapped.
    const size_t capacity = 8 + 2 + deflateBound(&z, uLong(strip.raw)) + 64 + 4 + 4;
    strip.buffer.reset(new (std::nothrow) uint8_t[capacity]);
    if (!strip.buffer) {
        strip.failure = "out of memory";
        return;
    }
    uint8_t* const start = strip.buffer.get();
    std::memcpy(start + 4, "IDAT", 4);
    size_t at = 8;
    if (strip.opens) {
        // deflate with a 32 KiB window, a quick level
        start[at++] = 0x78;
        start[at++] = 0x5e;
    }
    z.next_out = start + at;
    z.avail_out = uInt(capacity - at - 8);
    int status = Z_OK;
    for (int y = strip.first; y < strip.last && status == Z_OK;) {
        const int rows = int(std::min<size_t>(rowsPerBatch, size_t(strip.last - y)));
        for (int i = 0; i < rows; ++i)
            filter.line(batch + size_t(i) * line);
        y += rows;
        const size_t bytes = size_t(rows) * line;
        strip.adler = adler32_z(strip.adler, batch, bytes);
        z.next_in = batch;
        z.avail_in = uInt(bytes);
        status = deflate(&z, y < strip.last ? Z_NO_FLUSH : strip.closes ? Z_FINISH : Z_SYNC_FLUSH);
        if (status == Z_STREAM_END)
            status = Z_OK;
        if (z.avail_in != 0)
            status = Z_BUF_ERROR;
    }
    if (status != Z_OK) {
        strip.failure = "could not compress the picture";
        return;
    }
    strip.end = size_t(z.next_out - start);
    strip.crc = crcOf(crc32(0, nullptr, 0), start + 4, strip.end - 4);
}

int stripCount(const Source& source, size_t line, int asked) {
    const size_t raw = line * size_t(source.height);
    int count = asked;
    if (count <= 0) {
        const int cores = usableCores();
        count = int(
            std::clamp<size_t>(raw / stripBytesAtLeast, 1, size_t(std::min(cores * stripsPerThread, stripsAtMost))));
    }
    count = std::min(count, source.height);
    while (size_t((source.height + count - 1) / count) * line > stripBytesAtMost)
        ++count;
    return count;
}

void appendChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    uint8_t word[4];
    putBig32(word, uint32_t(size));
    out.insert(out.end(), word, word + 4);
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0)
        out.insert(out.end(), data, data + size);
    putBig32(word, uint32_t(crcOf(crc32(0, nullptr, 0), out.data() + typeAt, out.size() - typeAt)));
    out.insert(out.end(), word, word + 4);
}

} // namespace

size_t Encoded::size() const {
    size_t total = 0;
    for (const Piece& p : parts)
        total += p.size;
    return total;
}

std::vector<uint8_t> Encoded::joined() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(size());
    for (const Piece& p : parts)
        bytes.insert(bytes.end(), p.data, p.data + p.size);
    return bytes;
}

bool encode(const Source& source, Encoded& out, std::string& error, int strips) {
    out = Encoded();
    if (source.width <= 0 || source.height <= 0 || !source.data) {
        error = "nothing to write";
        return false;
    }
    const size_t line = rowBytes(source) + 1;
    if (line > stripBytesAtMost) {
        error = "the picture is too wide";
        return false;
    }
    const int count = stripCount(source, line, strips);
    std::vector<Strip> parts(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Strip& s = parts[size_t(i)];
        s.first = int(int64_t(source.height) * i / count);
        s.last = int(int64_t(source.height) * (i + 1) / count);
        s.opens = i == 0;
        s.closes = i == count - 1;
    }
    // More strips than threads, taken in order as each thread gets free: a strip of noise costs many times one
    // of flat colour, and no thread should sit idle while another still has half the screen to do.
    const int threads = std::min(count, usableCores());
    std::atomic<int> next{0};
    auto work = [&] {
        Worker worker(line);
        for (int i = next++; i < count; i = next++)
            compressStrip(source, parts[size_t(i)], worker);
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer do the same work
        }
    }
    work();
    for (std::thread& t : helpers)
        t.join();

    uLong adler = 1;
    for (const Strip& s : parts) {
        if (s.failure) {
            error = s.failure;
            return false;
        }
        adler = adler32_combine(adler, s.adler, z_off_t(s.raw));
    }
    Strip& last = parts.back();
    putBig32(last.buffer.get() + last.end, uint32_t(adler));
    last.crc = crc32(last.crc, last.buffer.get() + last.end, 4);
    last.end += 4;

    std::vector<uint8_t> head{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t header[13];
    putBig32(header, uint32_t(source.width));
    putBig32(header + 4, uint32_t(source.height));
    // 8 or 16 bits a channel, RGB or RGBA, deflate, adaptive filtering, not interlaced
    const uint8_t rest[5] = {uint8_t(isDeep(source.layout) ? 16 : 8), uint8_t(channelsOf(source.layout) == 3 ? 2 : 6),
                             0, 0, 0};
    std::memcpy(header + 8, rest, 5);
    appendChunk(head, "IHDR", header, sizeof header);
    if (!source.iccProfile.empty()) {
        // A name, its terminator, the compression method (deflate), then the compressed profile.
        static const char name[] = "ICC profile";
        uLongf packed = compressBound(uLong(source.iccProfile.size()));
        std::vector<uint8_t> chunk(sizeof name + 1 + packed);
        std::memcpy(chunk.data(), name, sizeof name);
        chunk[sizeof name] = 0;
        if (compress2(chunk.data() + sizeof name + 1, &packed, source.iccProfile.data(),
                      uLong(source.iccProfile.size()), Z_BEST_COMPRESSION) != Z_OK) {
            error = "could not compress the colour profile";
            return false;
        }
        appendChunk(head, "iCCP", chunk.data(), sizeof name + 1 + packed);
    }
    std::vector<uint8_t> tail;
    appendChunk(tail, "IEND", nullptr, 0);

    auto keep = [&out](std::unique_ptr<uint8_t[]> buffer, size_t size) {
        out.parts.push_back({buffer.get(), size});
        out.buffers.push_back(std::move(buffer));
    };
    auto copyOf = [](const std::vector<uint8_t>& bytes) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        return copy;
    };
    keep(copyOf(head), head.size());
    for (Strip& s : parts) {
        putBig32(s.buffer.get(), uint32_t(s.end - 8));
        putBig32(s.buffer.get() + s.end, uint32_t(s.crc));
        keep(std::move(s.buffer), s.end + 4);
    }
    keep(copyOf(tail), tail.size());
    return true;
}

} // namespace PngEncoder
