#pragma once
// Reading and writing picture bytes for ImageConvert, ShotFiles and Cropper: one place that knows which codec
// handles which format and how much memory a picture may take.

#include "imaging/ImageFormat.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <functional>

namespace ImageCodec {

// The whole file, read once so every later step sees the same bytes even if the file changes meanwhile.
// Nothing (and false) when the file can't be read or is too large to be a picture we could decode.
bool readFile(const QString& path, QByteArray* bytes);

// Enough of a file's start to tell what it is and, for nearly every picture, the size its header claims.
constexpr qsizetype headLength = 64 * 1024;

// The first `length` bytes of a regular file (all of it when shorter), read without blocking, and the file's size.
// False when it is no regular file or can't be read.
bool readHead(const QString& path, qsizetype length, QByteArray* head, qint64* size = nullptr);

// Whether a file starting with these bytes is one the reader of `format` would read (never for PDF).
bool startsAs(const QByteArray& head, ImageFormat format);

// Whether one of the readers decode() chooses from knows a file starting with these bytes.
bool recognizes(const QByteArray& head);

// Whether a decoded picture of this size stays within the decoding budget (QImageReader::allocationLimit),
// so that a header claiming 100000 × 100000 pixels is refused before anything is allocated.
bool fitsBudget(QSize size);

// The decoding budget in bytes (QImageReader::allocationLimit); no limit when that is 0.
qint64 budgetBytes();

// How many bits a channel decoded pixels keep: 8, or as many as the file holds where that is more (a 16-bit
// PNG or TIFF), in the 64-bit formats.
enum class Depth { eight, kept };

// How see-through pixels come out: premultiplied, as painting wants them, or as the file stores them (straight
// where it stores straight alpha, as nearly all do). A picture that goes on into another file keeps them as
// stored: at 8 bits premultiplying drops levels of a half-clear colour, which in a very wide colour space is a
// visible change.
enum class Alpha { premultiplied, asStored };

// Decodes the first picture of a file by its content (not its name) and turns it upright by its EXIF
// orientation. HEIC/HEIF files come out upright from their own rotation boxes and are not turned again.
// Null when the bytes are not a complete picture. The result is RGB32, or ARGB32_Premultiplied with alpha;
// with Depth::kept a deeper picture is RGBX64, or RGBA64_Premultiplied with alpha. The file's colour profile
// is the picture's colour space. With Alpha::asStored, ARGB32 or RGBA64 where the file's alpha is straight.
QImage decode(const QByteArray& bytes, Depth depth = Depth::eight, Alpha alpha = Alpha::premultiplied);

// Why decodeAs() gave nothing: a broken file or one of another format; a picture over the decoding budget or
// whose memory ran out; no decoder for the format on this machine (HeifCodec::unavailable() says why).
enum class Refusal { unreadable, tooLarge, noCodec };

// Like decode(), but only with the reader of the format the file claims to be (never one chosen by content, so a
// file named .png that holds something else is refused). On failure *why says what stopped it.
QImage decodeAs(const QByteArray& bytes, ImageFormat format, Refusal* why = nullptr, Depth depth = Depth::eight,
                Alpha alpha = Alpha::premultiplied);

// Like decode(), but at most maxPixels on the longer side (never enlarged); JPEG is decoded scaled down and a
// PNG reduced row by row, so neither is held at full size.
QImage decodeThumbnail(const QByteArray& bytes, int maxPixels);

// The size a picture's header claims (before any EXIF turn), HEIC included; invalid when unknown.
QSize pictureSize(const QByteArray& bytes);

// About how many pixels decodeThumbnail() holds at once for these bytes: the whole picture, but much less for
// a PNG or JPEG, which are read reduced. 0 when the size is unknown.
qint64 thumbnailDecodePixels(const QByteArray& bytes, int maxPixels);

// How many pictures the file holds: the pages of a TIFF, the frames of an animated PNG, WebP or GIF. 1 for a
// single picture and whenever the count can't be told; decode() gives the first of them.
int frameCount(const QByteArray& bytes);

// Whether the file's pictures are frames of an animation (PNG, WebP, GIF) rather than pages (TIFF).
bool isAnimation(const QByteArray& bytes);

// The picture with the colour space, resolution and texts of `from`: what a turned or mirrored copy must keep.
QImage withDescriptionOf(QImage image, const QImage& from);

// Turns a picture by an EXIF orientation (1 to 8), its colour space and the rest of its description kept;
// anything else gives it unchanged.
QImage upright(QImage image, int orientation);

// Pixels in the formats loading hands out: ARGB32_Premultiplied when there is alpha, else RGB32 (with
// Depth::kept, a picture of more than 8 bits a channel RGBA64_Premultiplied or RGBX64); with Alpha::asStored, a
// picture with straight alpha ARGB32 or RGBA64 instead. A picture handed over as the only holder of its pixels is
// converted in place, without a second copy.
QImage normalized(QImage image, Depth depth = Depth::eight, Alpha alpha = Alpha::premultiplied);

// Whether the picture has more than 8 bits a channel.
bool isDeep(const QImage& image);

// Whether the file stores more than 8 bits a channel (a 16-bit PNG or TIFF, a 10-bit HEIC), as its header says:
// what a deep reading of it must keep, whatever the reading gave.
bool storesDeep(const QByteArray& bytes);

// Whether this machine can encode the format now (always false for PDF, which is not a picture codec).
bool canEncode(ImageFormat format);

// The file bytes of the picture in the format; quality 0 to 1 for lossy codecs. Empty on failure.
QByteArray encode(const QImage& image, ImageFormat format, double quality);

// Tests only: encode() hands its work to this while it is set (unset: the codecs themselves), so that a test can
// stand in a writer that spoils what it writes.
using Encoder = std::function<QByteArray(const QImage& image, ImageFormat format, double quality)>;
void setEncoderForTests(Encoder encoder);

} // namespace ImageCodec
