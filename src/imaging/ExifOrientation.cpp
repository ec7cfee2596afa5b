#include "imaging/ExifOrientation.h"

#include <cstring>

namespace ExifOrientation {

namespace {

constexpr quint16 orientationTag = 0x0112;
constexpr quint16 typeShort = 3;

quint16 u16(const unsigned char* p, bool little) {
    return little ? quint16(p[0] | p[1] << 8) : quint16(p[0] << 8 | p[1]);
}

quint32 u32(const unsigned char* p, bool little) {
    return little ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                  : quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

quint64 u64(const unsigned char* p, bool little) {
    const quint64 a = u32(p, little), b = u32(p + 4, little);
    return little ? b << 32 | a : a << 32 | b;
}

const unsigned char* bytes(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

int inJpeg(const QByteArray& file) {
    const unsigned char* d = bytes(file);
    const qsizetype n = file.size();
    qsizetype pos = 2;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF)
            return 1;
        const unsigned char marker = d[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // image data starts: metadata comes before it
            return 1;
        const qsizetype length = u16(d + pos + 2, false);
        if (length < 2 || pos + 2 + length > n)
            return 1;
        if (marker == 0xE1 && length >= 8 && std::memcmp(d + pos + 4, "Exif\0\0", 6) == 0)
            return inTiff(file.constData() + pos + 10, length - 8);
        pos += 2 + length;
    }
    return 1;
}

int inPng(const QByteArray& file) {
    const unsigned char* d = bytes(file);
    const qsizetype n = file.size();
    qsizetype pos = 8;
    while (pos + 12 <= n) {
        const qsizetype length = u32(d + pos, false);
        if (length > n - pos - 12)
            return 1;
        if (std::memcmp(d + pos + 4, "eXIf", 4) == 0)
            return inTiff(file.constData() + pos + 8, length);
        if (std::memcmp(d + pos + 4, "IEND", 4) == 0)
            return 1;
        pos += 12 + length;
    }
    return 1;
}

int inWebp(const QByteArray& file) {
    const unsigned char* d = bytes(file);
    const qsizetype n = file.size();
    qsizetype pos = 12;
    while (pos + 8 <= n) {
        const qsizetype length = u32(d + pos + 4, true);
        if (length > n - pos - 8)
            return 1;
        if (std::memcmp(d + pos, "EXIF", 4) == 0) {
            const char* block = file.constData() + pos + 8;
            // Some writers keep the JPEG-style "Exif\0\0" prefix inside the chunk.
            if (length >= 6 && std::memcmp(block, "Exif\0\0", 6) == 0)
                return inTiff(block + 6, length - 6);
            return inTiff(block, length);
        }
        pos += 8 + length + (length & 1);
    }
    return 1;
}

} // namespace

int inTiff(const char* data, qsizetype size) {
    const auto* d = reinterpret_cast<const unsigned char*>(data);
    if (size < 8)
        return 1;
    bool little;
    if (std::memcmp(d, "II", 2) == 0)
        little = true;
    else if (std::memcmp(d, "MM", 2) == 0)
        little = false;
    else
        return 1;
    // A BigTIFF's offsets and counts are eight bytes wide, its directory entries twenty.
    const quint16 version = u16(d + 2, little);
    const bool big = version == 43;
    if (!big && version != 42)
        return 1;
    if (big && (size < 16 || u16(d + 4, little) != 8 || u16(d + 6, little) != 0))
        return 1;
    const qsizetype head = big ? 8 : 2, width = big ? 20 : 12, valueAt = big ? 12 : 8;
    const quint64 first = big ? u64(d + 8, little) : u32(d + 4, little);
    if (first < 8 || first > quint64(size - head))
        return 1;
    const qsizetype ifd = qsizetype(first);
    const quint64 count = big ? u64(d + ifd, little) : u16(d + ifd, little);
    for (quint64 i = 0; i < count; ++i) {
        const qsizetype entry = ifd + head + qsizetype(i) * width;
        if (entry + width > size)
            return 1;
        if (u16(d + entry, little) != orientationTag)
            continue;
        const quint64 n = big ? u64(d + entry + 4, little) : u32(d + entry + 4, little);
        if (u16(d + entry + 2, little) != typeShort || n < 1)
            return 1;
        const int value = u16(d + entry + valueAt, little);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

int of(const QByteArray& file) {
    const qsizetype n = file.size();
    const char* d = file.constData();
    if (n >= 4 && std::memcmp(d, "\xFF\xD8", 2) == 0)
        return inJpeg(file);
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1A\n", 8) == 0)
        return inPng(file);
    if (n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0)
        return inWebp(file);
    if (n >= 8 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0 ||
                   std::memcmp(d, "II+\0", 4) == 0 || std::memcmp(d, "MM\0+", 4) == 0))
        return inTiff(d, n);
    return 1;
}

} // namespace ExifOrientation
