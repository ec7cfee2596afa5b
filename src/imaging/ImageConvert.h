#pragma once
// The picture operations shared by the card, the editors and the basket: load, convert, compress, resize,
// flatten, thumbnails, free names beside a file and putting a new version in the place of the old.
// Every operation is synchronous, keeps no state and may run on any thread; failures throw ConvertError
// with the text shown to the user, and leave the source file untouched.

#include "imaging/ImageFormat.h"
#include "imaging/UserError.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace ImageConvert {

// Where a new version of a picture ended up. `trashFailure` is empty when the previous file went to the
// Trash; otherwise both files were kept (it could not go, it holds several pages or frames of which the new
// picture holds the first, or the new picture shows less than it: a camera raw or a preview before the real
// picture, colours that could not be carried or turned exactly), and it says why in words for the user.
struct Replaced {
    QUrl url;
    QString trashFailure;
};

struct Compressed {
    QUrl url;
    qint64 bytesBefore = 0;
    qint64 bytesAfter = 0;
    QString trashFailure;
};

struct Resized {
    QUrl url;
    int width = 0;
    int height = 0;
    QString trashFailure;
};

// The first picture of the file, upright by its EXIF orientation; a PDF gives its first page rendered at twice
// its size in points (at most 3200 pixels on the longer side) by the decoding child, which blocks for up to
// its time limit. Any picture the decoders know loads, whatever its extension.
QImage load(const QUrl& url);

// Writes the picture in the format beside the source (a PDF as a one-page document), then replace()s the
// source with it; a source of several pages or frames (a PDF, a TIFF, an animation) stays, and the note says the
// new file holds its first. Every caller passes quality 0.9. The picture's colour profile goes with it (a PDF's
// page is turned into sRGB), and a PNG or TIFF keeps 16 bits a channel of a source that has them. What is written
// must read back (every pixel for PNG and TIFF, with its look) before the source moves. CMYK, Lab and grey colours
// are turned into sRGB; a source whose picture can't be shown exactly in the new file stays ("kept camera.dng: it
// is a camera raw").
Replaced convert(const QUrl& source, ImageFormat format, double quality);

// A JPEG at quality 0.68 whose longer side is at most 1800 pixels, put in the source's place. Refused, with the
// source left alone and nothing written, when the picture has transparency (keptTransparent) or the JPEG is not
// smaller than the source (keptNotSmaller).
Compressed compress(const QUrl& source);
extern const QString keptTransparent;
extern const QString keptNotSmaller;

// The picture at exactly width × height, in its own format with its colour profile and, for PNG and TIFF, its
// depth, put in the source's place (kept, as convert() keeps it, when it has several pages or frames).
Replaced resize(const QUrl& source, int width, int height);

// The picture at maxWidth pixels wide with its proportions kept; refused when it is not wider already.
Resized resize(const QUrl& source, int maxWidth);

// Redrawn at exactly width × height with smooth filtering (ARGB32_Premultiplied; RGBA64_Premultiplied for a
// picture of more than 8 bits a channel).
QImage scaled(const QImage& image, int width, int height);

// Drawn over opaque white: transparent areas become white (RGB32).
QImage flatten(const QImage& image);

// Writes the picture as a new file in the format (not PDF) beside the source, named uniqueURL(source,
// format.ext()), JPEG flattened onto white first. Throws "This computer can't write " + title when the machine
// has no writer, "Couldn't write " + file name when the file can't be written or does not read back. A picture
// handed over with std::move is let go of before the read-back, which then holds the only full copy. The file
// appears under its name only once it is whole.
QUrl writeBeside(QImage image, const QUrl& source, ImageFormat format, double quality);

// In the file's folder: its name without the last extension, with ext; while taken, " 2", " 3", … added
// to the name. Creates nothing.
QUrl uniqueURL(const QUrl& beside, const QString& ext);

// Moves the source to the Trash, then gives the new file the source's name with the new file's extension
// when that name is free. Never throws and never replaces a file. When the source cannot go to the Trash,
// both files stay as they are and the result says so.
Replaced replace(const QUrl& source, const QUrl& newFile);

// The file's picture, read at its depth, remade by `make` (turned, mirrored; it throws ConvertError when it can't)
// and written in the file's own format beside it at quality 0.9, then put in the file's place. The new file must
// read back with the colour space and depth the file itself decodes with, not merely with what `make` handed back.
// The file stays, with a note, when it holds several pages or frames, when it shows more than its first picture
// decoded shows (as convert() keeps it), or when it is deeper than this program writes its format (a 10-bit HEIC);
// `done` says what was made of it ("rotated"). A PDF or an unknown kind throws.
Replaced remake(const QUrl& source, const std::function<QImage(const QImage&)>& make, const QString& done);

// For the program's end: no conversion, compression or resize starts any more (they throw "The program is
// ending"), and this waits for those at work to finish, at most timeoutMs. Whether they all did.
bool finishAll(int timeoutMs);

// The notes of a batch's files (the trashFailure of each), for the batch's one message.
class Notes {
public:
    // An empty note (the source went to the Trash) adds nothing.
    void add(const QUrl& source, const QString& note);
    // Empty without notes; the note alone for one file; for several, the first note and the names of the other
    // files kept ("…, so a.tif was kept; also kept: b.webp, c.png"), past five of them only how many more.
    QString text() const;

private:
    QString first;
    QStringList others;
};

// The file's size in bytes; 0 when it can't be read.
qint64 fileSize(const QUrl& url);

// Files up to this size are read whole for a thumbnail in this process; a larger one is read and reduced in the
// decoding child, under its limits, and only the small picture comes back.
constexpr qint64 thumbnailReadHereLimit = qint64(32) << 20;

// A picture of at most maxPixels on its longer side made from the full picture, upright; for a PDF its first
// page drawn by the decoding child, shrunk to fit maxPixels × maxPixels. Null when the file can't be read.
// Blocks: for workers.
QImage thumbnail(const QUrl& url, int maxPixels);

} // namespace ImageConvert
