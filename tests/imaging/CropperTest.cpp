// Cropping by rectangle and lasso, and writing PNGs beside a file under a suffix.

#include "imaging/Cropper.h"
#include "PictureFiles.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

#include <gtest/gtest.h>

using namespace PictureFiles;

namespace {

// Each pixel's red and green channels are its own x and y, so a piece tells where it came from.
QImage coordinates(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x, y, 0));
    return image;
}

} // namespace

TEST(Cropper, RectanglesBecomePixelsFromTheTopLeft) {
    struct Case {
        QRectF normalized; // bottom-left origin, y up
        QRect pixels;      // top-left origin
    };
    const Case cases[] = {
        {{0, 0, 1, 1}, {0, 0, 100, 50}},
        {{0.2, 0.4, 0.001, 0.2}, {20, 20, 1, 10}},   // too narrow to round to a pixel: one wide
        {{0, 0.8, 0.5, 0.2}, {0, 0, 50, 10}},        // touching the top starts at row 0
        {{0, 0, 1, 0.2}, {0, 40, 100, 10}},          // touching the bottom ends at the last row
        {{0.9, 0, 0.5, 1}, {90, 0, 10, 50}},         // partly outside: only what lies on the picture
        {{-0.5, -0.5, 0.75, 0.75}, {0, 38, 25, 12}}, // 37.5 rounds away from zero
    };
    for (const Case& c : cases) {
        Folder folder;
        const QUrl source = folder.write(QStringLiteral("photo.png"), coordinates(100, 50));
        const QUrl out = Cropper::crop(source, c.normalized);
        EXPECT_EQ(out.fileName(), QStringLiteral("photo crop.png"));
        const QImage piece = ImageConvert::load(out);
        ASSERT_EQ(piece.size(), c.pixels.size()) << c.pixels.x() << "," << c.pixels.y();
        EXPECT_EQ(piece.pixel(0, 0), qRgb(c.pixels.x(), c.pixels.y(), 0));
        EXPECT_EQ(piece.pixel(piece.width() - 1, piece.height() - 1), qRgb(c.pixels.right(), c.pixels.bottom(), 0));
    }
}

TEST(Cropper, RectanglesOffThePictureFail) {
    Folder folder;
    const QUrl source = folder.write(QStringLiteral("photo.png"), coordinates(100, 50));
    const QRectF cases[] = {{1.5, 0, 0.2, 0.2}, {0, 1.1, 1, 1}, {-2, 0, 1, 1}, {qInf(), 0, 1, 1}, {0, 0, qQNaN(), 1}};
    for (const QRectF& r : cases)
        EXPECT_EQ(errorOf([&] { Cropper::crop(source, r); }), QStringLiteral("Couldn't crop"));
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("photo.png")});
}

TEST(Cropper, LassoKeepsTheInsideAndClearsTheRest) {
    struct Case {
        const char* what;
        QList<QPointF> points;
        QSize size;
        QList<QPointF> opaque;      // fractions of the result that keep the picture
        QList<QPointF> transparent; // and ones that are cleared
    };
    const Case cases[] = {
        {"triangle", {{0, 0}, {1, 0}, {0.5, 1}}, {100, 50}, {{0.5, 0.3}}, {{0.05, 0.1}, {0.95, 0.1}}},
        {"partly outside", {{-1, -1}, {0.5, -1}, {0.5, 0.5}, {-1, 0.5}}, {50, 25}, {{0.5, 0.5}}, {}},
        {"twice around",
         {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}, {0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}},
         {80, 40},
         {{0.5, 0.5}},
         {}},
        {"figure of eight", {{0, 0}, {1, 1}, {1, 0}, {0, 1}}, {100, 50}, {{0.1, 0.5}, {0.9, 0.5}}, {{0.5, 0.1}}},
        {"two points", {{0.1, 0.1}, {0.5, 0.9}}, {40, 40}, {}, {{0.5, 0.5}, {0.1, 0.1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        const QUrl source = folder.write(QStringLiteral("photo.png"), markers(10, 5, 10));
        const QImage piece = ImageConvert::load(Cropper::crop(source, c.points));
        ASSERT_EQ(piece.size(), c.size);
        const auto at = [&](QPointF f) {
            return piece.pixelColor(std::min(int(f.x() * piece.width()), piece.width() - 1),
                                    std::min(int(f.y() * piece.height()), piece.height() - 1));
        };
        for (QPointF f : c.opaque)
            EXPECT_EQ(at(f).alpha(), 255) << f.x() << "," << f.y();
        for (QPointF f : c.transparent)
            EXPECT_EQ(at(f).alpha(), 0) << f.x() << "," << f.y();
    }
}

TEST(Cropper, LassoTooSmall) {
    Folder folder;
    const QUrl source = folder.write(QStringLiteral("photo.png"), markers(10, 5, 10));
    const QList<QPointF> cases[] = {{}, {{0.5, 0.5}}, {{0.1, 0.1}, {0.105, 0.9}}, {{2, 2}, {3, 3}, {2, 3}}};
    for (const QList<QPointF>& points : cases)
        EXPECT_EQ(errorOf([&] { Cropper::crop(source, points); }), QStringLiteral("Selection too small"));
    EXPECT_EQ(errorOf([&] { Cropper::crop(folder.url(QStringLiteral("x.png")), QRectF(0, 0, 1, 1)); }),
              QStringLiteral("Can't read x.png"));
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("photo.png")});
}

TEST(ShotFiles, SavesBesideUnderTheNextFreeName) {
    struct Case {
        QString source;
        QStringList existing;
        QString result;
    };
    const Case cases[] = {
        {"photo.jpg", {}, "photo crop.png"},
        {"photo.jpg", {"photo crop.png", "photo crop 2.png", "photo crop 3.png"}, "photo crop 4.png"},
        {"photo crop.png", {}, "photo crop crop.png"},
        {"scan.tar.gz", {}, "scan.tar crop.png"},
        {"README", {}, "README crop.png"},
    };
    for (const Case& c : cases) {
        Folder folder;
        for (const QString& name : c.existing)
            folder.write(name, QByteArray("keep"));
        const QUrl out = ShotFiles::savePNG(markers(2, 2, 4), folder.url(c.source), QStringLiteral("crop"));
        EXPECT_EQ(out.fileName(), c.result);
        for (const QString& name : c.existing)
            EXPECT_EQ(folder.read(name), QByteArray("keep"));
    }
}

TEST(ShotFiles, WritesExactPixelsAndReplacesInPlace) {
    Folder folder;
    // Tall pictures are compressed in strips on several threads; every seam must decode exactly.
    QImage tall(517, 1031, QImage::Format_ARGB32);
    for (int y = 0; y < tall.height(); ++y)
        for (int x = 0; x < tall.width(); ++x)
            tall.setPixel(x, y, qRgba((x * 7 + y) & 255, (y * 3) & 255, (x ^ y) & 255, 255 - (y & 127)));
    QImage tallOpaque = tall.convertToFormat(QImage::Format_RGB32);
    const QImage cases[] = {halfTransparent(30, 20), tall, tallOpaque};
    for (const QImage& picture : cases) {
        const QUrl url = folder.url(QStringLiteral("shot.png"));
        ShotFiles::write(picture, url);
        // Read straight, not through loading, whose premultiplied pixels would round partial alpha.
        const QImage back = QImage::fromData(folder.read(QStringLiteral("shot.png")));
        ASSERT_EQ(back.size(), picture.size());
        EXPECT_EQ(back.hasAlphaChannel(), picture.hasAlphaChannel());
        EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32), picture.convertToFormat(QImage::Format_ARGB32));
    }
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("shot.png")});
}

TEST(ShotFiles, UnwritablePlacesFail) {
    Folder folder;
    const QUrl vanished = QUrl::fromLocalFile(folder.root() + QStringLiteral("/gone/shot.png"));
    EXPECT_EQ(errorOf([&] { ShotFiles::write(markers(2, 2, 4), vanished); }), QStringLiteral("Can't write PNG"));
    EXPECT_EQ(errorOf([&] { ShotFiles::savePNG(markers(2, 2, 4), vanished, QStringLiteral("crop")); }),
              QStringLiteral("Can't write PNG"));
    EXPECT_EQ(errorOf([&] { ShotFiles::write(QImage(), folder.url(QStringLiteral("null.png"))); }),
              QStringLiteral("Couldn't write null.png"));
    EXPECT_TRUE(folder.names().isEmpty());

    // A full disk says so, and leaves nothing of the new file: a 256 KB disk the source and a filler fill.
    const QString disk = folder.root() + QStringLiteral("/disk");
    QDir().mkpath(disk);
    if (std::system(qPrintable(QStringLiteral("mount -t tmpfs -o size=256k tmpfs '%1' 2>/dev/null").arg(disk))) != 0)
        GTEST_SKIP() << "no small disk can be mounted here to fill";
    const struct Unmount {
        QString at;
        ~Unmount() { std::system(qPrintable(QStringLiteral("umount '%1'").arg(at))); }
    } unmount{disk};
    const QString source = disk + QStringLiteral("/shot.bmp");
    ASSERT_TRUE(noise(160, 160).save(source));
    QFile filler(disk + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
    }
    filler.close();
    const QString full = QStringLiteral(": No space left on device");
    EXPECT_EQ(errorOf([&] { ShotFiles::savePNG(noise(160, 160), QUrl::fromLocalFile(source), "crop"); }),
              QStringLiteral("Couldn't write shot crop.png") + full);
    EXPECT_EQ(errorOf([&] { ShotFiles::write(noise(160, 160), QUrl::fromLocalFile(disk + "/shot.png")); }),
              QStringLiteral("Couldn't write shot.png") + full);
    EXPECT_EQ(errorOf([&] { ImageConvert::convert(QUrl::fromLocalFile(source), ImageFormat::png, 0.9); }),
              QStringLiteral("Couldn't write shot.png") + full);
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "shot.bmp"}));
}
