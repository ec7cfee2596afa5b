#pragma once
// Colours the toolkit's readers can't describe, turned into sRGB with lcms: CMYK (JPEG, TIFF) and CIELab (TIFF)
// pixels read with their own libraries, and pixels whose ICC profile describes grey, or colours in a way the
// toolkit's colour spaces don't hold. A picture that takes a file's place must show what the file showed, so
// whatever can't be turned exactly is said (unheld()) and the file stays.

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QString>

namespace ColourManage {

// The first picture of a CMYK JPEG or TIFF carrying its profile, or of a CIELab TIFF, in sRGB: ARGB32 (not
// premultiplied) or, when deep is asked for and the file has 16 bits a channel, RGBA64. Also, with the file's own
// values, a TIFF laid out in a way the toolkit's reader gets wrong: grey with alpha, 16-bit channels stored apart,
// 16-bit grey with 0 for white.
// Null when the bytes are none of these (the toolkit's reader reads them) or can't be read within the decoding
// budget.
QImage decode(const QByteArray& bytes, bool deep);

// Whether decode() is the only reader for these bytes: when it gives nothing, nobody else's reading of the file
// shows its colours, so the file is unreadable rather than read plainly.
bool readsItself(const QByteArray& bytes);

// The picture the toolkit read from these bytes, turned into sRGB through the file's ICC profile where the toolkit
// holds the file's values untouched for want of a colour space of its own: a grey profile, or one it can't parse.
// Otherwise the picture as it is.
QImage managed(QImage image, const QByteArray& bytes);

// Why the picture decoded from these bytes does not show the file's colours exactly, in words for the user ("its
// CMYK colours come without a colour profile"); empty when it does.
QString unheld(const QByteArray& bytes);

// Whether the colour space reaches past the primaries of BT.2020, the widest a screen is made for (ROMM and ProPhoto
// do): at 8 bits a channel, one level of it is a visible step. False when it can't be told (no matrix profile).
bool veryWide(const QColorSpace& space);

// Keeps libtiff's complaints, which every reader of TIFF in the process shares (the toolkit's among them), off the
// error output: its own printer writes a complaint in pieces, which cut into the lines other threads write, and
// a bad file is told to the user by what comes back, not by them. Set once at start; repeating it is harmless.
void quietTiff();

} // namespace ColourManage
