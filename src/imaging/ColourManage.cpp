#include "imaging/ColourManage.h"

#include "imaging/HeifCodec.h"
#include "imaging/ImageCodec.h"
#include "imaging/PictureKind.h"

#include <QColorSpace>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>
#include <lcms2_plugin.h>
#include <tiffio.h>

namespace ColourManage {

namespace {

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile opened(const QByteArray& icc) {
    return icc.isEmpty() ? Profile() : Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

// Colours are turned colorimetrically, white to white: what the file shows, without any taste of the profile's
// maker for colours outside the screen's gamut, and the same whatever sRGB profile a viewer compares it with.
constexpr cmsUInt32Number intent = INTENT_RELATIVE_COLORIMETRIC;

Transform toSrgb(void* from, cmsUInt32Number inFormat) {
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!from || !srgb)
        return {};
    // Unoptimised: lcms would otherwise resample a lookup-table profile (a v4 CMYK one) into a coarse grid of its
    // own, whose in-betweens land several ΔE away from what the profile says.
    return Transform(cmsCreateTransform(from, inFormat, srgb.get(), TYPE_RGB_16, intent, cmsFLAGS_NOOPTIMIZE));
}

// Where the transformed rows go, in sRGB: 8 bits a channel (RGB32, ARGB32 with alpha) or 16 (RGBX64, RGBA64), so
// that no picture is held at more than it ends at. Null past the decoding budget.
QImage blank(QSize size, bool deep, bool alpha = false) {
    if (!size.isValid() || qint64(size.width()) * size.height() * (deep ? 8 : 4) > ImageCodec::budgetBytes())
        return {};
    QImage image(size, deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                            : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

// One row of 16-bit sRGB into a picture made by blank(); alpha opaque unless given.
void putRow(QImage& image, int y, const std::vector<quint16>& rgb, const quint16* alpha = nullptr) {
    const auto eight = [](quint16 v) { return (int(v) + 128) / 257; };
    if (image.depth() == 64) {
        auto* out = reinterpret_cast<QRgba64*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            out[x] = QRgba64::fromRgba64(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2], alpha ? alpha[x] : 0xffff);
        return;
    }
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
        out[x] = qRgba(eight(rgb[3 * x]), eight(rgb[3 * x + 1]), eight(rgb[3 * x + 2]), alpha ? eight(alpha[x]) : 255);
}

// ---- CMYK JPEG, through libjpeg

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpegQuiet(j_common_ptr, int) {}

QImage cmykJpeg(const QByteArray& bytes, const QByteArray& icc) {
    const Profile profile = opened(icc);
    // JPEG files keep CMYK inverted, as the first programs to write them did.
    const Transform transform = toSrgb(profile.get(), TYPE_CMYK_8_REV);
    if (!transform)
        return {};
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFailed;
    errors.manager.emit_message = jpegQuiet;
    QImage image;
    std::vector<JSAMPLE> row;
    std::vector<quint16> rgb;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()), (unsigned long)bytes.size());
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.num_components != 4) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    info.out_color_space = JCS_CMYK;
    image = blank(QSize(int(info.image_width), int(info.image_height)), false);
    if (image.isNull()) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_start_decompress(&info);
    row.resize(size_t(info.output_width) * 4);
    rgb.resize(size_t(info.output_width) * 3);
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&info, rows, 1) != 1)
            break;
        cmsDoTransform(transform.get(), row.data(), rgb.data(), info.output_width);
        putRow(image, y, rgb);
    }
    const bool whole = info.output_scanline == info.output_height;
    // A file cut short: libjpeg pads it with grey, which is no picture of the file.
    const bool cut = errors.manager.num_warnings > 0;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (!whole || cut)
        return {};
    return image;
}

// ---- CMYK and CIELab TIFF, through libtiff

struct Memory {
    const QByteArray* bytes;
    toff_t at = 0;
};

tsize_t memRead(thandle_t h, tdata_t buffer, tsize_t size) {
    auto* m = static_cast<Memory*>(h);
    const toff_t left = toff_t(m->bytes->size()) > m->at ? toff_t(m->bytes->size()) - m->at : 0;
    const tsize_t n = tsize_t(std::min<toff_t>(toff_t(size), left));
    std::memcpy(buffer, m->bytes->constData() + m->at, size_t(n));
    m->at += toff_t(n);
    return n;
}
tsize_t memWrite(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t memSeek(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    const toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? toff_t(m->bytes->size()) : 0;
    m->at = base + offset;
    return m->at;
}
int memClose(thandle_t) {
    return 0;
}
toff_t memSize(thandle_t h) {
    return toff_t(static_cast<Memory*>(h)->bytes->size());
}
int memMap(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void memUnmap(thandle_t, tdata_t, toff_t) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// The rows of a TIFF's picture one at a time, whether it is stored in strips or in tiles: a band of tiles is read
// whole and handed out a row at a time. Rows are asked for in order, plane by plane.
class Rows {
public:
    explicit Rows(TIFF* tiff) : tiff(tiff), rowBytes(TIFFScanlineSize(tiff)) {
        if (!TIFFIsTiled(tiff))
            return;
        tiled = true;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
        const tmsize_t tileBytes = TIFFTileSize(tiff), tileRowBytes = TIFFTileRowSize(tiff);
        // A tile or a band of them past the decoding budget is a hostile file, not a picture.
        const qint64 bandBytes = qint64(rowBytes) * tileHeight;
        if (width == 0 || tileWidth == 0 || tileHeight == 0 || tileBytes <= 0 || tileRowBytes <= 0 ||
            tileBytes > ImageCodec::budgetBytes() || bandBytes > ImageCodec::budgetBytes() ||
            tileRowBytes * tmsize_t(width) != rowBytes * tmsize_t(tileWidth))
            return;
        tile.resize(size_t(tileBytes));
        band.resize(size_t(bandBytes));
        ok = true;
    }

    tmsize_t size() const { return rowBytes; }

    bool read(unsigned char* out, uint32_t y, uint16_t sample) {
        if (!tiled)
            return TIFFReadScanline(tiff, out, y, sample) >= 0;
        if (!ok || y >= height)
            return false;
        const uint32_t top = y - y % tileHeight;
        if (top != bandTop || sample != bandSample) {
            const size_t pixelBytes = size_t(rowBytes) / width, rows = std::min(tileHeight, height - top);
            for (uint32_t x = 0; x < width; x += tileWidth) {
                if (TIFFReadTile(tiff, tile.data(), x, top, 0, sample) < 0)
                    return false;
                const size_t across = std::min(tileWidth, width - x) * pixelBytes;
                for (size_t r = 0; r < rows; ++r)
                    std::memcpy(band.data() + r * size_t(rowBytes) + x * pixelBytes,
                                tile.data() + r * tileWidth * pixelBytes, across);
            }
            bandTop = top, bandSample = sample;
        }
        std::memcpy(out, band.data() + size_t(y - top) * size_t(rowBytes), size_t(rowBytes));
        return true;
    }

private:
    TIFF* tiff;
    tmsize_t rowBytes;
    bool tiled = false, ok = false;
    uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0, bandTop = UINT32_MAX;
    uint16_t bandSample = 0;
    std::vector<unsigned char> tile, band;
};

// What a TIFF's first directory holds, when it is one read here.
struct TiffPlan {
    bool special = false; // CMYK or CIELab: read here, never by the toolkit
    bool readable = false;
    QString why;
};

TiffPlan tiffPlan(const PictureKind::Tiff& layout, const QByteArray& icc) {
    TiffPlan plan;
    const bool cmyk = layout.photometric == 5, lab = layout.photometric == 8 || layout.photometric == 9;
    if (!cmyk && !lab)
        return plan;
    plan.special = true;
    const bool depthOk = layout.bits == 8 || layout.bits == 16;
    if (cmyk && icc.isEmpty()) {
        plan.why = QStringLiteral("its CMYK colours come without a colour profile");
    } else if (cmyk && (PictureKind::iccColourSpace(icc) != "CMYK" || !opened(icc))) {
        plan.why = QStringLiteral("its colour profile is one this program can't apply");
    } else if (!depthOk || layout.planar || layout.samples != (cmyk ? 4 : 3)) {
        plan.why = QStringLiteral("its %1 colours are stored in a way this program can't read")
                       .arg(cmyk ? QStringLiteral("CMYK") : QStringLiteral("Lab"));
    } else {
        plan.readable = true;
    }
    return plan;
}

void tiffQuiet(const char*, const char*, va_list) {}

using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// The TIFF held in memory, libtiff's complaints kept quiet: a bad file is told by what comes back.
TiffHandle openTiff(Memory& memory) {
    quietTiff();
    return TiffHandle(
        TIFFClientOpen("picture", "rm", &memory, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap));
}

// The first directory's size and layout, each as the file states it or as libtiff defaults it.
struct TiffHead {
    explicit TiffHead(TIFF* tiff) {
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    }
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, photometric = 0;
};

QImage separatedTiff(const QByteArray& bytes, const PictureKind::Tiff& layout, const QByteArray& icc, bool keepDeep) {
    Memory memory{&bytes};
    const TiffHandle tiff = openTiff(memory);
    if (!tiff)
        return {};
    const auto [width, height, bits, samples, planar, photometric] = TiffHead(tiff.get());
    if (int(photometric) != layout.photometric || int(bits) != layout.bits || int(samples) != layout.samples ||
        planar != PLANARCONFIG_CONTIG || width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return {};
    const bool deep = bits == 16, cmyk = photometric == PHOTOMETRIC_SEPARATED;
    cmsUInt32Number format = 0;
    Profile from;
    if (cmyk) {
        from = opened(icc);
        format = deep ? TYPE_CMYK_16 : TYPE_CMYK_8;
    } else {
        from = Profile(cmsCreateLab4Profile(nullptr));
        format = TYPE_Lab_16;
    }
    const Transform transform = toSrgb(from.get(), format);
    // A TIFF's Lab is measured against its white point (D65 unless it names another); lcms takes Lab against D50.
    float* whitePoint = nullptr;
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    if (TIFFGetField(tiff.get(), TIFFTAG_WHITEPOINT, &whitePoint) && whitePoint && whitePoint[0] > 0 &&
        whitePoint[1] > 0 && whitePoint[0] + whitePoint[1] < 1)
        white = cmsCIExyY{whitePoint[0], whitePoint[1], 1.0};
    cmsCIEXYZ whiteXYZ;
    cmsxyY2XYZ(&whiteXYZ, &white);
    // The adaptation to D50 is linear in XYZ: its matrix, column by column, found once.
    double toD50[3][3];
    for (int i = 0; i < 3; ++i) {
        const cmsCIEXYZ unit{i == 0 ? 1.0 : 0.0, i == 1 ? 1.0 : 0.0, i == 2 ? 1.0 : 0.0};
        cmsCIEXYZ column;
        cmsAdaptToIlluminant(&column, &whiteXYZ, cmsD50_XYZ(), &unit);
        toD50[i][0] = column.X, toD50[i][1] = column.Y, toD50[i][2] = column.Z;
    }
    QImage image = blank(QSize(int(width), int(height)), keepDeep && bits == 16);
    if (!transform || image.isNull())
        return {};
    Rows rows(tiff.get());
    const tmsize_t lineBytes = rows.size();
    if (lineBytes < tmsize_t(width) * samples * (bits / 8))
        return {};
    std::vector<unsigned char> line(static_cast<size_t>(lineBytes));
    std::vector<quint16> rgb(size_t(width) * 3);
    std::vector<cmsUInt16Number> lab(cmyk ? 0 : size_t(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
        if (!rows.read(line.data(), y, 0))
            return {};
        if (cmyk) {
            cmsDoTransform(transform.get(), line.data(), rgb.data(), width);
        } else {
            // CIELab keeps a and b as signed numbers, ICCLab offsets them by half the range; L spans the range.
            const bool signedAb = photometric == PHOTOMETRIC_CIELAB;
            for (uint32_t x = 0; x < width; ++x) {
                double l, a, b;
                if (deep) {
                    const auto* p = reinterpret_cast<const quint16*>(line.data()) + 3 * x;
                    l = p[0] * 100.0 / 65535.0;
                    a = signedAb ? qint16(p[1]) / 256.0 : p[1] / 257.0 - 128.0;
                    b = signedAb ? qint16(p[2]) / 256.0 : p[2] / 257.0 - 128.0;
                } else {
                    const unsigned char* p = line.data() + 3 * x;
                    l = p[0] * 100.0 / 255.0;
                    a = signedAb ? double(qint8(p[1])) : p[1] - 128.0;
                    b = signedAb ? double(qint8(p[2])) : p[2] - 128.0;
                }
                const cmsCIELab own{l, a, b};
                cmsCIEXYZ xyz;
                cmsLab2XYZ(&whiteXYZ, &xyz, &own);
                const cmsCIEXYZ adapted{toD50[0][0] * xyz.X + toD50[1][0] * xyz.Y + toD50[2][0] * xyz.Z,
                                        toD50[0][1] * xyz.X + toD50[1][1] * xyz.Y + toD50[2][1] * xyz.Z,
                                        toD50[0][2] * xyz.X + toD50[1][2] * xyz.Y + toD50[2][2] * xyz.Z};
                cmsCIELab d50;
                cmsXYZ2Lab(cmsD50_XYZ(), &d50, &adapted);
                cmsFloat2LabEncoded(lab.data() + 3 * x, &d50);
            }
            cmsDoTransform(transform.get(), lab.data(), rgb.data(), width);
        }
        putRow(image, int(y), rgb);
    }
    return image;
}

// ---- TIFF layouts the toolkit's reader gets wrong, read here with libtiff: grey with alpha (it drops the alpha),
// 16-bit colours stored a plane per channel (it reads the first plane as if it held them all) and 8-bit colours
// with straight alpha (it premultiplies them at 8 bits, and a half-clear colour loses levels a wide colour space
// shows).

bool misreadTiff(const PictureKind::Tiff& layout) {
    if (layout.bits != 8 && layout.bits != 16)
        return false;
    const bool grey = layout.photometric == 0 || layout.photometric == 1;
    // 16-bit grey with 0 for white the toolkit reads at 8 bits.
    if (grey)
        return layout.samples == 2 ||
               (layout.photometric == 0 && layout.bits == 16 && layout.samples == 1 && layout.sampleFormat == 1);
    if (layout.photometric == 2 && !layout.planar && layout.bits == 8 && layout.samples == 4)
        return layout.extraSample == EXTRASAMPLE_UNASSALPHA;
    return layout.photometric == 2 && layout.planar && layout.bits == 16 &&
           (layout.samples == 3 || layout.samples == 4);
}

// The file's own values, untouched: decode() labels them with the file's profile or leaves managed() to apply it.
QImage plainTiff(const QByteArray& bytes, const PictureKind::Tiff& layout, bool keepDeep) {
    Memory memory{&bytes};
    const TiffHandle tiff = openTiff(memory);
    if (!tiff)
        return {};
    const auto [width, height, bits, samples, planar, photometric] = TiffHead(tiff.get());
    uint16_t format = SAMPLEFORMAT_UINT, extras = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tiff.get(), TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
    if (int(photometric) != layout.photometric || int(bits) != layout.bits || int(samples) != layout.samples ||
        (planar == PLANARCONFIG_SEPARATE) != layout.planar || format != SAMPLEFORMAT_UINT || width == 0 ||
        height == 0 || width > INT_MAX || height > INT_MAX)
        return {};
    const bool grey = photometric <= PHOTOMETRIC_MINISBLACK, deep = keepDeep && bits == 16;
    const bool alpha = samples > (grey ? 1 : 3);
    const bool premultiplied = alpha && extras > 0 && extraKinds && extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
    const QSize size(static_cast<int>(width), static_cast<int>(height));
    if (qint64(width) * height * (deep ? 8 : 4) > ImageCodec::budgetBytes())
        return {};
    QImage image(size, deep ? (alpha ? (premultiplied ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64)
                                     : QImage::Format_RGBX64)
                            : (alpha ? (premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32)
                                     : QImage::Format_RGB32));
    if (image.isNull())
        return {};
    Rows rows(tiff.get());
    const tmsize_t lineBytes = rows.size();
    const int planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
    const int perPlane = planes == 1 ? samples : 1;
    if (lineBytes < tmsize_t(width) * perPlane * (bits / 8))
        return {};
    std::vector<unsigned char> line(static_cast<size_t>(lineBytes));
    image.fill(Qt::black);
    // Channels 0 to 2 are the colours, 3 the alpha; grey sets all three colours.
    const auto put = [&](uint32_t y, uint32_t x, int channel, quint32 v) {
        if (deep) {
            QRgba64& px = reinterpret_cast<QRgba64*>(image.scanLine(int(y)))[x];
            const quint16 w = quint16(v);
            px = QRgba64::fromRgba64(channel == 0 || (grey && channel < 3) ? w : px.red(),
                                     channel == 1 || (grey && channel < 3) ? w : px.green(),
                                     channel == 2 || (grey && channel < 3) ? w : px.blue(),
                                     channel == 3 ? w : px.alpha());
        } else {
            QRgb& px = reinterpret_cast<QRgb*>(image.scanLine(int(y)))[x];
            const int w = int((v + 128) / 257);
            px = qRgba(channel == 0 || (grey && channel < 3) ? w : qRed(px),
                       channel == 1 || (grey && channel < 3) ? w : qGreen(px),
                       channel == 2 || (grey && channel < 3) ? w : qBlue(px), channel == 3 ? w : qAlpha(px));
        }
    };
    // A plane at a time: a compressed plane is read through once, never rewound for each row.
    for (int p = 0; p < planes; ++p) {
        for (uint32_t y = 0; y < height; ++y) {
            if (!rows.read(line.data(), y, uint16_t(p)))
                return {};
            for (uint32_t x = 0; x < width; ++x) {
                for (int k = 0; k < perPlane; ++k) {
                    const int s = planes == 1 ? k : p;
                    const size_t at = size_t(x) * size_t(perPlane) + size_t(k);
                    quint32 v =
                        bits == 16 ? reinterpret_cast<const quint16*>(line.data())[at] : quint32(line[at]) * 257;
                    const bool isAlpha = alpha && s == samples - 1;
                    if (grey && !isAlpha && photometric == PHOTOMETRIC_MINISWHITE)
                        v = 65535 - v;
                    put(y, x, isAlpha ? 3 : grey ? 0 : s, v);
                }
            }
        }
    }
    return image;
}

bool isJpeg(const QByteArray& bytes) {
    return bytes.startsWith("\xFF\xD8");
}

} // namespace

QImage decode(const QByteArray& bytes, bool deep) {
    if (isJpeg(bytes)) {
        if (PictureKind::jpegComponents(bytes) != 4)
            return {};
        const QByteArray icc = PictureKind::iccProfile(bytes);
        if (PictureKind::iccColourSpace(icc) != "CMYK")
            return {};
        return cmykJpeg(bytes, icc);
    }
    const PictureKind::Tiff layout = PictureKind::tiff(bytes);
    if (!layout.valid)
        return {};
    const QByteArray icc = PictureKind::iccProfile(bytes);
    if (misreadTiff(layout)) {
        // Colours labelled with a profile the toolkit reads keep it, as the toolkit's own reading does: managed()
        // would turn them into sRGB and clip what lies outside it.
        QImage image = plainTiff(bytes, layout, deep);
        if (!image.isNull() && PictureKind::iccColourSpace(icc) == "RGB ")
            image.setColorSpace(QColorSpace::fromIccProfile(icc));
        return image;
    }
    if (!tiffPlan(layout, icc).readable)
        return {};
    return separatedTiff(bytes, layout, icc, deep);
}

bool readsItself(const QByteArray& bytes) {
    if (isJpeg(bytes))
        return PictureKind::jpegComponents(bytes) == 4 &&
               PictureKind::iccColourSpace(PictureKind::iccProfile(bytes)) == "CMYK";
    const PictureKind::Tiff layout = PictureKind::tiff(bytes);
    return layout.valid && (misreadTiff(layout) || tiffPlan(layout, PictureKind::iccProfile(bytes)).readable);
}

QImage managed(QImage image, const QByteArray& bytes) {
    if (image.isNull())
        return image;
    const bool heif = HeifCodec::recognizes(bytes);
    const QByteArray icc = heif ? HeifCodec::iccProfile(bytes) : PictureKind::iccProfile(bytes);
    const QByteArray model = PictureKind::iccColourSpace(icc);
    const bool grey = model == "GRAY";
    if (grey && !(heif ? HeifCodec::isGrey(bytes) : PictureKind::storesGrey(bytes))) {
        // A grey profile on colour pixels describes none of them: they are shown as they are, and written so.
        image.setColorSpace(QColorSpace());
        return image;
    }
    if (!grey && !(model == "RGB " && !image.colorSpace().isValid()))
        return image;
    const Profile profile = opened(icc);
    const Transform transform = toSrgb(profile.get(), grey ? TYPE_GRAY_16 : TYPE_RGB_16);
    if (!transform)
        return image;
    QImage out = blank(image.size(), ImageCodec::isDeep(image), image.hasAlphaChannel());
    if (out.isNull())
        return {};
    const int width = image.width();
    std::vector<quint16> in(size_t(width) * (grey ? 1 : 3)), rgb(size_t(width) * 3);
    std::vector<quint16> alpha(static_cast<size_t>(width));
    for (int y = 0; y < image.height(); ++y) {
        // A row at a time, not premultiplied: the profile speaks of the colours themselves.
        const QImage line = image.copy(0, y, width, 1).convertToFormat(QImage::Format_RGBA64);
        if (line.isNull())
            return {};
        const auto* row = reinterpret_cast<const QRgba64*>(line.constScanLine(0));
        for (int x = 0; x < width; ++x) {
            if (grey) {
                in[size_t(x)] = row[x].red();
            } else {
                in[3 * size_t(x)] = row[x].red();
                in[3 * size_t(x) + 1] = row[x].green();
                in[3 * size_t(x) + 2] = row[x].blue();
            }
            alpha[size_t(x)] = row[x].alpha();
        }
        cmsDoTransform(transform.get(), in.data(), rgb.data(), cmsUInt32Number(width));
        putRow(out, y, rgb, alpha.data());
    }
    return out;
}

namespace {

// Whether a profile's own red, green or blue at full strength lies outside sRGB: taken to XYZ by lcms, then to
// linear sRGB through sRGB's own colorants, some channel of it is below nothing.
bool primariesPastSrgb(void* profile) {
    const Profile xyz(cmsCreateXYZProfile()), srgb(cmsCreate_sRGBProfile());
    if (!xyz || !srgb)
        return true;
    const Transform toXyz(
        cmsCreateTransform(profile, TYPE_RGB_16, xyz.get(), TYPE_XYZ_DBL, intent, cmsFLAGS_NOOPTIMIZE));
    if (!toXyz)
        return true;
    cmsMAT3 columns;
    int i = 0;
    for (const cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto* c = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), tag));
        if (!c)
            return true;
        columns.v[0].n[i] = c->X, columns.v[1].n[i] = c->Y, columns.v[2].n[i] = c->Z;
        ++i;
    }
    cmsMAT3 inverse;
    if (!_cmsMAT3inverse(&columns, &inverse))
        return true;
    for (int primary = 0; primary < 3; ++primary) {
        cmsUInt16Number in[3] = {0, 0, 0};
        in[primary] = 0xffff;
        cmsCIEXYZ out{};
        cmsDoTransform(toXyz.get(), in, &out, 1);
        cmsVEC3 from, linear;
        _cmsVEC3init(&from, out.X, out.Y, out.Z);
        _cmsMAT3eval(&linear, &inverse, &from);
        // A hair below nothing is the rounding of the profile's own tables.
        for (const double channel : linear.n)
            if (channel < -0.01)
                return true;
    }
    return false;
}

} // namespace

QString unheld(const QByteArray& bytes) {
    if (HeifCodec::recognizes(bytes))
        return HeifCodec::colourUnheld(bytes);
    const QByteArray icc = PictureKind::iccProfile(bytes);
    const QByteArray model = PictureKind::iccColourSpace(icc);
    if (isJpeg(bytes) && PictureKind::jpegComponents(bytes) == 4) {
        if (icc.isEmpty())
            return QStringLiteral("its CMYK colours come without a colour profile");
        if (model != "CMYK" || !opened(icc))
            return QStringLiteral("its colour profile is one this program can't apply");
        return {};
    }
    const PictureKind::Tiff layout = PictureKind::tiff(bytes);
    if (layout.valid) {
        const TiffPlan plan = tiffPlan(layout, icc);
        if (plan.special)
            return plan.why;
        // Where a signed sample's 0 lies, black or mid grey, each reader decides its own way.
        if (layout.sampleFormat == 2)
            return QStringLiteral("its samples are signed numbers, which programs show in different ways");
    }
    if (icc.isEmpty())
        return {};
    if (model == "RGB " && QColorSpace::fromIccProfile(icc).isValid())
        return {};
    if (model == "GRAY" && !PictureKind::storesGrey(bytes))
        return QStringLiteral("its colour profile does not fit its pixels");
    if (model == "GRAY" && opened(icc))
        return {};
    // A profile the toolkit can't carry is turned into sRGB: where it reaches past sRGB, colours would be cut.
    if (model == "RGB ") {
        if (const Profile profile = opened(icc))
            return primariesPastSrgb(profile.get())
                       ? QStringLiteral("its colour profile reaches past sRGB, the only space this program can turn it into")
                       : QString();
    }
    return QStringLiteral("its colour profile is one this program can't apply");
}

namespace {

// The chromaticities of a matrix profile's three colorants, as its tags state them (adapted to D50); false when it
// has none.
bool colorants(void* profile, double xy[3][2]) {
    int i = 0;
    for (const cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
        const double sum = xyz ? xyz->X + xyz->Y + xyz->Z : 0;
        if (sum <= 0)
            return false;
        xy[i][0] = xyz->X / sum, xy[i][1] = xyz->Y / sum;
        ++i;
    }
    return true;
}

} // namespace

bool veryWide(const QColorSpace& space) {
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb))
        return false;
    const Profile profile = opened(space.iccProfile());
    double own[3][2];
    if (!profile || !colorants(profile.get(), own))
        return false;
    // BT.2020's corners as a profile of it states them, moved outward from its middle by a hundredth, so that its
    // own profiles, rounded in their tags, stay inside.
    static const std::optional<std::array<std::array<double, 2>, 3>> bt2020 =
        []() -> std::optional<std::array<std::array<double, 2>, 3>> {
        const cmsCIExyY white{0.3127, 0.3290, 1.0};
        const cmsCIExyYTRIPLE primaries{{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
        cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
        cmsToneCurve* curves[3] = {linear, linear, linear};
        const Profile made(cmsCreateRGBProfile(&white, &primaries, curves));
        cmsFreeToneCurve(linear);
        double xy[3][2];
        if (!made || !colorants(made.get(), xy))
            return std::nullopt;
        const double cx = (xy[0][0] + xy[1][0] + xy[2][0]) / 3, cy = (xy[0][1] + xy[1][1] + xy[2][1]) / 3;
        std::array<std::array<double, 2>, 3> out{};
        for (int i = 0; i < 3; ++i)
            out[size_t(i)] = {cx + (xy[i][0] - cx) * 1.01, cy + (xy[i][1] - cy) * 1.01};
        return out;
    }();
    if (!bt2020)
        return false;
    const auto& corners = *bt2020;
    for (const auto& p : own)
        for (size_t i = 0; i < 3; ++i) {
            const auto& a = corners[i];
            const auto& b = corners[(i + 1) % 3];
            // Counter-clockwise corners: a point right of an edge is outside.
            if ((b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]) < 0)
                return true;
        }
    return false;
}

void quietTiff() {
    TIFFSetErrorHandler(tiffQuiet);
    TIFFSetWarningHandler(tiffQuiet);
}

} // namespace ColourManage
