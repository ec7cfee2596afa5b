#include "imaging/PngReader.h"

#include "imaging/ImageCodec.h"

#include <QColorSpace>

#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace PngReader {

namespace {

void onError(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}
void onWarning(png_structp, png_const_charp) {}

// The label the toolkit's reader put on a PNG, so that what we write from it carries the same profile: the
// ICC profile first, then the sRGB chunk, then the gamma with the chromaticities when they are given.
QColorSpace colourSpace(png_structp png, png_infop info) {
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
        const QColorSpace fromProfile =
            QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
        if (fromProfile.isValid())
            return fromProfile;
    }
    int intent = 0;
    if (png_get_sRGB(png, info, &intent))
        return QColorSpace::SRgb;
    double gamma = 0;
    if (!png_get_gAMA(png, info, &gamma) || gamma <= 0)
        return {};
    double wx = 0, wy = 0, rx = 0, ry = 0, gx = 0, gy = 0, bx = 0, by = 0;
    if (png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        const QColorSpace chromatic(QPointF(wx, wy), QPointF(rx, ry), QPointF(gx, gy), QPointF(bx, by),
                                    QColorSpace::TransferFunction::Gamma, float(1.0 / gamma));
        if (chromatic.isValid())
            return chromatic;
    }
    return QColorSpace(QColorSpace::Primaries::SRgb, float(1.0 / gamma));
}

// Everything the decode allocates, owned outside the frame an error jumps out of.
struct Work {
    QImage image;
    std::vector<png_bytep> rows;
    QColorSpace space;
    Failure failure = Failure::broken;
    bool deep = false; // asked to keep 16 bits a channel; false when the file has no more than 8
};

// Like toRgba8, but 16-bit samples in the machine's byte order, as QImage's 64-bit formats keep them.
bool toRgba16(png_structp png, png_infop info, bool* alpha) {
    const int colorType = png_get_color_type(png, info);
    *alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    if (!*alpha)
        png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t(png_get_image_width(png, info)) * 8;
}

// Nothing here may have a destructor: an error longjmps past it.
bool readAll(png_structp png, png_infop info, Work* work) {
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
        return false;
    const QSize size{int(width), int(height)};
    work->deep = work->deep && png_get_bit_depth(png, info) == 16;
    // Twice the bytes a pixel for 16 bits a channel.
    if (!ImageCodec::fitsBudget(work->deep ? QSize(size.width(), size.height() * 2) : size)) {
        work->failure = Failure::tooLarge;
        return false;
    }
    bool alpha = false;
    if (!(work->deep ? toRgba16(png, info, &alpha) : toRgba8(png, info, &alpha)))
        return false;
    work->space = colourSpace(png, info);
    // Straight into the picture's own rows, in the byte order libpng gives; turned into our formats in place.
    const QImage::Format format = work->deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                             : (alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    work->image = QImage(size, format);
    if (work->image.isNull()) {
        work->failure = Failure::tooLarge;
        return false;
    }
    work->rows.resize(height);
    for (int y = 0; y < size.height(); ++y)
        work->rows[size_t(y)] = work->image.scanLine(y);
    png_read_image(png, work->rows.data());
    // Through to the end chunk: a file cut short after its last row has lost something all the same.
    png_read_end(png, nullptr);
    return true;
}

bool run(png_structp png, png_infop info, Work* work) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    return readAll(png, info, work);
}

} // namespace

bool recognizes(const QByteArray& bytes) {
    return bytes.size() >= 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.constData()), 0, 8) == 0;
}

Session::Session(const QByteArray& source) : bytes(&source) {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png)
        return;
    info = png_create_info_struct(png);
    if (!info)
        return;
    png_set_read_fn(png, this, &Session::readBytes);
    // Our decoding budget decides how large a picture may be, not libpng's default of a million pixels a side.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
}

Session::~Session() {
    if (png)
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
}

void Session::readBytes(png_structp png, png_bytep data, size_t length) {
    auto* self = static_cast<Session*>(png_get_io_ptr(png));
    if (qsizetype(length) > self->bytes->size() - self->at)
        png_error(png, "cut short");
    std::memcpy(data, self->bytes->constData() + self->at, length);
    self->at += qsizetype(length);
}

bool toRgba8(png_structp png, png_infop info, bool* alpha) {
    const int colorType = png_get_color_type(png, info);
    *alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // Palette to RGB, grey below 8 bits to 8, a transparent colour to an alpha channel.
    png_set_expand(png);
    // Rounded, as the toolkit turns 16-bit pixels into 8-bit ones; cutting off the low byte would darken.
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!*alpha)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t(png_get_image_width(png, info)) * 4;
}

QImage decode(const QByteArray& bytes, Failure* failure, bool deep) {
    if (failure)
        *failure = Failure::broken;
    if (!recognizes(bytes))
        return {};
    Work work;
    work.deep = deep;
    {
        Session session(bytes);
        if (!session.ok() || !run(session.png, session.info, &work)) {
            if (failure)
                *failure = work.failure;
            return {};
        }
    }
    work.rows = {};
    QImage& image = work.image;
    // In place where the toolkit can, so that the picture is never held twice.
    if (image.format() == QImage::Format_RGBX8888) {
        image.convertTo(QImage::Format_RGB32);
    } else if (image.format() == QImage::Format_RGBA8888) {
        image.convertTo(QImage::Format_ARGB32);
    }
    if (image.isNull()) {
        if (failure)
            *failure = Failure::tooLarge;
        return {};
    }
    if (work.space.isValid())
        image.setColorSpace(work.space);
    if (failure)
        *failure = Failure::none;
    return image;
}

} // namespace PngReader
