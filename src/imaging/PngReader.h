#pragma once
// PNG files read with libpng itself, in every colour type and bit depth, a transparent colour included: the
// toolkit's own reader gets some of them wrong (a 16-bit RGB picture with a transparent colour comes out as
// stripes of noise), and a picture read wrong is one we would go on to convert and replace.

#include <QByteArray>
#include <QImage>

struct png_struct_def;
struct png_info_def;

namespace PngReader {

// Whether the bytes start with the PNG signature.
bool recognizes(const QByteArray& bytes);

enum class Failure { none, broken, tooLarge };

// The whole picture at 8 bits a channel, as libpng decodes it (no gamma correction; 16-bit channels rounded):
// RGB32, or ARGB32 (straight) when the file has an alpha channel or a transparent colour. With `deep`, a
// 16-bit file keeps its 16 bits, as RGBX64 or RGBA64 (straight). The file's ICC profile, sRGB or gamma chunk
// becomes the picture's colour space, as a label only. Null when the file is broken or cut short (broken), or
// when the picture is over the decoding budget or its memory can't be had (tooLarge).
QImage decode(const QByteArray& bytes, Failure* failure = nullptr, bool deep = false);

// libpng reading from bytes in memory, for this folder's readers that go row by row. An error jumps back to
// the setjmp(png_jmpbuf(png)) of the caller, which must have no destructors to skip; warnings are dropped.
class Session {
public:
    explicit Session(const QByteArray& bytes);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const { return png && info; }

    png_struct_def* png = nullptr;
    png_info_def* info = nullptr;

private:
    const QByteArray* bytes;
    qsizetype at = 0;
    static void readBytes(png_struct_def* png, unsigned char* data, size_t length);
};

// After png_read_info: has libpng hand out every row as 8-bit R, G, B, A bytes (A 255 where the file has no
// alpha), interlaced files included; then updates the info. Whether the picture has alpha; false also when
// libpng would not give 4 bytes a pixel.
bool toRgba8(png_struct_def* png, png_info_def* info, bool* alpha);

} // namespace PngReader
