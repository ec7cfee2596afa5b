#pragma once
// What a picture file is, told from its bytes without decoding it: the colour profile it carries, how a TIFF
// lays out its pictures, how many colour components a JPEG holds. Every offset is checked against the data, so
// a hostile file can only make the answers come out empty.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace PictureKind {

// The ICC profile embedded in a JPEG (APP2 segments), PNG (iCCP), TIFF (its first directory) or WebP (ICCP);
// empty when there is none or it is damaged.
QByteArray iccProfile(const QByteArray& bytes);

// The colour space an ICC profile's header names ("RGB ", "GRAY", "CMYK", "Lab "…); empty for a damaged one.
QByteArray iccColourSpace(const QByteArray& icc);

// The first directory of a TIFF (and what it points to), as far as the choice of what to do with the file needs.
struct Tiff {
    bool valid = false;
    bool cameraRaw = false;      // a DNG, or a raw laid out like one
    bool reducedPreview = false; // the first picture is a smaller stand-in for the real one
    int photometric = -1;        // how its samples are to be read (RGB 2, CMYK 5, CIELab 8 …)
    int samples = 0;
    int bits = 0;
    bool planar = false;  // each channel stored apart
    int sampleFormat = 1; // unsigned integers 1, signed 2, floating point 3
    int extraSample = -1; // what the first extra sample is: unspecified 0, premultiplied alpha 1, straight alpha 2
    QSize size;
};
Tiff tiff(const QByteArray& bytes);

// The number of colour components of a baseline or progressive JPEG (1 grey, 3 colour, 4 CMYK or YCCK); 0 when the
// bytes are not a JPEG or hold no frame header.
int jpegComponents(const QByteArray& bytes);

// Whether the file stores one grey channel (with or without alpha): a JPEG of one component, a grey PNG, a grey
// TIFF. A grey profile describes only such pixels.
bool storesGrey(const QByteArray& bytes);

// Why the file must stay beside anything made of it, whatever its colours: a camera raw, or a TIFF whose first
// picture is only a preview of a larger one. Empty when its first picture is all of it. `name` is the file's name,
// for raw formats told apart by their extension only.
QString keptForItsKind(const QByteArray& bytes, const QString& name);

} // namespace PictureKind
