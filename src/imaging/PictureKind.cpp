#include "imaging/PictureKind.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <map>
#include <vector>
#include <zlib.h>

namespace PictureKind {

namespace {

// No profile is larger than this: a bigger one is a damaged or hostile file.
constexpr qsizetype largestProfile = qsizetype(16) << 20;

const unsigned char* raw(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

quint32 big16(const unsigned char* p) {
    return quint32(p[0]) << 8 | p[1];
}

quint32 big32(const unsigned char* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

quint32 little32(const unsigned char* p) {
    return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
}

// Hands each of a JPEG's marker segments before its picture data to `visit` (marker, offset of the marker, length
// as the segment states it), until one is cut short or `visit` returns true.
template <typename Visit> void jpegSegments(const QByteArray& bytes, Visit visit) {
    const unsigned char* d = raw(bytes);
    qsizetype at = 2;
    while (at + 4 <= bytes.size() && d[at] == 0xFF) {
        const int marker = d[at + 1];
        if (marker == 0xDA || marker == 0xD9)
            return;
        const qsizetype length = big16(d + at + 2);
        if (length < 2 || at + 2 + length > bytes.size())
            return;
        if (visit(marker, at, length))
            return;
        at += 2 + length;
    }
}

QByteArray jpegProfile(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    std::map<int, QByteArray> parts;
    int expected = 0;
    jpegSegments(bytes, [&](int marker, qsizetype at, qsizetype length) {
        static const QByteArray tag("ICC_PROFILE\0", 12);
        if (marker == 0xE2 && length >= 16 && QByteArrayView(bytes.constData() + at + 4, 12) == tag) {
            const int sequence = d[at + 16], count = d[at + 17];
            parts[sequence] = bytes.mid(at + 18, length - 16);
            expected = count;
        }
        return false;
    });
    if (parts.empty() || int(parts.size()) != expected)
        return {};
    QByteArray icc;
    int next = 1;
    for (const auto& [sequence, part] : parts) {
        if (sequence != next++)
            return {};
        icc += part;
    }
    return icc;
}

QByteArray inflated(const QByteArray& packed) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    int status = Z_OK;
    while (status == Z_OK && out.size() < largestProfile) {
        const qsizetype had = out.size();
        out.resize(had + 65536);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + had);
        stream.avail_out = 65536;
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(had + 65536 - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

QByteArray pngProfile(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    qsizetype at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = big32(d + at);
        if (length > quint32(bytes.size() - at - 12))
            break;
        const QByteArrayView type(bytes.constData() + at + 4, 4);
        if (type == "iCCP") {
            const QByteArray body = bytes.mid(at + 8, length);
            const qsizetype nul = body.indexOf('\0');
            if (nul < 1 || nul + 2 > body.size() || body.at(nul + 1) != 0)
                return {};
            return inflated(body.mid(nul + 2));
        }
        if (type == "IDAT" || type == "IEND")
            break;
        at += 12 + qsizetype(length);
    }
    return {};
}

QByteArray webpProfile(const QByteArray& bytes) {
    const unsigned char* d = raw(bytes);
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const quint32 length = little32(d + at + 4);
        if (length > quint32(bytes.size() - at - 8))
            break;
        if (QByteArrayView(bytes.constData() + at, 4) == "ICCP")
            return bytes.mid(at + 8, length);
        at += 8 + qsizetype(length) + (length & 1);
    }
    return {};
}

// One directory of a TIFF, classic or BigTIFF (whose offsets and counts are eight bytes wide), with the values of
// the few tags asked for.
class TiffReader {
public:
    explicit TiffReader(const QByteArray& bytes) : bytes(bytes), d(raw(bytes)) {
        if (bytes.size() < 8)
            return;
        if (bytes.startsWith(QByteArrayView("II", 2)))
            little = true;
        else if (!bytes.startsWith(QByteArrayView("MM", 2)))
            return;
        const quint16 version = u16(2);
        if (version == 43) {
            if (bytes.size() < 16 || u16(4) != 8 || u16(6) != 0)
                return;
            big = true;
        } else if (version != 42) {
            return;
        }
        ok = true;
    }

    bool valid() const { return ok; }
    quint64 first() const { return big ? u64(8) : u32(4); }

    struct Entry {
        quint16 tag = 0, type = 0;
        quint64 count = 0;
        qsizetype at = 0; // where the value or the offset to it lies
    };

    std::vector<Entry> entries(quint64 ifd) const {
        std::vector<Entry> list;
        const qsizetype head = big ? 8 : 2, size = big ? 20 : 12;
        if (!ok || ifd < 8 || ifd > quint64(bytes.size()) || qsizetype(ifd) + head > bytes.size())
            return list;
        const quint64 count = big ? u64(qsizetype(ifd)) : u16(qsizetype(ifd));
        for (quint64 i = 0; i < std::min<quint64>(count, 4096); ++i) {
            const qsizetype e = qsizetype(ifd) + head + qsizetype(i) * size;
            if (e + size > bytes.size())
                break;
            list.push_back(Entry{u16(e), u16(e + 2), big ? u64(e + 4) : u32(e + 4), e + (big ? 12 : 8)});
        }
        return list;
    }

    // The index-th number of an entry of type BYTE, SHORT, LONG, IFD, LONG8 or IFD8; -1 when out of range or of
    // another type.
    qint64 number(const Entry& e, quint32 index = 0) const {
        const int width = e.type == 1                             ? 1
                          : e.type == 3                           ? 2
                          : (e.type == 4 || e.type == 13)         ? 4
                          : (e.type == 16 || e.type == 18) && big ? 8
                                                                  : 0;
        if (width == 0 || index >= e.count)
            return -1;
        const qint64 at = offsetOf(e, width) + qint64(index) * width;
        if (at < 0 || at + width > bytes.size())
            return -1;
        if (width == 8) {
            const quint64 v = u64(at);
            return v > quint64(LLONG_MAX) ? -1 : qint64(v);
        }
        return width == 1 ? d[at] : width == 2 ? u16(at) : qint64(u32(at));
    }

    // The bytes of an entry of type UNDEFINED or BYTE.
    QByteArray blob(const Entry& e) const {
        if ((e.type != 7 && e.type != 1) || e.count > quint64(largestProfile))
            return {};
        const qint64 at = offsetOf(e, 1);
        if (at < 0 || at + qint64(e.count) > bytes.size())
            return {};
        return bytes.mid(at, qsizetype(e.count));
    }

private:
    // Where the values of an entry of `count` items `width` bytes wide lie: in the entry when they fit in it.
    qint64 offsetOf(const Entry& e, int width) const {
        const quint64 inline_ = big ? 8 : 4;
        if (e.count > quint64(largestProfile))
            return -1;
        if (e.count * quint64(width) <= inline_)
            return e.at;
        const quint64 at = big ? u64(e.at) : u32(e.at);
        return at > quint64(bytes.size()) ? -1 : qint64(at);
    }

    quint16 u16(qsizetype at) const {
        return little ? quint16(d[at] | d[at + 1] << 8) : quint16(d[at] << 8 | d[at + 1]);
    }
    quint32 u32(qsizetype at) const { return little ? little32(d + at) : big32(d + at); }
    quint64 u64(qsizetype at) const {
        const quint64 low = u32(at), high = u32(at + 4);
        return little ? high << 32 | low : low << 32 | high;
    }

    const QByteArray& bytes;
    const unsigned char* d;
    bool little = false;
    bool big = false;
    bool ok = false;
};

enum Tag : quint16 {
    newSubfileType = 254,
    imageWidth = 256,
    imageLength = 257,
    bitsPerSample = 258,
    photometricTag = 262,
    samplesPerPixel = 277,
    planarConfiguration = 284,
    extraSamplesTag = 338,
    sampleFormatTag = 339,
    subIFDs = 330,
    iccTag = 34675,
    dngVersion = 50706,
};

struct Directory {
    qint64 subfileType = 0;
    QSize size;
    int photometric = -1, samples = 1, bits = 1;
    bool planar = false;
    int sampleFormat = 1;
    int extraSample = -1;
    std::vector<quint64> children;
    bool dng = false;
    QByteArray icc;
};

Directory directory(const TiffReader& reader, quint64 ifd) {
    Directory dir;
    qint64 width = -1, height = -1;
    for (const TiffReader::Entry& e : reader.entries(ifd)) {
        switch (e.tag) {
        case newSubfileType:
            dir.subfileType = std::max<qint64>(0, reader.number(e));
            break;
        case imageWidth:
            width = reader.number(e);
            break;
        case imageLength:
            height = reader.number(e);
            break;
        case bitsPerSample:
            dir.bits = int(reader.number(e));
            break;
        case photometricTag:
            dir.photometric = int(reader.number(e));
            break;
        case samplesPerPixel:
            dir.samples = int(reader.number(e));
            break;
        case planarConfiguration:
            dir.planar = reader.number(e) == 2;
            break;
        case sampleFormatTag:
            dir.sampleFormat = int(reader.number(e));
            break;
        case extraSamplesTag:
            dir.extraSample = int(reader.number(e));
            break;
        case subIFDs:
            for (quint32 i = 0; i < std::min<quint64>(e.count, 64); ++i)
                if (const qint64 child = reader.number(e, i); child > 0)
                    dir.children.push_back(quint64(child));
            break;
        case iccTag:
            dir.icc = reader.blob(e);
            break;
        case dngVersion:
            dir.dng = true;
            break;
        default:
            break;
        }
    }
    if (width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX)
        dir.size = QSize(int(width), int(height));
    return dir;
}

qint64 area(QSize size) {
    return size.isValid() ? qint64(size.width()) * size.height() : 0;
}

} // namespace

QByteArray iccProfile(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xD8"))
        return jpegProfile(bytes);
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return pngProfile(bytes);
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return webpProfile(bytes);
    const TiffReader reader(bytes);
    if (reader.valid())
        return directory(reader, reader.first()).icc;
    return {};
}

QByteArray iccColourSpace(const QByteArray& icc) {
    if (icc.size() < 128 || icc.mid(36, 4) != "acsp")
        return {};
    return icc.mid(16, 4);
}

Tiff tiff(const QByteArray& bytes) {
    Tiff result;
    const TiffReader reader(bytes);
    if (!reader.valid())
        return result;
    const Directory first = directory(reader, reader.first());
    result.valid = true;
    result.cameraRaw = first.dng;
    result.photometric = first.photometric;
    result.samples = first.samples;
    result.bits = first.bits;
    result.planar = first.planar;
    result.sampleFormat = first.sampleFormat;
    result.extraSample = first.extraSample;
    result.size = first.size;
    // A raw converter puts a small preview first and the picture itself in a directory below it; so do scanners
    // and cameras that mark the first picture as reduced.
    result.reducedPreview = (first.subfileType & 1) != 0;
    for (const quint64 child : first.children) {
        const Directory sub = directory(reader, child);
        result.cameraRaw = result.cameraRaw || sub.dng;
        if (area(sub.size) > area(first.size))
            result.reducedPreview = true;
    }
    return result;
}

int jpegComponents(const QByteArray& bytes) {
    if (!bytes.startsWith("\xFF\xD8"))
        return 0;
    const unsigned char* d = raw(bytes);
    int components = 0;
    jpegSegments(bytes, [&](int marker, qsizetype at, qsizetype length) {
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame)
            components = length >= 8 ? d[at + 9] : 0;
        return frame;
    });
    return components;
}

bool storesGrey(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xD8"))
        return jpegComponents(bytes) == 1;
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return bytes.size() > 25 && (bytes.at(25) == 0 || bytes.at(25) == 4);
    const Tiff layout = tiff(bytes);
    return layout.valid && (layout.photometric == 0 || layout.photometric == 1);
}

QString keptForItsKind(const QByteArray& bytes, const QString& name) {
    // Formats a raw converter reads; where the toolkit reads one at all, it reads the camera's small preview.
    static const QStringList rawSuffixes{"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf",
                                         "sr2", "orf", "rw2", "raf", "pef", "srw", "3fr", "erf",
                                         "kdc", "dcr", "mrw", "x3f", "iiq", "rwl", "mos", "mef"};
    const Tiff layout = tiff(bytes);
    if (layout.cameraRaw || rawSuffixes.contains(QFileInfo(name).suffix().toLower()))
        return QStringLiteral("it is a camera raw");
    if (layout.reducedPreview)
        return QStringLiteral("its first picture is a reduced preview");
    return {};
}

} // namespace PictureKind
