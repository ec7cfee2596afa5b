// Convert, compress and resize over pictures of many kinds, each result judged by ImageMagick's own reading with
// lcms, never by our decoder: a source that went to the Trash is shown as its new file shows it, and a source that
// could not be matched stays byte for byte, named in the note.

#include "PictureFiles.h"
#include "editors/Transform.h"
#include "imaging/ImageCodec.h"
#include "imaging/ImageConvert.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <libheif/heif.h>
#include <optional>

using namespace PictureFiles;

namespace {

const QString profiles = QStringLiteral("/usr/share/color/icc/ghostscript/");
const QString tooWide = QStringLiteral("its colour space is too wide for a");

// Four flat blocks of 64 pixels; with `clear`, the last of them fully transparent. Deep: 16 bits a channel, with
// low bits no 8-bit picture holds.
QImage pattern(bool deep = false, bool clear = false) {
    QImage image(128, 128, deep ? QImage::Format_RGBX64 : clear ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const std::array<QColor, 4> colours{QColor(200, 30, 40), QColor(40, 160, 60), QColor(30, 60, 190),
                                        QColor(90, 89, 88)};
    for (int block = 0; block < 4; ++block) {
        QColor c = colours[size_t(block)];
        if (deep)
            c = QColor::fromRgba64(c.red() * 257 + 100, c.green() * 257 + 100, c.blue() * 257 + 100);
        if (clear && block == 3)
            c = Qt::transparent;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                image.setPixelColor((block % 2) * 64 + x, (block / 2) * 64 + y, c);
    }
    return image;
}

bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

// A picture as ImageMagick shows it in sRGB: upright, through the file's profile (or from Lab), 16 bits a channel.
struct Shown {
    QSize size;
    std::vector<std::array<quint16, 4>> pixels;
    std::array<quint16, 4> at(int x, int y) const { return pixels[size_t(y) * size_t(size.width()) + size_t(x)]; }
};

Shown shown(const QString& path, const QTemporaryDir& scratch) {
    QString file = path;
    QByteArray head;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly))
        head = in.read(12);
    if (head.mid(4, 8) == "ftypheic" || head.mid(4, 8) == "ftypmif1") {
        // libheif's own converter, which puts the file's profile into the PNG it writes.
        file = scratch.filePath(QFileInfo(path).fileName() + QStringLiteral(".png"));
        run(QStringLiteral("heif-convert"), {path, file});
    }
    QByteArray out;
    Shown result;
    if (!run(QStringLiteral("convert"),
             {file + QStringLiteral("[0]"), "-auto-orient", "-profile", profiles + "srgb.icc", "-colorspace", "sRGB",
              "-depth", "16", "-endian", "MSB", "-format", "%w %h\n", "-write", "info:-", "rgba:-"},
             &out))
        return result;
    const qsizetype start = out.indexOf('\n') + 1;
    const QList<QByteArray> size = out.left(start).trimmed().split(' ');
    result.size = QSize(size.value(0).toInt(), size.value(1).toInt());
    const auto* d = reinterpret_cast<const unsigned char*>(out.constData() + start);
    for (qsizetype i = start; i + 8 <= out.size(); i += 8, d += 8)
        result.pixels.push_back({quint16(d[0] << 8 | d[1]), quint16(d[2] << 8 | d[3]), quint16(d[4] << 8 | d[5]),
                                 quint16(d[6] << 8 | d[7])});
    if (qsizetype(result.pixels.size()) != qsizetype(result.size.width()) * result.size.height())
        result.size = QSize();
    return result;
}

double deltaE(const std::array<quint16, 4>& a, const std::array<quint16, 4>& b) {
    return PictureFiles::deltaE(QColor::fromRgba64(a[0], a[1], a[2]), QColor::fromRgba64(b[0], b[1], b[2]));
}

// The bits a channel of a HEIC's main picture, as libheif tells them.
int heicBits(const QString& path) {
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    int bits = 0;
    if (heif_context_read_from_file(ctx, QFile::encodeName(path).constData(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok) {
        bits = heif_image_handle_get_luma_bits_per_pixel(handle);
        heif_image_handle_release(handle);
    }
    heif_context_free(ctx);
    return bits;
}

// A TIFF laid out as raw converters and some scanners write it: a first picture, and a directory below it (SubIFDs)
// holding another; with `dng`, the DNG version tag that names it a camera raw.
QByteArray tiffWithSub(const QImage& first, const QImage& sub, bool dng) {
    QByteArray out("II*\0\0\0\0\0", 8);
    const auto put16 = [&out](quint32 v) { out.append(char(v & 0xff)).append(char(v >> 8 & 0xff)); };
    const auto put32 = [&](quint32 v) { put16(v & 0xffff), put16(v >> 16); };
    const auto pixels = [&out](const QImage& image) {
        const quint32 at = quint32(out.size());
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < rgb.height(); ++y)
            out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
        return at;
    };
    const quint32 firstData = pixels(first), subData = pixels(sub);
    if (out.size() % 2)
        out.append('\0');
    const quint32 bps = quint32(out.size());
    put16(8), put16(8), put16(8);
    const auto directory = [&](const QImage& image, quint32 data, quint32 child) {
        struct Entry {
            quint32 tag, type, count, value;
        };
        const quint32 bytes = quint32(image.width() * image.height() * 3);
        std::vector<Entry> entries{{254, 4, 1, 0},
                                   {256, 4, 1, quint32(image.width())},
                                   {257, 4, 1, quint32(image.height())},
                                   {258, 3, 3, bps},
                                   {259, 3, 1, 1},
                                   {262, 3, 1, 2},
                                   {273, 4, 1, data},
                                   {277, 3, 1, 3},
                                   {278, 4, 1, quint32(image.height())},
                                   {279, 4, 1, bytes},
                                   {284, 3, 1, 1}};
        if (child) {
            // The first picture is the reduced one: a raw's preview says so, a scanner's may not.
            entries[0].value = dng ? 1 : 0;
            entries.push_back({330, 4, 1, child});
        }
        if (child && dng)
            entries.push_back({50706, 1, 4, 0x00000401});
        const quint32 at = quint32(out.size());
        put16(quint32(entries.size()));
        for (const Entry& e : entries) {
            put16(e.tag), put16(e.type), put32(e.count);
            put32(e.value);
        }
        put32(0);
        return at;
    };
    const quint32 subIfd = directory(sub, subData, 0);
    const quint32 firstIfd = directory(first, firstData, subIfd);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = char(firstIfd >> (8 * i) & 0xff);
    return out;
}

// A lossless HEIC of the picture with the colour parameters given (no ICC profile).
QByteArray heicWithColours(const QImage& image, int primaries, int transfer) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossless(encoder, 1);
    heif_encoder_set_parameter(encoder, "chroma", "444");
    heif_image* picture = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries(primaries);
    nclx->transfer_characteristics = heif_transfer_characteristics(transfer);
    nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(picture, nclx);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->output_nclx_profile = nclx;
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    heif_context_encode_image(ctx, picture, encoder, options, nullptr);
    QByteArray bytes;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* to) {
                           static_cast<QByteArray*>(to)->append(static_cast<const char*>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &bytes);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return bytes;
}

// An ICC profile of RGB primaries (x, y of red, green, blue) on the D65 white with the sRGB curve (or a plain
// gamma), made by lcms.
QByteArray profileOf(const std::array<double, 6>& xy, double gamma = 0) {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{xy[0], xy[1], 1.0}, {xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}};
    const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = gamma > 0 ? cmsBuildGamma(nullptr, gamma) : cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray icc(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, icc.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return icc;
}

// An RGB profile of a lookup table alone, to Lab, sampled from the matrix profile given: a kind the toolkit can't
// read, as scanners' and cameras' own profiles are.
QByteArray lookupTableOf(const QString& matrixProfile) {
    QFile file(matrixProfile);
    file.open(QIODevice::ReadOnly);
    const QByteArray matrix = file.readAll();
    cmsHPROFILE source = cmsOpenProfileFromMem(matrix.constData(), cmsUInt32Number(matrix.size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(source, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(
        table,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* transform) {
            cmsDoTransform(transform, in, out, 1);
            return cmsInt32Number(1);
        },
        toLab, 0);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray icc(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, icc.data(), &size);
    cmsPipelineFree(pipeline);
    cmsCloseProfile(profile);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(source);
    return icc;
}

// The JPEG with an ICC profile put in after its start.
QByteArray withProfile(const QByteArray& jpeg, const QByteArray& icc) {
    const qsizetype length = icc.size() + 16;
    const QByteArray segment = QByteArray("\xFF\xE2") + char(length >> 8) + char(length & 0xff) +
                               QByteArray("ICC_PROFILE\0\x01\x01", 14) + icc;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

struct Row {
    QString name;
    QByteArray bytes;
    QString why;       // empty: the source must go to the Trash with every operation that writes
    QString reference; // the picture the source shows, where ImageMagick can't read its colours itself
    bool deep = false;
    QString ownWhy; // for a turn or a resize, which write the source's own format: why the source must stay, if it must
    QString lossyWhy; // for a lossy new file (JPEG, WebP, HEIC): why the source must stay, if it must
};

// The table's sources, in the folder: ImageMagick writes the colour-managed ones.
std::vector<Row> sources(const Folder& dir) {
    const QString base = dir.path("pattern.png"), clear = dir.path("clear.png"), deep = dir.path("deep.png");
    pattern().save(base);
    pattern(false, true).save(clear);
    pattern(true).save(deep);
    const QString srgb = profiles + "srgb.icc", cmyk = profiles + "default_cmyk.icc";
    const auto made = [&](const QString& name, const QStringList& args, const QString& kind = {}) {
        run(QStringLiteral("convert"), args + QStringList{kind + dir.path(name)});
        return dir.read(name);
    };
    // A lossless HEIC by libheif's own encoder, of a PNG ImageMagick makes (its profile goes with it).
    const auto heic = [&](const QString& name, const QStringList& args, const QStringList& encoding) {
        made(name + ".png", args);
        run(QStringLiteral("heif-enc"),
            encoding + QStringList{"-L", "-p", "chroma=444", dir.path(name + ".png"), "-o", dir.path(name)});
        return dir.read(name);
    };
    dir.write("bt2020.icc", profileOf({0.708, 0.292, 0.170, 0.797, 0.131, 0.046}));
    dir.write("p3.icc", profileOf({0.680, 0.320, 0.265, 0.690, 0.150, 0.060}));
    made("bt2020-ref.png", {base, "-profile", dir.path("bt2020.icc")});
    made("p3-ref.png", {base, "-profile", dir.path("p3.icc")});
    dir.write("gamma18.icc", profileOf({0.640, 0.330, 0.300, 0.600, 0.150, 0.060}, 1.8));
    dir.write("srgb-table.icc", lookupTableOf(profiles + "srgb.icc"));
    dir.write("romm-table.icc", lookupTableOf(profiles + "rommrgb.icc"));
    const QImage small = pattern().scaled(160, 120), large = pattern().scaled(1200, 900);
    // The CMYK TIFF with each ink stored apart.
    const auto separate = [&dir](const QString& from) {
        run(QStringLiteral("tiffcp"), {"-p", "separate", from, dir.path("planar.tif")});
        return dir.read("planar.tif");
    };
    QFile grey(profiles + "sgray.icc");
    grey.open(QIODevice::ReadOnly);
    return {
        {"cmyk.jpg", made("cmyk.jpg", {base, "-profile", srgb, "-profile", cmyk, "-quality", "97"}), {}, {}},
        {"cmyk.tif", made("cmyk.tif", {base, "-profile", srgb, "-profile", cmyk}), {}, {}},
        {"lab.tif", made("lab.tif", {base, "-colorspace", "Lab"}), {}, {}},
        {"lab8.tif", made("lab8.tif", {base, "-colorspace", "Lab", "-depth", "8"}), {}, {}},
        {"cmyk16.tif", made("cmyk16.tif", {base, "-profile", srgb, "-profile", cmyk, "-depth", "16"}), {}, {}},
        // Tiles that don't divide the picture, as prepress and map software write them.
        {"tiled.tif",
         made("tiled.tif", {base, "-profile", srgb, "-profile", cmyk, "-define", "tiff:tile-geometry=48x48"}),
         {},
         {}},
        // A BigTIFF, as scanners write past 4 GB: eight-byte offsets the classic layout doesn't have.
        {"cmyk-big.tif", made("cmyk-big.tif", {base, "-profile", srgb, "-profile", cmyk}, "TIFF64:"), {}, {}},
        {"grey.jpg", made("grey.jpg", {base, "-colorspace", "gray", "-profile", profiles + "sgray.icc"}), {}, {}},
        {"deep.png", dir.read("deep.png"), {}, {}, true},
        {"grey16.tif", made("grey16.tif", {deep, "-colorspace", "gray", "-depth", "16"}), {}, {}, true},
        // Layouts the toolkit's TIFF reader gets wrong: grey with alpha, 16-bit channels each in its own plane.
        {"grey-alpha.tif",
         made("grey-alpha.tif", {clear, "-colorspace", "gray", "-type", "GrayscaleAlpha", "-depth", "16"}),
         {},
         {},
         true},
        {"planar16.tif", made("planar16.tif", {deep, "-interlace", "plane"}), {}, {}, true},
        {"grey16-icc.tif",
         made("grey16-icc.tif", {deep, "-colorspace", "gray", "-depth", "16", "-profile", profiles + "sgray.icc"}),
         {},
         {},
         true},
        // Without gAMA and cHRM, which a colour-managed viewer honours and ImageMagick's reading leaves aside.
        {"indexed.png", made("indexed.png", {clear, "-define", "png:exclude-chunks=gAMA,cHRM"}, "PNG8:"), {}, {}},
        {"turned.jpg", jpegWithOrientation(encoded(pattern(), "jpeg", 97), 6), {}, {}},
        // Half see-through under a profile whose curve is not sRGB's: a JPEG must show it over white as a screen
        // does, mixed with the white in sRGB rather than in the profile's own numbers.
        {"see-through.png",
         made("see-through.png", {base, "-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel",
                                  "-profile", srgb, "-profile", dir.path("gamma18.icc"), "-depth", "8"}),
         {},
         {}},
        {"turned-big.tif", made("turned-big.tif", {base, "-orient", "RightTop"}, "TIFF64:"), {}, {}},
        {"p3.heic", heicWithColours(pattern(), 12, 13), {}, dir.path("p3-ref.png")},
        {"bt2020.heic", heicWithColours(pattern(), 9, 13), {}, dir.path("bt2020-ref.png")},
        {"thumbs.tif", tiffWithSub(pattern(), pattern().scaled(32, 32), false), {}, {}},
        // Wide gamuts on a picture stored on its side: upright and turned, the colour space must go along.
        {"p3-turned.jpg",
         withProfile(jpegWithOrientation(encoded(pattern(), "jpeg", 97), 6), dir.read("p3.icc")),
         {},
         {}},
        {"a98-turned.tif",
         made("a98-turned.tif", {deep, "-profile", srgb, "-profile", profiles + "a98.icc", "-orient", "LeftBottom"}),
         {},
         {},
         true},
        // Half see-through in a very wide colour space, where one level of 8 bits is a visible step: the
        // colours must not lose levels on their way through (premultiplied at 8 bits, they do).
        {"romm-half.png",
         made("romm-half.png", {base, "-profile", srgb, "-profile", profiles + "rommrgb.icc", "-alpha", "set",
                                "-channel", "A", "-evaluate", "set", "53.7%", "+channel", "-depth", "8"}),
         {},
         {},
         false,
         {},
         tooWide},
        // Dark colours of it as a TIFF, which stores see-through colours straight as well: those of a level lost
        // to premultiplying on the way in or out differ by a visible step.
        {"romm-dark.tif",
         made("romm-dark.tif", QStringLiteral("-size 64x64 xc:rgb(22,25,31) xc:rgb(32,15,23) +append ( -size 64x64 "
                                              "xc:rgb(26,44,19) xc:rgb(122,206,80) +append ) -append -profile %1 "
                                              "-alpha set -channel A -evaluate set 53.7% +channel -depth 8")
                                   .arg(profiles + "rommrgb.icc")
                                   .split(' ')),
         {},
         {},
         false,
         {},
         tooWide},
        {"prophoto16.png",
         made("prophoto16.png", {deep, "-profile", srgb, "-profile", profiles + "rommrgb.icc"}),
         {},
         {},
         true,
         {},
         tooWide},
        // The same colour space at 8 bits, where a lossy file's coding moves a colour by a visible step.
        {"romm.png",
         made("romm.png", {base, "-profile", srgb, "-profile", profiles + "rommrgb.icc", "-depth", "8"}),
         {},
         {},
         false,
         {},
         tooWide},
        {"romm.jpg",
         made("romm.jpg", {base, "-profile", srgb, "-profile", profiles + "rommrgb.icc", "-quality", "97"}),
         {},
         {},
         false,
         {},
         tooWide},
        // Lookup-table RGB profiles the toolkit can't read, put on pixels already in their spaces: turned into sRGB,
        // which holds all of the first, and cuts the second's colours.
        {"srgb-table.png",
         made("srgb-table.png", {base, "-profile", srgb, "+profile", "icc", "-profile", dir.path("srgb-table.icc")}),
         {},
         {}},
        {"romm-table.png",
         made("romm-table.png", {base, "-profile", srgb, "-profile", profiles + "rommrgb.icc", "+profile", "icc",
                                 "-profile", dir.path("romm-table.icc")}),
         QStringLiteral("its colour profile reaches past sRGB, the only space this program can turn it into"),
         {}},
        // A v4 profile of lookup tables, which lcms's optimiser resamples coarsely.
        {"cmyk-lut.jpg",
         made("cmyk-lut.jpg", {base, "-profile", srgb, "-profile", profiles + "ps_cmyk.icc", "-quality", "97"}),
         {},
         {}},
        {"cmyk-lut.tif", made("cmyk-lut.tif", {base, "-profile", srgb, "-profile", profiles + "ps_cmyk.icc"}), {}, {}},
        {"white16.tif",
         made("white16.tif", {deep, "-colorspace", "gray", "-depth", "16", "-define", "quantum:polarity=min-is-white"}),
         {},
         {},
         true},
        // 10 bits a channel, as phones store HDR pictures, each half-way between two 8-bit values.
        {"deep.heic",
         heic("deep.heic", {deep, "-evaluate", "add", "28", "-depth", "16"}, {"--matrix_coefficients=0", "-b", "10"}),
         {},
         {},
         true},
        // libheif's converter can't write it as a PNG: the PNG it is made from stands in.
        {"grey-icc.heic",
         heic("grey-icc.heic", {base, "-colorspace", "gray", "-profile", profiles + "sgray.icc"}, {}),
         {},
         dir.path("grey-icc.heic.png")},
        {"pq.heic", heicWithColours(pattern(), 9, 16), "its colours are HDR (PQ)", {}},
        {"hlg.heic", heicWithColours(pattern(), 9, 18), "its colours are HDR (HLG)", {}},
        {"camera.dng", tiffWithSub(small, large, true), "it is a camera raw", {}},
        {"signed.tif",
         made("signed.tif", {base, "-colorspace", "gray", "-depth", "16", "-define", "quantum:format=signed"}),
         "its samples are signed numbers",
         {}},
        {"scan.tif", tiffWithSub(small, large, false), "its first picture is a reduced preview", {}},
        {"mislabelled.jpg",
         withProfile(encoded(pattern(), "jpeg", 97), grey.readAll()),
         "its colour profile does not fit its pixels",
         {}},
        {"planar.tif",
         separate(dir.path("cmyk.tif")),
         "its CMYK colours are stored in a way this program can't read",
         {}},
        {"bare.jpg",
         made("bare.jpg", {base, "-colorspace", "CMYK", "-quality", "97"}),
         "its CMYK colours come without a colour profile",
         {}},
    };
}

} // namespace

TEST(ConvertJudged, ASourceGoesToTheTrashOnlyWhenItsNewFileShowsWhatItShowed) {
    const Folder fixtures;
    const std::vector<Row> rows = sources(fixtures);
    QTemporaryDir scratch;
    for (const Row& row : rows) {
        ASSERT_FALSE(row.bytes.isEmpty()) << row.name.toStdString();
        // What the source shows, read before anything moves it.
        const QString original = fixtures.write("original-" + row.name, row.bytes).toLocalFile();
        const Shown before = row.why.isEmpty() ? shown(row.reference.isEmpty() ? original : row.reference, scratch)
                                               : Shown{QSize(1, 1), {}};
        ASSERT_TRUE(before.size.isValid()) << row.name.toStdString();
        for (const char* op : {"to PNG", "to TIFF", "to JPEG", "to WebP", "to HEIC", "compress", "resize", "turn"}) {
            SCOPED_TRACE(row.name.toStdString() + " " + op);
            QDir(Trash::homeTrash()).removeRecursively();
            Folder folder;
            const QUrl source = folder.write(row.name, row.bytes);
            QUrl made;
            QString note, refused;
            try {
                const QString what = QString::fromLatin1(op);
                if (what.startsWith("to ")) {
                    const auto r = ImageConvert::convert(source,
                                                         what == "to PNG"    ? ImageFormat::png
                                                         : what == "to TIFF" ? ImageFormat::tiff
                                                         : what == "to WebP" ? ImageFormat::webp
                                                         : what == "to HEIC" ? ImageFormat::heic
                                                                             : ImageFormat::jpeg,
                                                         0.9);
                    made = r.url, note = r.trashFailure;
                } else if (what == "turn") {
                    const auto r = ImageConvert::transform(source, 1, false, false);
                    made = r.url, note = r.trashFailure;
                } else if (what == "compress") {
                    const auto r = ImageConvert::compress(source);
                    made = r.url, note = r.trashFailure;
                } else {
                    const auto r = ImageConvert::resize(source, 64);
                    made = r.url, note = r.trashFailure;
                }
            } catch (const ConvertError& error) {
                refused = error.message;
            }
            const bool turn = QLatin1String(op) == QLatin1String("turn");
            const bool ownFormat = turn || QLatin1String(op) == QLatin1String("resize");
            const QString what = QString::fromLatin1(op);
            const QString kindMade = ownFormat           ? QFileInfo(row.name).suffix()
                                     : what == "to PNG"  ? QStringLiteral("png")
                                     : what == "to TIFF" ? QStringLiteral("tiff")
                                     : what == "to WebP" ? QStringLiteral("webp")
                                     : what == "to HEIC" ? QStringLiteral("heic")
                                                         : QStringLiteral("jpg");
            const bool lossyMade = kindMade == "jpg" || kindMade == "webp" || kindMade == "heic";
            QString why = row.why.isEmpty() && ownFormat ? row.ownWhy : row.why;
            // A deep picture's HEIC has 10 bits a channel, enough for any colour space.
            if (why.isEmpty() && lossyMade && !(row.deep && kindMade == "heic"))
                why = row.lossyWhy;
            const bool gone = QFileInfo::exists(Trash::homeTrash() + QStringLiteral("/files/") + row.name);
            if (!gone) {
                EXPECT_EQ(folder.read(row.name), row.bytes) << "the source is as it was";
                if (refused.isEmpty())
                    EXPECT_TRUE(note.startsWith(QStringLiteral("kept %1: %2").arg(row.name, why)))
                        << note.toStdString();
                // Refusals that leave everything as it was: a JPEG would lose transparency or be no smaller, or
                // the kind can't be written in its own format.
                const bool expectedRefusal = refused == ImageConvert::keptTransparent ||
                                             refused == ImageConvert::keptNotSmaller ||
                                             refused == QStringLiteral("Resize works on images, not PDFs") ||
                                             refused == QStringLiteral("Rotate works on images, not PDFs");
                EXPECT_TRUE(refused.isEmpty() || expectedRefusal) << refused.toStdString();
                if (why.isEmpty())
                    EXPECT_FALSE(refused.isEmpty()) << "kept for no reason: " << note.toStdString();
                continue;
            }
            EXPECT_TRUE(why.isEmpty()) << "went to the Trash although " << why.toStdString();
            EXPECT_TRUE(note.isEmpty());
            const Shown after = shown(made.toLocalFile(), scratch);
            // A quarter turn clockwise: the new file's column x is the source's row from the bottom.
            const QSize upright = turn ? after.size.transposed() : after.size;
            const double scale = double(upright.width()) / before.size.width();
            if (!after.size.isValid() || before.pixels.empty() ||
                upright != QSize(qRound(before.size.width() * scale), qRound(before.size.height() * scale))) {
                ADD_FAILURE() << "shown at " << after.size.width() << "x" << after.size.height();
                continue;
            }
            const QString kind = QFileInfo(made.toLocalFile()).suffix();
            const bool keepsDeep = row.deep && (kind == "png" || kind == "tif" || kind == "tiff");
            // A HEIC is lossy: its depth is told by the file, not by its pixels.
            if (row.deep && kind == "heic")
                EXPECT_GT(heicBits(made.toLocalFile()), 8) << "cut to 8 bits";
            // A JPEG has no transparency: what was clear is white in it.
            const bool overWhite = kind == "jpg";
            // A lossless file must show every pixel as the source did; a lossy one (JPEG, HEIC) each block's colour,
            // averaged over the block: a re-encoded JPEG's own loss is no colour fault.
            const bool lossy = kind == "jpg" || kind == "heic" || kind == "webp";
            // Compressing is lossy by request: at its quality a flat block's mean moves by up to a step of the JPEG's
            // DC quantisation in each of its three channels, more than 2 in a wide gamut or a saturated blue.
            const double limit = QLatin1String(op) == QLatin1String("compress") ? 3.0 : 2.0;
            // 16 bits a channel are kept to within a step of the source's depth: a 10-bit HEIC's step is 64.
            const int step = row.name.endsWith(QLatin1String(".heic")) ? 80 : 48;
            std::array<std::array<double, 8>, 4> sums{};
            int worse = 0, shallow = 0;
            double worst = 0;
            QString worstAt;
            const auto compare = [&](const std::array<quint16, 4>& a, const std::array<quint16, 4>& b, QPoint at) {
                const double d = deltaE(a, b);
                if (d > worst)
                    worst = d,
                    worstAt = QString::asprintf("at %d,%d %d,%d,%d shown as %d,%d,%d", at.x(), at.y(), a[0] >> 8,
                                                a[1] >> 8, a[2] >> 8, b[0] >> 8, b[1] >> 8, b[2] >> 8);
                worse += d >= limit;
            };
            for (int y = 0; y < after.size.height(); ++y)
                for (int x = 0; x < after.size.width(); ++x) {
                    // Pixels of a block away from its edges, which a resize blends.
                    const int block = int(64 * scale), bx = x % block, by = y % block;
                    if (bx < 3 || by < 3 || bx >= block - 3 || by >= block - 3)
                        continue;
                    auto a =
                        turn ? before.at(y, before.size.height() - 1 - x) : before.at(int(x / scale), int(y / scale));
                    const auto b = after.at(x, y);
                    if (overWhite) {
                        for (int c = 0; c < 3; ++c)
                            a[size_t(c)] =
                                quint16((quint32(a[size_t(c)]) * a[3] + 0xffffu * (0xffffu - a[3])) / 0xffff);
                        a[3] = 0xffff;
                    }
                    // Transparency is shown too: a half-clear pixel made opaque is as wrong as a changed colour.
                    worse += std::abs(int(a[3]) - int(b[3])) > 257 * 2;
                    if (a[3] < 0x8000 || b[3] < 0x8000)
                        continue;
                    if (lossy) {
                        auto& sum = sums[size_t(std::min(1, x / block) + 2 * std::min(1, y / block))];
                        for (int c = 0; c < 3; ++c)
                            sum[size_t(c)] += a[size_t(c)], sum[size_t(c + 4)] += b[size_t(c)];
                        sum[3] += 1;
                        continue;
                    }
                    compare(a, b, QPoint(x, y));
                    for (int c = 0; c < 3 && keepsDeep; ++c)
                        shallow += std::abs(int(a[size_t(c)]) - int(b[size_t(c)])) > step;
                }
            for (int block = 0; block < 4 && lossy; ++block) {
                const auto& sum = sums[size_t(block)];
                if (sum[3] == 0)
                    continue;
                const auto mean = [&sum](int from) {
                    return std::array<quint16, 4>{quint16(sum[size_t(from)] / sum[3] + 0.5),
                                                  quint16(sum[size_t(from + 1)] / sum[3] + 0.5),
                                                  quint16(sum[size_t(from + 2)] / sum[3] + 0.5), 0xffff};
                };
                compare(mean(0), mean(4), QPoint(block % 2, block / 2));
            }
            EXPECT_EQ(worse, 0) << "worst ΔE " << worst << ": " << worstAt.toStdString();
            EXPECT_EQ(shallow, 0) << "16 bits a channel cut";
        }
    }
}
