#include "PictureFiles.h"

#include "imaging/UserError.h"
#include "support/TestEnv.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <png.h>

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <libheif/heif.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <zlib.h>

namespace PictureFiles {

QImage markers(int columns, int rows, int block) {
    QImage image(columns * block, rows * block, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    QPainter p(&image);
    p.fillRect(0, 0, block, block, Qt::red);
    p.fillRect(block, 0, block, block, Qt::green);
    p.fillRect(0, block, block, block, Qt::blue);
    return image;
}

QImage noise(int w, int h) {
    // Like a photo: smooth colour with grain, which a lossless coder has to store and a JPEG smooths away.
    QImage image(w, h, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 27) - 16;
            image.setPixel(x, y,
                           qRgb(std::clamp(x * 255 / w + grain, 0, 255), std::clamp(y * 255 / h - grain, 0, 255),
                                std::clamp(128 + grain, 0, 255)));
        }
    return image;
}

QImage halfTransparent(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    return image;
}

QByteArray encoded(const QImage& image, const char* qtFormat, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, qtFormat);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

namespace {

QByteArray tiffBlock(int orientation) {
    // Little-endian TIFF header, one IFD with one SHORT entry: the orientation.
    QByteArray b("II*\0\x08\0\0\0", 8);
    auto u16 = [&b](quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) { u16(quint16(v & 0xFFFF)), u16(quint16(v >> 16)); };
    u16(1);
    u16(0x0112);
    u16(3);
    u32(1);
    u16(quint16(orientation));
    u16(0);
    u32(0);
    return b;
}

heif_error appendTo(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

} // namespace

QByteArray jpegWithOrientation(const QByteArray& jpeg, int orientation) {
    const QByteArray tiff = tiffBlock(orientation);
    QByteArray segment("\xFF\xE1", 2);
    const quint16 length = quint16(2 + 6 + tiff.size());
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    segment.append("Exif\0\0", 6).append(tiff);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray pngWithOrientation(const QByteArray& png, int orientation) {
    const QByteArray data = tiffBlock(orientation);
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    const QByteArray typed = QByteArray("eXIf") + data;
    chunk += typed;
    QByteArray crc(4, '\0');
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))), crc.data());
    chunk += crc;
    const qsizetype afterHeader = 8 + 25; // signature, then IHDR (4 length + 4 type + 13 data + 4 crc)
    return png.left(afterHeader) + chunk + png.mid(afterHeader);
}

QByteArray heic(const QImage& image, int orientation, bool exifToo) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* img = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &img);
    heif_image_add_plane(img, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(orientation);
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(ctx, img, encoder, options, &handle);
    if (exifToo) {
        const QByteArray exif = QByteArray("\0\0\0\0", 4) + tiffBlock(orientation);
        heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
    }
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = appendTo;
    heif_context_write(ctx, &writer, &bytes);
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(img);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return bytes;
}

QByteArray pdf(const QList<QSizeF>& pages) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (qsizetype i = 0; i < pages.size(); ++i) {
        writer.setPageSize(QPageSize(pages[i], QPageSize::Point, QString(), QPageSize::ExactMatch));
        if (i == 0)
            painter.begin(&writer);
        else
            writer.newPage();
        painter.fillRect(QRectF(QPointF(0, 0), pages[i]), colours[i % 3]);
    }
    painter.end();
    return bytes;
}

QByteArray pdfWithoutPages() {
    // Built by hand: every writer adds a page. The reader rebuilds the missing cross-reference table.
    return QByteArray("%PDF-1.4\n"
                      "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                      "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
                      "trailer << /Root 1 0 R /Size 3 >>\n%%EOF\n");
}

QByteArray encryptedPdf() {
    const QByteArray plain = pdf({QSizeF(100, 100)});
    QPDF doc;
    doc.processMemoryFile("plain.pdf", plain.constData(), size_t(plain.size()));
    QPDFWriter writer(doc);
    writer.setOutputMemory();
    writer.setR6EncryptionParameters("secret", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
    Buffer* out = writer.getBuffer();
    const QByteArray bytes(reinterpret_cast<const char*>(out->getBuffer()), qsizetype(out->getSize()));
    delete out;
    return bytes;
}

QByteArray pngClaiming(quint32 w, quint32 h) {
    QByteArray png = encoded(QImage(1, 1, QImage::Format_RGB32), "png");
    qToBigEndian(w, png.data() + 16);
    qToBigEndian(h, png.data() + 20);
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)), png.data() + 29);
    return png;
}

Folder::Folder() : dir(TestEnv::home() + QStringLiteral("/pictures-XXXXXX")) {}

QString Folder::path(const QString& name) const {
    return dir.path() + QLatin1Char('/') + name;
}

QUrl Folder::write(const QString& name, const QByteArray& bytes) const {
    QFile file(path(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return url(name);
}

QUrl Folder::write(const QString& name, const QImage& image) const {
    return write(name, encoded(image, "png"));
}

QStringList Folder::names() const {
    QStringList list = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    list.sort();
    return list;
}

QByteArray Folder::read(const QString& name) const {
    QFile file(path(name));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QString errorOf(const std::function<void()>& op) {
    try {
        op();
    } catch (const ConvertError& e) {
        return e.message;
    }
    return QStringLiteral("(no error)");
}

bool near(QColor a, QColor b, int tol) {
    return std::abs(a.red() - b.red()) <= tol && std::abs(a.green() - b.green()) <= tol &&
           std::abs(a.blue() - b.blue()) <= tol && std::abs(a.alpha() - b.alpha()) <= tol;
}

QImage softShadow(int w, int h) {
    QImage image = noise(w, h).convertToFormat(QImage::Format_ARGB32);
    const int edge = std::min(w, h) / 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (const int inside = std::min({x, y, w - 1 - x, h - 1 - y}); inside < edge)
                image.setPixel(x, y, (image.pixel(x, y) & 0xFFFFFF) | quint32(1 + inside * 253 / edge) << 24);
    return image;
}

// libpng's errors abort: only our own sound files pass through these two.
QByteArray libpngFile(const LibpngForm& form) {
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), qsizetype(n));
        },
        nullptr);
    const int w = 21, h = 13, depth = form.depth;
    png_set_IHDR(png, info, w, h, depth, form.colorType, form.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Random bytes: any of them make valid rows, palette indices included, as the palette has every entry.
    quint32 seed = quint32(form.colorType * 131 + depth);
    const auto next = [&seed] { return png_byte((seed = seed * 1664525u + 1013904223u) >> 24); };
    std::vector<png_color> palette(size_t(1) << std::min(depth, 8));
    std::generate(palette.begin(), palette.end(), [&] { return png_color{next(), next(), next()}; });
    std::vector<png_byte> alphas(palette.size() - 1),
        pixels((size_t(w) * png_get_channels(png, info) * depth + 7) / 8 * h);
    std::generate(alphas.begin(), alphas.end(), next);
    std::generate(pixels.begin(), pixels.end(), next);
    const size_t pixelBytes = png_get_channels(png, info) * depth / 8;
    const png_byte* p = pixels.data();
    const auto sample = [&](int c) {
        return png_uint_16(depth == 16 ? p[2 * c] << 8 | p[2 * c + 1] : depth == 8 ? p[c] : p[0] >> (8 - depth));
    };
    if (form.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        if (form.transparentColour)
            png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
    } else if (form.transparentColour) {
        const png_color_16 key{0, sample(0), sample(1), sample(2), sample(0)};
        png_set_tRNS(png, info, nullptr, 0, &key);
        for (size_t i = 1; pixelBytes && i < pixels.size() / pixelBytes; ++i)
            if (i % 3 != 2) {
                std::memcpy(&pixels[i * pixelBytes], p, pixelBytes);
                pixels[i * pixelBytes + pixelBytes - 1] ^= png_byte(i % 3);
            }
    }
    const auto most = png_uint_16((1u << depth) - 1);
    const png_color_16 background{png_byte(palette.size() - 1), most, most, most, most};
    if (form.background)
        png_set_bKGD(png, info, &background);
    const QByteArray profile = QColorSpace(QColorSpace::SRgb).iccProfile();
    if (form.colourChunk == "gAMA")
        png_set_gAMA(png, info, 1 / 1.8);
    if (form.colourChunk == "sRGB")
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (form.colourChunk == "iCCP")
        png_set_iCCP(png, info, "sRGB", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(profile.constData()), png_uint_32(profile.size()));
    std::vector<png_bytep> rows;
    for (int y = 0; y < h; ++y)
        rows.push_back(pixels.data() + size_t(y) * pixels.size() / h);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

std::vector<LibpngForm> everyLibpngForm() {
    const std::pair<int, std::vector<int>> kinds[] = {
        {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
        {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},  {PNG_COLOR_TYPE_RGB, {8, 16}},
        {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}},
    };
    std::vector<LibpngForm> forms;
    for (const auto& [type, depths] : kinds)
        for (const int depth : depths)
            for (int variant = 0; variant < 8; ++variant)
                if (!(variant & 2) || !(type & PNG_COLOR_MASK_ALPHA))
                    forms.push_back(LibpngForm{type, depth, bool(variant & 1), bool(variant & 2), bool(variant & 4)});
    return forms;
}

std::string nameOf(const LibpngForm& f) {
    return "colour type " + std::to_string(f.colorType) + ", " + std::to_string(f.depth) + " bits" +
           (f.interlaced ? ", interlaced" : "") + (f.transparentColour ? ", tRNS" : "") +
           (f.background ? ", bKGD" : "") + " " + f.colourChunk.toStdString();
}

int differencesFromLibpng(const QImage& image, const QByteArray& file, int tolerance) {
    // libpng's own decode: palette and transparent colour expanded, grey made RGB, RGBA of 16 bits throughout.
    FILE* in = fmemopen(const_cast<char*>(file.constData()), size_t(file.size()), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, in);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int width = int(png_get_image_width(png, info)), height = int(png_get_image_height(png, info));
    std::vector<png_byte> bytes(size_t(width) * size_t(height) * 8);
    std::vector<png_bytep> rows;
    for (int y = 0; y < height; ++y)
        rows.push_back(bytes.data() + size_t(y) * size_t(width) * 8);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(in);
    if (image.size() != QSize(width, height))
        return -1;
    const QImage got = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Rounded to 8 bits and premultiplied, as our pictures are kept.
    const auto to8 = [&](const png_byte* at) { return int(((at[0] << 8 | at[1]) * 255u + 32767) / 65535); };
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const png_byte* at = rows[size_t(y)] + size_t(x) * 8;
            const QRgb expected = qPremultiply(qRgba(to8(at), to8(at + 2), to8(at + 4), to8(at + 6)));
            if (!near(QColor::fromRgba(got.pixel(x, y)), QColor::fromRgba(expected), tolerance) && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got.pixel(x, y) << ", libpng gives "
                              << expected;
        }
    return wrong;
}

// How far apart two sRGB colours look: CIE76, the distance in L*a*b* (D65).
double deltaE(QColor a, QColor b) {
    const auto lab = [](QColor c) {
        const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        const double r = linear(c.redF()), g = linear(c.greenF()), b = linear(c.blueF());
        const double xyz[3] = {(0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047, 0.2126 * r + 0.7152 * g + 0.0722 * b,
                               (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883};
        double f[3];
        for (int i = 0; i < 3; ++i)
            f[i] = xyz[i] > 0.008856 ? std::cbrt(xyz[i]) : 7.787 * xyz[i] + 16.0 / 116;
        return std::array<double, 3>{116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])};
    };
    const auto p = lab(a), q = lab(b);
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

} // namespace PictureFiles
