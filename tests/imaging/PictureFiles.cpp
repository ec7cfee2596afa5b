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
#include <csetjmp>
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

} // namespace PictureFiles

// ---- pictures written and read by libpng itself

namespace PictureFiles {

QImage softShadow(int w, int h) {
    QImage image = noise(w, h).convertToFormat(QImage::Format_ARGB32);
    const int edge = std::min(w, h) / 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int inside = std::min({x, y, w - 1 - x, h - 1 - y});
            if (inside >= edge)
                continue;
            const QRgb p = image.pixel(x, y);
            image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), 1 + inside * 253 / edge));
        }
    return image;
}

namespace {

void appendBytes(png_structp png, png_bytep data, size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}
void flushNothing(png_structp) {}
void jumpOut(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}
void quiet(png_structp, png_const_charp) {}

int channelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

// Sample c of pixel (x, y) before the transparent colour is put in: spread over the depth's whole range.
quint32 sample(int x, int y, int c, int depth) {
    const quint32 mixed = quint32(x * 2654435761u) ^ quint32((y + 7) * 40503u) ^ quint32((c + 1) * 2246822519u);
    return (mixed ^ (mixed >> 13)) & ((1u << depth) - 1);
}

// What the writing allocates, kept outside the frame a libpng error jumps out of.
struct Writing {
    QByteArray profile = QColorSpace(QColorSpace::SRgb).iccProfile();
    std::vector<std::vector<png_byte>> rows;
    std::vector<png_bytep> pointers;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
};

void put(std::vector<png_byte>& row, int index, int depth, quint32 value) {
    if (depth == 16) {
        row[size_t(index) * 2] = png_byte(value >> 8);
        row[size_t(index) * 2 + 1] = png_byte(value);
    } else if (depth == 8) {
        row[size_t(index)] = png_byte(value);
    } else {
        const int bit = index * depth;
        row[size_t(bit / 8)] |= png_byte(value << (8 - depth - bit % 8));
    }
}

bool writeAll(png_structp png, png_infop info, const LibpngForm& form, Writing* w) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, png_uint_32(form.size.width()), png_uint_32(form.size.height()), form.depth, form.colorType,
                 form.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const bool palette = form.colorType == PNG_COLOR_TYPE_PALETTE;
    const int entries = 1 << std::min(form.depth, 8);
    if (palette) {
        for (int i = 0; i < entries; ++i)
            w->palette.push_back(
                png_color{png_byte(sample(i, 1, 0, 8)), png_byte(sample(i, 2, 1, 8)), png_byte(sample(i, 3, 2, 8))});
        png_set_PLTE(png, info, w->palette.data(), entries);
    }
    const int channels = channelsOf(form.colorType);
    // The transparent colour is pixel (0, 0)'s; its "near miss" differs in the low byte of its first sample.
    png_color_16 key{};
    const auto keySample = [&](int c) { return sample(0, 0, c, form.depth); };
    if (form.transparentColour) {
        if (palette) {
            for (int i = 0; i + 1 < entries; ++i)
                w->alphas.push_back(png_byte(i * 97 % 256));
            png_set_tRNS(png, info, w->alphas.data(), int(w->alphas.size()), nullptr);
        } else {
            key.gray = png_uint_16(keySample(0));
            key.red = png_uint_16(keySample(0));
            key.green = png_uint_16(keySample(1));
            key.blue = png_uint_16(keySample(2));
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    if (form.background) {
        png_color_16 background{};
        background.index = png_byte(entries - 1);
        background.gray = png_uint_16((1u << form.depth) - 1);
        background.red = background.green = background.blue = background.gray;
        png_set_bKGD(png, info, &background);
    }
    if (form.colourChunk == "gAMA")
        png_set_gAMA(png, info, 1 / 1.8);
    if (form.colourChunk == "sRGB")
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (form.colourChunk == "iCCP")
        png_set_iCCP(png, info, "sRGB", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(w->profile.constData()), png_uint_32(w->profile.size()));

    const size_t rowBytes = (size_t(form.size.width()) * size_t(channels) * size_t(form.depth) + 7) / 8;
    for (int y = 0; y < form.size.height(); ++y) {
        std::vector<png_byte> row(rowBytes, 0);
        for (int x = 0; x < form.size.width(); ++x) {
            const int index = (x + y * 5) % 3;
            for (int c = 0; c < channels; ++c) {
                quint32 value = sample(x, y, c, form.depth);
                if (form.transparentColour && !palette && index == 0)
                    value = keySample(c);
                else if (form.transparentColour && !palette && form.depth == 16 && index == 1)
                    value = c == 0 ? keySample(0) ^ 1 : keySample(c);
                put(row, x * channels + c, form.depth, value);
            }
        }
        w->rows.push_back(std::move(row));
    }
    for (auto& row : w->rows)
        w->pointers.push_back(row.data());
    png_write_info(png, info);
    png_write_image(png, w->pointers.data());
    png_write_end(png, info);
    return true;
}

struct Reading {
    const QByteArray* bytes;
    qsizetype at = 0;
    std::vector<png_byte> pixels;
    std::vector<png_bytep> rows;
};

bool readAll(png_structp png, png_infop info, Reading* r, std::vector<quint16>* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != width * 8)
        return false;
    r->pixels.resize(width * height * 8);
    for (size_t y = 0; y < height; ++y)
        r->rows.push_back(r->pixels.data() + y * width * 8);
    png_read_image(png, r->rows.data());
    png_read_end(png, nullptr);
    out->resize(width * height * 4);
    for (size_t i = 0; i < out->size(); ++i)
        (*out)[i] = quint16(r->pixels[i * 2] << 8 | r->pixels[i * 2 + 1]);
    return true;
}

void readBytes(png_structp png, png_bytep data, size_t length) {
    auto* r = static_cast<Reading*>(png_get_io_ptr(png));
    if (qsizetype(length) > r->bytes->size() - r->at)
        png_error(png, "cut short");
    std::memcpy(data, r->bytes->constData() + r->at, length);
    r->at += qsizetype(length);
}

bool writeBlack(png_structp png, png_infop info, QSize size, std::vector<png_byte>* row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, png_uint_32(size.width()), png_uint_32(size.height()), 1, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_write_info(png, info);
    for (int y = 0; y < size.height(); ++y)
        png_write_row(png, row->data());
    png_write_end(png, info);
    return true;
}

} // namespace

QByteArray blackPng(QSize size) {
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOut, quiet);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, appendBytes, flushNothing);
    std::vector<png_byte> row((size_t(size.width()) + 7) / 8, 0);
    const bool ok = writeBlack(png, info, size, &row);
    png_destroy_write_struct(&png, &info);
    return ok ? bytes : QByteArray();
}

QByteArray libpngFile(const LibpngForm& form) {
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOut, quiet);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, appendBytes, flushNothing);
    Writing writing;
    const bool ok = writeAll(png, info, form, &writing);
    png_destroy_write_struct(&png, &info);
    return ok ? bytes : QByteArray();
}

std::vector<quint16> libpngRgba16(const QByteArray& file) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOut, quiet);
    png_infop info = png_create_info_struct(png);
    Reading reading{&file};
    png_set_read_fn(png, &reading, readBytes);
    std::vector<quint16> pixels;
    const bool ok = readAll(png, info, &reading, &pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok ? pixels : std::vector<quint16>();
}

} // namespace PictureFiles

namespace PictureFiles {

std::vector<LibpngForm> everyLibpngForm() {
    const struct {
        int type;
        std::vector<int> depths;
        bool keyed;
    } kinds[] = {
        {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}, true}, {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}, false},
        {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}, true},  {PNG_COLOR_TYPE_RGB, {8, 16}, true},
        {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}, false},
    };
    std::vector<LibpngForm> forms;
    for (const auto& kind : kinds)
        for (const int depth : kind.depths)
            for (const bool interlaced : {false, true})
                for (const bool keyed : {false, true})
                    for (const bool background : {false, true})
                        if (kind.keyed || !keyed)
                            forms.push_back(LibpngForm{kind.type, depth, interlaced, keyed, background});
    return forms;
}

std::string nameOf(const LibpngForm& form) {
    const char* types[] = {"grey", "?", "RGB", "palette", "grey+alpha", "?", "RGBA"};
    std::string name = types[form.colorType] + (" " + std::to_string(form.depth));
    if (form.interlaced)
        name += " interlaced";
    if (form.transparentColour)
        name += " tRNS";
    if (form.background)
        name += " bKGD";
    if (!form.colourChunk.isEmpty())
        name += " " + form.colourChunk.toStdString();
    return name;
}

int differencesFromLibpng(const QImage& image, const QByteArray& png, int tolerance) {
    const std::vector<quint16> want = libpngRgba16(png);
    if (want.empty() || qsizetype(want.size()) != qsizetype(image.width()) * image.height() * 4)
        return -1;
    const QImage got = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const auto to8 = [](quint16 v) { return int((quint32(v) * 255 + 32767) / 65535); };
    int wrong = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const quint16* p = &want[(size_t(y) * size_t(got.width()) + size_t(x)) * 4];
            const QRgb expected = qPremultiply(qRgba(to8(p[0]), to8(p[1]), to8(p[2]), to8(p[3])));
            const QRgb actual = got.pixel(x, y);
            const bool close = std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
                               std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
                               std::abs(qBlue(actual) - qBlue(expected)) <= tolerance &&
                               std::abs(qAlpha(actual) - qAlpha(expected)) <= tolerance;
            if (!close && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << actual << ", libpng gives "
                              << expected << std::dec;
        }
    return wrong;
}

} // namespace PictureFiles
