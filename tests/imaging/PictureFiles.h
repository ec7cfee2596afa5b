#pragma once
// Picture files made by the tests themselves: good ones in every format, ones with EXIF orientations, and
// broken ones.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

namespace PictureFiles {

// Solid colour blocks of `block` pixels: the top-left block red, the one right of it green, the one below it
// blue, all others grey; a lossy codec keeps the middle of each block recognisable.
QImage markers(int columns, int rows, int block);

// Smooth colour with grain, as in a photo: a JPEG of it is far smaller than a PNG.
QImage noise(int w, int h);

// Left half opaque red, right half fully transparent.
QImage halfTransparent(int w, int h);

QByteArray encoded(const QImage& image, const char* qtFormat, int quality = -1);
QByteArray heic(const QImage& image, int orientation = 1, bool exifToo = false);
// A PDF whose pages have the given sizes in points, each filled with its own colour.
QByteArray pdf(const QList<QSizeF>& pages);
QByteArray pdfWithoutPages();
QByteArray encryptedPdf();
// A PNG whose header claims a picture of the given size, with a tiny body.
QByteArray pngClaiming(quint32 w, quint32 h);

// Opaque in the middle, its edges fading out with alpha from 254 to 1: no pixel fully clear.
QImage softShadow(int w, int h);

// A 21 × 13 PNG of random samples written by libpng itself in any colour type (PNG_COLOR_TYPE_*) and legal depth.
// With a transparent colour (tRNS), a third of the pixels have it and a third differ from it in their last byte
// only; a palette gets alphas for all entries but its last. A background (bKGD) is a label a decoder must not paint
// in. colourChunk adds "gAMA", "sRGB" or "iCCP" (an sRGB profile).
struct LibpngForm {
    int colorType, depth;
    bool interlaced = false, transparentColour = false, background = false;
    QByteArray colourChunk;
};
QByteArray libpngFile(const LibpngForm& form);
// Every colour type in every depth, interlaced or not, with a transparent colour (where the type has no alpha)
// and without, with a background and without.
std::vector<LibpngForm> everyLibpngForm();
std::string nameOf(const LibpngForm& form);
// How many pixels differ by more than `tolerance` in a channel from libpng's decode of the PNG rounded to 8 bits
// and premultiplied (the first few reported as failures); -1 when the sizes differ.
int differencesFromLibpng(const QImage& image, const QByteArray& png, int tolerance = 0);

// The bytes with an EXIF block holding only the orientation tag, in the container's own place for it.
QByteArray jpegWithOrientation(const QByteArray& jpeg, int orientation);
QByteArray pngWithOrientation(const QByteArray& png, int orientation);

// A folder in the test's temporary home, removed afterwards.
class Folder {
public:
    Folder();
    QString path(const QString& name) const;
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }
    QUrl write(const QString& name, const QByteArray& bytes) const;
    QUrl write(const QString& name, const QImage& image) const; // as PNG
    QStringList names() const;                                  // sorted
    QByteArray read(const QString& name) const;
    QString root() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

// The message of the ConvertError the operation throws, or "(no error)".
QString errorOf(const std::function<void()>& op);

// How far apart two sRGB colours look: CIE76, the distance in L*a*b* (D65).
double deltaE(QColor a, QColor b);

// Whether two colours are within tol on every channel.
bool near(QColor a, QColor b, int tol = 40);

} // namespace PictureFiles
