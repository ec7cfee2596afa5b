#include "imaging/HeifCodec.h"

#include "imaging/ImageCodec.h"

#include <QColorSpace>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace HeifCodec {

namespace {

void initOnce() {
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(done);
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct EncoderFree {
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;
using Encoder = std::unique_ptr<heif_encoder, EncoderFree>;

heif_error appendBytes(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The main picture of a file held in `bytes`, which the context reads in place and so must outlive.
Handle primaryHandle(const Context& ctx, const QByteArray& bytes) {
    heif_image_handle* raw = nullptr;
    if (!ctx ||
        heif_context_read_from_memory_without_copy(ctx.get(), bytes.constData(), size_t(bytes.size()), nullptr).code !=
            heif_error_Ok ||
        heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok)
        return Handle();
    return Handle(raw);
}

// The main picture of a file held in `bytes` with the context it lives in, both let go of together (the picture
// first); empty when libheif can't read the file.
struct Primary {
    Context ctx;
    Handle handle;
    explicit operator bool() const { return bool(handle); }
    const heif_image_handle* get() const { return handle.get(); }
};

Primary primaryOf(const QByteArray& bytes) {
    initOnce();
    Primary primary{Context(heif_context_alloc()), Handle()};
    primary.handle = primaryHandle(primary.ctx, bytes);
    return primary;
}

// The colour space the file's pixels are in: its ICC profile, or what its colour parameters name (primaries of
// sRGB, Display P3 or BT.2020 with the sRGB, linear or a gamma transfer). `unheld` says why none describes them
// exactly when that is so (an HDR transfer, other primaries, a profile the toolkit can't read); no description at
// all is sRGB.
struct Colours {
    QColorSpace space;
    QString unheld;
};

QByteArray profileOf(const heif_image_handle* handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return {};
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (size == 0 || heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        return {};
    return icc;
}

// Whether the picture is coded as grey values alone. libheif tells that only by decoding it in its own colour
// space, so this is asked only of a file whose profile speaks of grey.
bool storesGrey(const heif_image_handle* handle) {
    const int w = heif_image_handle_get_width(handle), h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0 || !ImageCodec::fitsBudget(QSize(std::max(w, h), std::max(w, h))))
        return false;
    heif_image* raw = nullptr;
    if (heif_decode_image(handle, &raw, heif_colorspace_undefined, heif_chroma_undefined, nullptr).code !=
        heif_error_Ok)
        return false;
    const Image image(raw);
    return heif_image_get_colorspace(image.get()) == heif_colorspace_monochrome;
}

bool deeper(const heif_image_handle* handle) {
    return heif_image_handle_get_luma_bits_per_pixel(handle) > 8 ||
           heif_image_handle_get_chroma_bits_per_pixel(handle) > 8;
}

Colours coloursOf(const heif_image_handle* handle) {
    Colours colours;
    if (const QByteArray icc = profileOf(handle); !icc.isEmpty()) {
        // A grey profile is applied to the grey values by the colour management the other readers share; on
        // colour pixels it describes none of them.
        if (icc.mid(16, 4) == "GRAY") {
            if (!storesGrey(handle))
                colours.unheld = QStringLiteral("its colour profile does not fit its pixels");
            return colours;
        }
        colours.space = QColorSpace::fromIccProfile(icc);
        if (!colours.space.isValid())
            colours.unheld = QStringLiteral("its colour profile is one this program can't apply");
        return colours;
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx)
        return colours;
    const int primaries = nclx->color_primaries;
    const int transfer = nclx->transfer_characteristics;
    heif_nclx_color_profile_free(nclx);

    // Transfers of SDR video (BT.709, BT.601, BT.2020) are shown as sRGB, as viewers show them.
    QColorSpace::TransferFunction curve = QColorSpace::TransferFunction::SRgb;
    float gamma = 0.0f;
    switch (transfer) {
    case 1:
    case 2:
    case 6:
    case 13:
    case 14:
    case 15:
        break;
    case 4:
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case 5:
        curve = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    case 8:
        curve = QColorSpace::TransferFunction::Linear;
        break;
    case 16:
        colours.unheld = QStringLiteral("its colours are HDR (PQ), which the new file can't hold");
        return colours;
    case 18:
        colours.unheld = QStringLiteral("its colours are HDR (HLG), which the new file can't hold");
        return colours;
    default:
        colours.unheld = QStringLiteral("its colours use a transfer (%1) this program can't apply").arg(transfer);
        return colours;
    }
    const QPointF white(0.3127, 0.3290);
    switch (primaries) {
    case 1:
    case 2:
        colours.space = QColorSpace(white, QPointF(0.64, 0.33), QPointF(0.30, 0.60), QPointF(0.15, 0.06), curve, gamma);
        break;
    case 9:
        colours.space =
            QColorSpace(white, QPointF(0.708, 0.292), QPointF(0.170, 0.797), QPointF(0.131, 0.046), curve, gamma);
        break;
    case 12:
        colours.space =
            QColorSpace(white, QPointF(0.680, 0.320), QPointF(0.265, 0.690), QPointF(0.150, 0.060), curve, gamma);
        break;
    default:
        colours.unheld = QStringLiteral("its colours use primaries (%1) this program can't apply").arg(primaries);
        return colours;
    }
    // The named spaces where they are the ones described: their files carry the profiles every viewer knows.
    if (colours.space == QColorSpace(QColorSpace::SRgb))
        colours.space = QColorSpace(QColorSpace::SRgb);
    else if (colours.space == QColorSpace(QColorSpace::DisplayP3))
        colours.space = QColorSpace(QColorSpace::DisplayP3);
    return colours;
}

} // namespace

bool recognizes(const QByteArray& bytes) {
    if (bytes.size() < 12)
        return false;
    initOnce();
    const int probe = int(std::min<qsizetype>(bytes.size(), 64));
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(bytes.constData()), probe) ==
           heif_filetype_yes_supported;
}

QImage decode(const QByteArray& bytes, bool deep) {
    const Primary handle = primaryOf(bytes);
    if (!handle)
        return {};
    const int w = heif_image_handle_get_width(handle.get());
    const int h = heif_image_handle_get_height(handle.get());
    // The size may be before or after a quarter turn: check the larger square so neither can slip through.
    const int side = std::max(w, h);
    if (w <= 0 || h <= 0 || !ImageCodec::fitsBudget(QSize(side, side)))
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    // More than 8 bits a channel come as 16-bit words, where the budget has room for them.
    const bool wide = deep && deeper(handle.get()) && qint64(side) * side * 8 <= ImageCodec::budgetBytes();
    const heif_chroma chroma = wide ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, nullptr).code != heif_error_Ok)
        return {};
    Image image(rawImage);
    const int outW = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int outH = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || outW <= 0 || outH <= 0)
        return {};
    QImage result;
    if (wide) {
        const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
        if (bits <= 8 || bits > 16)
            return {};
        result = QImage(outW, outH, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        if (result.isNull())
            return {};
        const quint32 top = (1u << bits) - 1;
        const int channels = alpha ? 4 : 3;
        for (int y = 0; y < outH; ++y) {
            const uint8_t* in = plane + size_t(y) * size_t(stride);
            auto* out = reinterpret_cast<QRgba64*>(result.scanLine(y));
            // Little-endian words of `bits` bits, stretched to the full 16.
            const auto at = [&](int x, int c) {
                const size_t i = (size_t(x) * size_t(channels) + size_t(c)) * 2;
                const quint32 v = std::min<quint32>(top, quint32(in[i]) | quint32(in[i + 1]) << 8);
                return quint16((v * 65535u + top / 2) / top);
            };
            for (int x = 0; x < outW; ++x)
                out[x] = QRgba64::fromRgba64(at(x, 0), at(x, 1), at(x, 2), alpha ? at(x, 3) : quint16(0xffff));
        }
    } else {
        result = QImage(outW, outH, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        if (result.isNull())
            return {};
        const size_t rowBytes = size_t(outW) * (alpha ? 4 : 3);
        for (int y = 0; y < outH; ++y)
            std::memcpy(result.scanLine(y), plane + size_t(y) * size_t(stride), rowBytes);
    }
    result.setColorSpace(coloursOf(handle.get()).space);
    return result;
}

bool isDeep(const QByteArray& bytes) {
    const Primary handle = primaryOf(bytes);
    return handle && deeper(handle.get());
}

QByteArray iccProfile(const QByteArray& bytes) {
    const Primary handle = primaryOf(bytes);
    return handle ? profileOf(handle.get()) : QByteArray();
}

bool isGrey(const QByteArray& bytes) {
    const Primary handle = primaryOf(bytes);
    return handle && storesGrey(handle.get());
}

QSize size(const QByteArray& bytes) {
    const Primary handle = primaryOf(bytes);
    if (!handle)
        return {};
    const int w = heif_image_handle_get_width(handle.get());
    const int h = heif_image_handle_get_height(handle.get());
    return w > 0 && h > 0 ? QSize(w, h) : QSize();
}

QString colourUnheld(const QByteArray& bytes) {
    const Primary handle = primaryOf(bytes);
    return handle ? coloursOf(handle.get()).unheld : QString();
}

int pictures(const QByteArray& bytes) {
    initOnce();
    Context ctx(heif_context_alloc());
    if (!ctx ||
        heif_context_read_from_memory_without_copy(ctx.get(), bytes.constData(), size_t(bytes.size()), nullptr).code !=
            heif_error_Ok)
        return 1;
    return std::max(1, heif_context_get_number_of_top_level_images(ctx.get()));
}

bool canEncode() {
    initOnce();
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

QByteArray encode(const QImage& source, double quality) {
    initOnce();
    if (source.isNull())
        return {};
    const bool alpha = source.hasAlphaChannel();
    // A deeper picture is written at 10 bits a channel, as phones write theirs.
    const bool deep = ImageCodec::isDeep(source);
    const QImage pixels = source.convertToFormat(deep    ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                                 : alpha ? QImage::Format_RGBA8888
                                                         : QImage::Format_RGB888);
    if (pixels.isNull())
        return {};
    Context ctx(heif_context_alloc());
    if (!ctx)
        return {};
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok)
        return {};
    Encoder encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), std::clamp(int(quality * 100.0 + 0.5), 0, 100));

    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* rawImage = nullptr;
    if (heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB, chroma, &rawImage).code !=
        heif_error_Ok)
        return {};
    Image image(rawImage);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, pixels.width(), pixels.height(), deep ? 10 : 8)
            .code != heif_error_Ok)
        return {};
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return {};
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < pixels.height(); ++y) {
        uint8_t* out = plane + size_t(y) * size_t(stride);
        if (!deep) {
            std::memcpy(out, pixels.constScanLine(y), size_t(pixels.width()) * size_t(channels));
            continue;
        }
        // Little-endian words of 10 bits, rounded from the 16.
        const auto* in = reinterpret_cast<const QRgba64*>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            const quint16 values[4] = {in[x].red(), in[x].green(), in[x].blue(), in[x].alpha()};
            for (int c = 0; c < channels; ++c) {
                const quint32 v = (quint32(values[c]) * 1023u + 32767u) / 65535u;
                const size_t at = (size_t(x) * size_t(channels) + size_t(c)) * 2;
                out[at] = uint8_t(v & 0xff), out[at + 1] = uint8_t(v >> 8);
            }
        }
    }

    // Pixels in another colour space than sRGB carry its profile.
    const QColorSpace space = source.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        const QByteArray icc = space.iccProfile();
        if (icc.isEmpty() ||
            heif_image_set_raw_color_profile(image.get(), "prof", icc.constData(), size_t(icc.size())).code !=
                heif_error_Ok)
            return {};
    }

    if (heif_context_encode_image(ctx.get(), image.get(), encoder.get(), nullptr, nullptr).code != heif_error_Ok)
        return {};
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = appendBytes;
    if (heif_context_write(ctx.get(), &writer, &bytes).code != heif_error_Ok)
        return {};
    return bytes;
}

} // namespace HeifCodec
