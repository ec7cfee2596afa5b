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

// Whether two colours are within tol on every channel.
bool near(QColor a, QColor b, int tol = 40);

} // namespace PictureFiles
