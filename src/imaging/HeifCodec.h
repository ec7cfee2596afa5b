#pragma once
// HEIC reading and writing through libheif (HEVC through its built-in x265 and libde265).

#include <QByteArray>
#include <QImage>

namespace HeifCodec {

// Whether the bytes start like a HEIF file libheif can decode (HEIC, and AVIF where libheif has a decoder).
bool recognizes(const QByteArray& bytes);

// The primary picture, turned by the file's own rotation and mirror boxes (libheif applies them, so the
// EXIF orientation inside must not be applied again). Null when undecodable or over the decoding budget. With
// `deep`, a picture of more than 8 bits a channel comes as RGBX64 or RGBA64 (not premultiplied); otherwise RGB888
// or RGBA8888. A grey ICC profile is not applied here (the picture has no colour space then): see iccProfile().
QImage decode(const QByteArray& bytes, bool deep = false);

// Whether the primary picture has more than 8 bits a channel (a phone's 10-bit HDR picture).
bool isDeep(const QByteArray& bytes);

// The primary picture's ICC profile; empty when it has none (colour parameters or nothing).
QByteArray iccProfile(const QByteArray& bytes);

// Whether the primary picture is stored as grey values alone.
bool isGrey(const QByteArray& bytes);

// The primary picture's size as decoded (after its rotation boxes), from the file's boxes alone; invalid when
// the bytes are not a readable HEIF file.
QSize size(const QByteArray& bytes);

// How many pictures of its own the file holds (a burst or a collection holds several); 1 when it can't tell.
int pictures(const QByteArray& bytes);

// Why the primary picture's colours can't be told exactly by the colour space decode() gives it (an HDR
// transfer, primaries or a profile the toolkit can't describe) in words for the user ("its colours are HDR
// (PQ), …"); empty when they can, or when the file gives no colour description (sRGB).
QString colourUnheld(const QByteArray& bytes);

// Empty when the codec is at hand; otherwise why HEIC pictures can't be read, naming the missing module, in
// words that follow "Can't open <name>: ". Loads the module.
QString unavailable();

bool canEncode();

// One HEVC-coded picture, alpha kept; quality 0 to 1. Empty on failure.
QByteArray encode(const QImage& image, double quality);

} // namespace HeifCodec
