// Thumbnails of large PNG files reduced row by row: the same picture the full decode and smooth scaling
// would give, turned by its orientation, alpha kept, and broken files still refused.

#include "PictureFiles.h"
#include "imaging/ImageCodec.h"

#include <QImageWriter>
#include <QPainter>

#include <gtest/gtest.h>

using namespace PictureFiles;

namespace {

// Gradients with hard-edged blocks on top, so both smooth areas and edges are compared.
QImage busy(int w, int h, QImage::Format format) {
    QImage image(w, h, format);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(250, 20, 30));
    g.setColorAt(1, QColor(10, 90, 240));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 12; ++i)
        p.fillRect(i * w / 13, i * h / 14, w / 9, h / 10, QColor::fromHsv(i * 29, 200, 200, 255 - i * 20));
    // See-through where the format has alpha.
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, h * 3 / 4, w / 2, h / 4, QColor(0, 200, 0, 90));
    p.fillRect(w / 2, h * 3 / 4, w / 4, h / 4, Qt::transparent);
    return image;
}

// The average difference per channel from the full decode scaled smoothly to the same size (premultiplied
// values, as pixel() hands them out).
double differenceFromFullDecode(const QImage& thumb, const QByteArray& png) {
    QImage full;
    full.loadFromData(png, "PNG");
    // Scaled in 8-bit premultiplied: Qt's smooth scaling of 16-bit pixels with alpha gets alpha wrong.
    const QImage want = full.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                            .scaled(thumb.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(thumb.format());
    double total = 0;
    for (int y = 0; y < thumb.height(); ++y)
        for (int x = 0; x < thumb.width(); ++x) {
            const QRgb a = thumb.pixel(x, y), b = want.pixel(x, y);
            total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) +
                     std::abs(qAlpha(a) - qAlpha(b));
        }
    return total / (4.0 * thumb.width() * thumb.height());
}

} // namespace

TEST(PngThumbnail, LargePngReducedLikeTheFullDecodeAtItsShape) {
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_Grayscale8,
                                        QImage::Format_RGBA64, QImage::Format_Indexed8}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        QImage source = busy(2000, 900, QImage::Format_ARGB32);
        source = format == QImage::Format_Indexed8 ? source.convertToFormat(format, Qt::ThresholdDither)
                                                   : source.convertToFormat(format);
        const QByteArray png = encoded(source, "png");
        const QImage thumb = ImageCodec::decodeThumbnail(png, 480);
        ASSERT_EQ(thumb.size(), QSize(480, 216));
        EXPECT_EQ(thumb.hasAlphaChannel(), source.hasAlphaChannel());
        EXPECT_LT(differenceFromFullDecode(thumb, png), 1.5);
    }
}

// Every 4 × 4 block of the file is one colour, so each thumbnail pixel has one right value: the first and last
// rows and columns are checked like the rest, where a reduction that is a row or a column off shows.
TEST(PngThumbnail, EachPixelIsItsBlockEdgesIncluded) {
    const auto colour = [](int x, int y) { return QColor((x * 7) % 256, (y * 11 + 40) % 256, (x + y) * 5 % 256); };
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        QImage source(1920, 864, format);
        QPainter p(&source);
        for (int y = 0; y < 216; ++y)
            for (int x = 0; x < 480; ++x) {
                QColor c = colour(x, y);
                if (format == QImage::Format_ARGB32)
                    c.setAlpha(255 - (x + y) % 3 * 40);
                p.setCompositionMode(QPainter::CompositionMode_Source);
                p.fillRect(x * 4, y * 4, 4, 4, c);
            }
        p.end();
        const QImage thumb = ImageCodec::decodeThumbnail(encoded(source, "png"), 480)
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(thumb.size(), QSize(480, 216));
        int wrong = 0;
        for (int y = 0; y < 216; ++y)
            for (int x = 0; x < 480; ++x) {
                QColor want = colour(x, y);
                if (format == QImage::Format_ARGB32)
                    want.setAlpha(255 - (x + y) % 3 * 40);
                const QColor got = QColor::fromRgba(qUnpremultiply(thumb.pixel(x, y)));
                if (!near(got, want, 3) && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << got.name(QColor::HexArgb).toStdString()
                                  << ", not " << want.name(QColor::HexArgb).toStdString();
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PngThumbnail, OrientationAndSixteenMegapixelsStillGiveAFittedThumbnail) {
    // Stored wide, shown tall: the top-left red block ends top right.
    const QImage stored = markers(3, 2, 400).convertToFormat(QImage::Format_RGB32);
    const QImage turned = ImageCodec::decodeThumbnail(pngWithOrientation(encoded(stored, "png"), 6), 480);
    ASSERT_EQ(turned.size(), QSize(320, 480));
    EXPECT_TRUE(near(turned.pixelColor(turned.width() - 40, 40), Qt::red));
    EXPECT_TRUE(near(turned.pixelColor(turned.width() - 40, 200), Qt::green));

    QImage huge(5000, 3400, QImage::Format_RGB32); // 17 MP
    huge.fill(QColor(20, 160, 90));
    const QImage thumb = ImageCodec::decodeThumbnail(encoded(huge, "png"), 480);
    ASSERT_EQ(thumb.size(), QSize(480, 326));
    EXPECT_TRUE(near(thumb.pixelColor(200, 150), QColor(20, 160, 90), 2));
}

TEST(PngThumbnail, BrokenOrSmallFilesGoThroughTheReader) {
    const QByteArray png = encoded(busy(1600, 1000, QImage::Format_RGB32), "png");
    EXPECT_TRUE(ImageCodec::decodeThumbnail(png.left(png.size() * 2 / 3), 480).isNull()) << "cut short";
    EXPECT_TRUE(ImageCodec::decodeThumbnail(png.left(png.size() - 12), 480).isNull()) << "end chunk missing";
    EXPECT_TRUE(ImageCodec::decodeThumbnail(pngClaiming(65535, 65535), 480).isNull());

    // Smaller than the thumbnail: never enlarged.
    const QImage small = ImageCodec::decodeThumbnail(encoded(busy(300, 200, QImage::Format_RGB32), "png"), 480);
    EXPECT_EQ(small.size(), QSize(300, 200));
}

TEST(PngThumbnail, HeaderSizesIncludeHeicAsShown) {
    // The basket keeps huge pictures from being decoded by this size, so HEIC must not come out unknown.
    const QImage stored = markers(3, 2, 16);
    EXPECT_EQ(ImageCodec::pictureSize(heic(stored)), QSize(48, 32));
    EXPECT_EQ(ImageCodec::pictureSize(heic(stored, 6)), QSize(32, 48));
    EXPECT_EQ(ImageCodec::pictureSize(pngClaiming(65535, 65535)), QSize(65535, 65535));
    EXPECT_FALSE(ImageCodec::pictureSize(heic(stored).left(40)).isValid());
}
