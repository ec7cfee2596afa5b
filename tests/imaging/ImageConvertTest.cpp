// Converting, compressing and resizing: the new file, its name, what lands in the Trash, and the refusals.

#include "imaging/ImageConvert.h"
#include "PictureFiles.h"
#include "imaging/ImageCodec.h"
#include "platform/Trash.h"
#include "support/ManyPictures.h"
#include "support/NoRoomToWrite.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace PictureFiles;

namespace {

QStringList trashed() {
    QStringList names = QDir(Trash::homeTrash() + QStringLiteral("/files")).entryList(QDir::Files);
    names.sort();
    return names;
}

// The pixel as it is shown: turned from the picture's colour space into sRGB, what lies outside it clipped.
QColor shown(const QImage& image, QPoint at) {
    const QColorSpace srgb(QColorSpace::SRgb);
    QColor pixel = image.pixelColor(at);
    if (image.colorSpace().isValid() && image.colorSpace() != srgb)
        pixel = image.colorSpace().transformationToColorSpace(srgb).map(pixel);
    const auto clip = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
    return QColor::fromRgbF(clip(pixel.redF()), clip(pixel.greenF()), clip(pixel.blueF()));
}

// Four flat blocks of 32 pixels (a green, a red, a blue, a grey) and a fifth half clear, in the colour space and
// at 16 bits a channel (values no 8-bit picture holds) or 8.
QImage swatches(const QColorSpace& space, bool deep, bool clear = false) {
    QImage image(160, 32, deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    const QRgba64 colours[] = {
        QRgba64::fromRgba64(0x0811, 0xc807, 0x0503, 0xffff), QRgba64::fromRgba64(0xe523, 0x0101, 0x0305, 0xffff),
        QRgba64::fromRgba64(0x2a31, 0x3c17, 0xbe4d, 0xffff), QRgba64::fromRgba64(0x7f13, 0x8021, 0x7e45, 0xffff),
        QRgba64::fromRgba64(0x3011, 0x9a07, 0xd503, clear ? 0x8123 : 0xffff)};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 160; ++x) {
            // A slope of one step a pixel, so that the low bits of a deep picture differ from pixel to pixel.
            const QRgba64 c = colours[x / 32];
            image.setPixelColor(x, y, QColor::fromRgba64(c.red() + x + y, c.green(), c.blue() + y, c.alpha()));
        }
    if (space.isValid())
        image.setColorSpace(space);
    return image;
}

class ImageConvertTest : public testing::Test {
protected:
    void SetUp() override { QDir(Trash::homeTrash()).removeRecursively(); }
    Folder folder;
};

} // namespace

// Transparency is white in a JPEG and kept in every other picture.
TEST_F(ImageConvertTest, EveryWritableFormatRoundTripsWithItsTransparency) {
    const QList<ImageFormat> formats = ImageFormat::available();
    ASSERT_TRUE(formats.contains(ImageFormat::png));
    ASSERT_TRUE(formats.contains(ImageFormat::jpeg));
    ASSERT_EQ(formats.last(), ImageFormat::pdf);
    for (ImageFormat format : formats) {
        SCOPED_TRACE(format.title().toStdString());
        // Odd sizes: the HEVC encoder works on even ones and must pad and crop.
        const QUrl source = folder.write(QStringLiteral("shot.png"), markers(4, 3, 16).copy(0, 0, 63, 47));
        const QUrl result = ImageConvert::convert(source, format, 0.9).url;
        EXPECT_EQ(result.fileName(), QStringLiteral("shot.") + format.ext());
        const QImage back = ImageConvert::load(result);
        const int scale = format == ImageFormat::pdf ? 2 : 1;
        ASSERT_EQ(back.size(), QSize(63, 47) * scale);
        EXPECT_TRUE(near(back.pixelColor(8 * scale, 8 * scale), Qt::red));
        EXPECT_TRUE(near(back.pixelColor(24 * scale, 8 * scale), Qt::green));
        QFile::remove(result.toLocalFile());
        if (format == ImageFormat::pdf)
            continue;
        const QImage clear = ImageConvert::load(
            ImageConvert::convert(folder.write(QStringLiteral("clear.png"), halfTransparent(64, 32)), format, 0.9).url);
        EXPECT_TRUE(near(clear.pixelColor(16, 16), Qt::red));
        const QColor right = clear.pixelColor(48, 16);
        if (format == ImageFormat::jpeg)
            EXPECT_TRUE(near(right, Qt::white)) << right.name().toStdString();
        else
            EXPECT_EQ(right.alpha(), 0) << right.name(QColor::HexArgb).toStdString();
    }
}

// What takes the source's place looks as the source did, whatever colour space its pixels are in: the file carries
// the profile or pixels turned into sRGB. A 16-bit source keeps its 16 bits where the target holds them.
TEST_F(ImageConvertTest, EveryTargetLooksAsItsSourceDidAndKeepsTheDepthItHolds) {
    const QColorSpace adobe(QColorSpace::AdobeRgb), p3(QColorSpace::DisplayP3), none;
    const struct {
        const char* name;
        QByteArray bytes;
    } sources[] = {
        {"adobe.jpg", encoded(swatches(adobe, false), "jpeg", 95)},
        {"adobe.png", encoded(swatches(adobe, false), "png")},
        {"p3.webp", encoded(swatches(p3, false), "webp", 100)},
        {"deep.png", encoded(swatches(none, true, true), "png")},
        {"deep-p3.tiff", encoded(swatches(p3, true), "tiff")},
        {"deep-adobe.png", encoded(swatches(adobe, true, true), "png")},
    };
    const QFile::Permissions ordinaryMode = QFile::permissions(folder.write(QStringLiteral("mode"), "").toLocalFile());
    QFile::remove(folder.path(QStringLiteral("mode")));
    qsizetype replaced = 0;
    for (const ImageFormat target : ImageFormat::available()) {
        for (const auto& source : sources) {
            SCOPED_TRACE(std::string(source.name) + " to " + target.title().toStdString());
            const QImage before = ImageCodec::decode(source.bytes, ImageCodec::Depth::kept);
            ASSERT_FALSE(before.isNull());
            const auto done = ImageConvert::convert(folder.write(QString::fromLatin1(source.name), source.bytes),
                                                    target, 0.9);
            const QUrl url = done.url;
            // A PDF page is drawn in sRGB: the swatches' greens and reds of a wider space don't fit it.
            const bool wideToPdf = target == ImageFormat::pdf && before.colorSpace().isValid();
            if (wideToPdf)
                EXPECT_EQ(done.trashFailure, QStringLiteral("kept %1: its colours reach past sRGB, which is all a PDF "
                                                            "made here holds")
                                                 .arg(QString::fromLatin1(source.name)));
            QByteArray written;
            ASSERT_TRUE(ImageCodec::readFile(url.toLocalFile(), &written));
            EXPECT_EQ(QFile::permissions(url.toLocalFile()), ordinaryMode) << "made as any new file is";
            const QImage after = target == ImageFormat::pdf ? ImageConvert::load(url)
                                                            : ImageCodec::decode(written, ImageCodec::Depth::kept);
            const int scale = target == ImageFormat::pdf ? 2 : 1;
            ASSERT_EQ(after.size(), before.size() * scale);
            for (int block = 0; block < 4; ++block) {
                const QPoint middle(block * 32 + 16, 16);
                const QColor a = shown(before, middle), b = shown(after, middle * scale);
                EXPECT_LT(deltaE(a, b), 2.0)
                    << "block " << block << ": " << a.name().toStdString() << " shown as " << b.name().toStdString();
            }
            const bool holdsDeep = target == ImageFormat::png || target == ImageFormat::tiff;
            if (ImageCodec::isDeep(before) && (holdsDeep || target == ImageFormat::heic) &&
                !ImageCodec::isDeep(after)) {
                ADD_FAILURE() << "cut to 8 bits";
            } else if (ImageCodec::isDeep(before) && holdsDeep) {
                int differ = 0;
                for (int y = 0; y < before.height(); ++y)
                    for (int x = 0; x < before.width(); ++x)
                        differ += before.pixelColor(x, y).rgba64() != after.pixelColor(x, y).rgba64();
                EXPECT_EQ(differ, 0);
            }
            QFile::remove(url.toLocalFile());
            if (wideToPdf)
                QFile::remove(folder.path(QString::fromLatin1(source.name)));
            else
                ++replaced;
        }
    }
    EXPECT_EQ(trashed().size(), replaced);
}

// A converted picture takes its original's place, so it must hold the original's true pixels: for a PNG of any
// kind, what libpng decodes (a TIFF keeps every pixel). Only a write that reads back replaces the original, and
// every colour at every alpha does read back through the lossless writers.
TEST_F(ImageConvertTest, APngOfAnyKindConvertsToItsOwnPixels) {
    int n = 0;
    for (const LibpngForm& form : everyLibpngForm()) {
        SCOPED_TRACE(nameOf(form));
        const QByteArray png = libpngFile(form);
        const QUrl done =
            ImageConvert::convert(folder.write(QStringLiteral("%1.png").arg(++n), png), ImageFormat::tiff, 0.9).url;
        EXPECT_EQ(differencesFromLibpng(ImageConvert::load(done), png, form.depth == 16 ? 1 : 0), 0);
    }
    QImage every(256, 256, QImage::Format_ARGB32);
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c)
            every.setPixel(c, a, qRgba(c, 255 - c, c * 7 & 255, a));
    QUrl url = folder.write(QStringLiteral("every.png"), every);
    for (const ImageFormat format : {ImageFormat::tiff, ImageFormat::png})
        EXPECT_EQ(errorOf([&] { url = ImageConvert::convert(url, format, 0.9).url; }), QStringLiteral("(no error)"));

    // A HEIC wider than our reader takes under this budget: the original stays and nothing new is left.
    const int budget = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(16);
    const QUrl wide = folder.write(QStringLiteral("wide.png"), noise(2100, 16));
    EXPECT_EQ(errorOf([&] { ImageConvert::convert(wide, ImageFormat::heic, 0.9); }),
              QStringLiteral("Couldn't write wide.heic"));
    // Half-clear colours in a very wide colour space, too many to blend at 16 bits under this budget: resized at 8,
    // they lose levels, so the original stays beside its smaller copy.
    QImage halfClear(1500, 1500, QImage::Format_ARGB32);
    halfClear.fill(qRgba(19, 34, 42, 137));
    halfClear.setColorSpace(QColorSpace(QColorSpace::ProPhotoRgb));
    const QUrl large = folder.write(QStringLiteral("large.png"), halfClear);
    EXPECT_EQ(ImageConvert::resize(large, 750).trashFailure,
              QStringLiteral("kept large.png: it is too large to resize its half-clear colours without losing levels"));
    QImageReader::setAllocationLimit(budget);
    EXPECT_TRUE(QFileInfo::exists(wide.toLocalFile()));
    EXPECT_TRUE(QFileInfo::exists(large.toLocalFile()));
    EXPECT_EQ(trashed().size(), n + 2); // every original converted, and not the wide one
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral("wide.heic"))));
}

TEST_F(ImageConvertTest, ReplacePutsTheSourceInTheTrashAndTakesItsName) {
    struct Case {
        QStringList existing;
        ImageFormat format;
        QString result;
        QStringList after;
    };
    const Case cases[] = {
        {{"photo.png"}, ImageFormat::png, "photo.png", {"photo.png"}},
        {{"photo.png"}, ImageFormat::jpeg, "photo.jpg", {"photo.jpg"}},
        {{"photo.png", "photo.jpg"}, ImageFormat::jpeg, "photo 2.jpg", {"photo 2.jpg", "photo.jpg"}},
        {{"photo.png", "photo.tiff"}, ImageFormat::png, "photo.png", {"photo.png", "photo.tiff"}},
    };
    for (const Case& c : cases) {
        Folder here;
        QDir(Trash::homeTrash()).removeRecursively();
        for (const QString& name : c.existing)
            here.write(name, markers(2, 2, 8));
        const QByteArray original = here.read(QStringLiteral("photo.png"));
        const ImageConvert::Replaced r = ImageConvert::convert(here.url(QStringLiteral("photo.png")), c.format, 0.9);
        EXPECT_EQ(r.url.fileName(), c.result);
        EXPECT_TRUE(r.trashFailure.isEmpty());
        EXPECT_EQ(here.names(), c.after);
        ASSERT_EQ(trashed(), QStringList{QStringLiteral("photo.png")});
        QFile kept(Trash::homeTrash() + QStringLiteral("/files/photo.png"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), original);
    }
}

TEST_F(ImageConvertTest, AFailedMoveToTheTrashKeepsBothFilesAndSaysSo) {
    // A plain file where the Trash folder should be makes every move to it fail.
    QDir(Trash::homeTrash()).removeRecursively();
    QFile blocker(Trash::homeTrash());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QUrl source = folder.write(QStringLiteral("photo.png"), noise(64, 48));
    const ImageConvert::Replaced png = ImageConvert::convert(source, ImageFormat::png, 0.9);
    EXPECT_EQ(png.url.fileName(), QStringLiteral("photo 2.png"));
    EXPECT_TRUE(png.trashFailure.startsWith(QStringLiteral("Couldn't move photo.png to the Trash")))
        << png.trashFailure.toStdString();
    const ImageConvert::Compressed small = ImageConvert::compress(source);
    EXPECT_EQ(small.url.fileName(), QStringLiteral("photo small.jpg"));
    EXPECT_FALSE(small.trashFailure.isEmpty());
    EXPECT_EQ(folder.names(), (QStringList{"photo 2.png", "photo small.jpg", "photo.png"}));
    QFile::remove(Trash::homeTrash());
}

TEST_F(ImageConvertTest, CompressKeepsTheLongerSideAtExactly1800) {
    struct Case {
        QSize in, out;
    };
    const Case cases[] = {
        {{3600, 1200}, {1800, 600}}, {{1800, 1000}, {1800, 1000}}, {{4001, 3}, {1800, 1}},
        {{2700, 7}, {1800, 4}},      {{7, 5999}, {2, 1800}},       {{1801, 1801}, {1800, 1800}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in.width() << "x" << c.in.height());
        const QImage picture = noise(c.in.width(), c.in.height());
        const QUrl source = folder.write(QStringLiteral("big.png"), picture);
        const qint64 before = ImageConvert::fileSize(source);
        const ImageConvert::Compressed r = ImageConvert::compress(source);
        EXPECT_EQ(r.url.fileName(), QStringLiteral("big.jpg"));
        EXPECT_EQ(ImageConvert::load(r.url).size(), c.out);
        EXPECT_EQ(r.bytesBefore, before);
        QFile::remove(r.url.toLocalFile());
    }
}

TEST_F(ImageConvertTest, CompressKeepsWhatAJpegWouldSpoilAndAPdfOfSeveralPagesStays) {
    // A cut-out would lose its transparency; a flat picture stored losslessly would only grow.
    const struct {
        const char* name;
        QByteArray bytes;
        const QString& reason;
    } kept[] = {
        {"cut.png", encoded(halfTransparent(200, 100), "png"), ImageConvert::keptTransparent},
        // No pixel fully clear, and yet a JPEG would lose the shadow's fade.
        {"shadow.png", encoded(softShadow(400, 300), "png"), ImageConvert::keptTransparent},
        {"flat.webp", encoded(markers(40, 30, 32), "webp", 100), ImageConvert::keptNotSmaller},
    };
    for (const auto& c : kept) {
        SCOPED_TRACE(c.name);
        const QUrl source = folder.write(QString::fromLatin1(c.name), c.bytes);
        try {
            ImageConvert::compress(source);
            ADD_FAILURE() << "compressed";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.message, c.reason);
        }
        EXPECT_EQ(folder.names(), QStringList{QString::fromLatin1(c.name)});
        EXPECT_EQ(folder.read(QString::fromLatin1(c.name)), c.bytes);
        QFile::remove(source.toLocalFile());
    }
    EXPECT_EQ(trashed(), QStringList());

    const QUrl paged = folder.write(QStringLiteral("report.pdf"), pdf({{200, 100}, {200, 100}}));
    const ImageConvert::Replaced png = ImageConvert::convert(paged, ImageFormat::png, 0.9);
    EXPECT_EQ(png.trashFailure, QStringLiteral("only page 1 of 2 was converted, so report.pdf was kept"));
    EXPECT_EQ(folder.names(), (QStringList{"report.pdf", "report.png"}));
    const QUrl single = folder.write(QStringLiteral("single.pdf"), pdf({{200, 100}}));
    // One page is still more than a picture of it: its text, and pictures finer than the drawing.
    EXPECT_EQ(ImageConvert::convert(single, ImageFormat::png, 0.9).trashFailure,
              QStringLiteral("kept single.pdf: it is a PDF, and the new picture draws its page at one size"));
    EXPECT_EQ(trashed(), QStringList());
    EXPECT_TRUE(QFileInfo::exists(single.toLocalFile()));
}

TEST_F(ImageConvertTest, ASourceOfSeveralPagesOrFramesStaysAndTheNoteSaysTheNewFileHoldsItsFirst) {
    const QList<QImage> three = {markers(4, 3, 16), markers(4, 3, 16).mirrored(true, false),
                                 markers(4, 3, 16).mirrored(false, true)};
    const struct {
        const char* name;
        QByteArray bytes;
        ImageFormat target;
        const char* first;
    } cases[] = {
        {"scan.tif", ManyPictures::file(three.mid(0, 2), "tiff"), ImageFormat::jpeg, "page 1 of 2"},
        {"moving.webp", ManyPictures::file(three, "webp"), ImageFormat::png, "frame 1 of 3"},
        {"anim.png", ManyPictures::png(three.first(), 3), ImageFormat::pdf, "frame 1 of 3"},
        {"burst.heic", ManyPictures::file(three.mid(0, 2), "heic"), ImageFormat::png, "frame 1 of 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QUrl source = folder.write(QString::fromLatin1(c.name), c.bytes);
        const ImageConvert::Replaced done = ImageConvert::convert(source, c.target, 0.9);
        EXPECT_EQ(done.trashFailure, QStringLiteral("only %1 was converted, so %2 was kept").arg(c.first, c.name));
        EXPECT_EQ(folder.read(QString::fromLatin1(c.name)), c.bytes);
        const QImage first = ImageConvert::load(done.url);
        EXPECT_TRUE(near(first.pixelColor(first.width() / 8, first.height() / 6), Qt::red)) << "the first picture";
    }
    const QUrl scan =
        folder.write(QStringLiteral("big.tiff"), ManyPictures::file({noise(900, 600), noise(900, 600)}, "tiff"));
    EXPECT_EQ(ImageConvert::compress(scan).trashFailure,
              QStringLiteral("only page 1 of 2 was compressed, so big.tiff was kept"));
    EXPECT_EQ(ImageConvert::resize(scan, 300).trashFailure,
              QStringLiteral("only page 1 of 2 was resized, so big.tiff was kept"));
    EXPECT_EQ(trashed(), QStringList());
    // A container that could hold more but holds one picture takes the source's place as before.
    const QUrl still = folder.write(QStringLiteral("still.webp"), ManyPictures::file({markers(4, 3, 16)}, "webp"));
    EXPECT_EQ(ImageConvert::convert(still, ImageFormat::png, 0.9).trashFailure, QString());
    EXPECT_EQ(trashed(), QStringList{QStringLiteral("still.webp")});
}

TEST_F(ImageConvertTest, AWriterThatSpoilsThePictureIsCaughtBeforeTheSourceMoves) {
    const struct {
        ImageFormat format;
        ImageCodec::Encoder writer;
    } cases[] = {
        // One pixel off by one in a lossless file; a lossy one of the wrong size, or cut short.
        {ImageFormat::png,
         [](const QImage& image, ImageFormat, double) {
             QImage spoiled = image;
             spoiled.setPixel(33, 21, image.pixel(33, 21) ^ 1);
             return encoded(spoiled, "png");
         }},
        {ImageFormat::jpeg,
         [](const QImage& image, ImageFormat, double) { return encoded(image.copy(0, 0, 40, 40), "jpeg", 90); }},
        {ImageFormat::webp,
         [](const QImage& image, ImageFormat, double) { return encoded(image, "webp", 90).chopped(200); }},
    };
    const QByteArray before = encoded(noise(90, 60), "bmp");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.title().toStdString());
        ImageCodec::setEncoderForTests(c.writer);
        const QUrl source = folder.write(QStringLiteral("shot.bmp"), before);
        EXPECT_EQ(errorOf([&] { ImageConvert::convert(source, c.format, 0.9); }),
                  QStringLiteral("Couldn't write shot.") + c.format.ext());
        EXPECT_EQ(folder.names(), QStringList{QStringLiteral("shot.bmp")}) << "nothing half-written is left";
        EXPECT_EQ(folder.read(QStringLiteral("shot.bmp")), before);
    }
    ImageCodec::setEncoderForTests({});
    EXPECT_EQ(trashed(), QStringList());
}

TEST_F(ImageConvertTest, CompressingAJpegTakesItsPlace) {
    const QUrl source = folder.write(QStringLiteral("photo.jpg"), encoded(noise(300, 200), "jpeg", 100));
    const ImageConvert::Compressed r = ImageConvert::compress(source);
    EXPECT_EQ(r.url.fileName(), QStringLiteral("photo.jpg"));
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("photo.jpg")});
    EXPECT_EQ(trashed(), QStringList{QStringLiteral("photo.jpg")});
    EXPECT_LT(r.bytesAfter, r.bytesBefore);
}

TEST_F(ImageConvertTest, ResizeRefusals) {
    const QUrl png = folder.write(QStringLiteral("a.png"), markers(3, 2, 16));
    const QUrl gif = folder.write(QStringLiteral("a.gif"), markers(3, 2, 16));
    const QUrl doc = folder.url(QStringLiteral("missing.pdf"));
    struct Case {
        std::function<void()> op;
        const char* message;
    };
    const Case cases[] = {
        {[&] { ImageConvert::resize(doc, 10, 10); }, "Resize works on images, not PDFs"},
        {[&] { ImageConvert::resize(gif, 10, 10); }, "Resize works on images, not PDFs"},
        {[&] { ImageConvert::resize(png, 0, 10); }, "Too small"},
        {[&] { ImageConvert::resize(png, 48, 32); }, "Already 48 × 32"},
        {[&] { ImageConvert::resize(png, 100); }, "Already 48 px wide"},
        {[&] { ImageConvert::resize(png, 0); }, "Already 48 px wide"},
        {[&] { ImageConvert::resize(png, 100000, 100000); }, "Can't resize"},
        {[&] { ImageConvert::resize(folder.url(QStringLiteral("gone.png")), 5, 5); }, "Can't read gone.png"},
        {[&] { ImageConvert::writeBeside(markers(1, 1, 2), png, ImageFormat::pdf, 0.9); },
         "This computer can't write PDF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(errorOf(c.op), QString::fromUtf8(c.message));
    EXPECT_EQ(folder.names(), (QStringList{"a.gif", "a.png"}));
    EXPECT_TRUE(trashed().isEmpty());
}

TEST_F(ImageConvertTest, ResizeWritesTheFormatsOwnExtension) {
    folder.write(QStringLiteral("photo.jpeg"), encoded(markers(3, 2, 16), "jpeg"));
    const ImageConvert::Resized r = ImageConvert::resize(folder.url(QStringLiteral("photo.jpeg")), 24);
    EXPECT_EQ(r.url.fileName(), QStringLiteral("photo.jpg"));
    EXPECT_EQ(QSize(r.width, r.height), QSize(24, 16));
    EXPECT_EQ(ImageConvert::load(r.url).size(), QSize(24, 16));

    QImage line(3000, 1, QImage::Format_RGB32);
    line.fill(Qt::black);
    const QUrl thin = folder.write(QStringLiteral("line.png"), line);
    const ImageConvert::Resized t = ImageConvert::resize(thin, 1000);
    EXPECT_EQ(QSize(t.width, t.height), QSize(1000, 1));

    // A 16-bit picture in another colour space stays so.
    const QUrl deep = folder.write(QStringLiteral("deep.png"), encoded(swatches(QColorSpace::AdobeRgb, true), "png"));
    QByteArray bytes;
    ASSERT_TRUE(ImageCodec::readFile(ImageConvert::resize(deep, 80).url.toLocalFile(), &bytes));
    const QImage half = ImageCodec::decode(bytes, ImageCodec::Depth::kept);
    EXPECT_EQ(half.size(), QSize(80, 16));
    EXPECT_TRUE(ImageCodec::isDeep(half));
    EXPECT_EQ(half.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
}

// Files past what is read in the program (here: a picture followed by a long hole) are reduced in the decoding
// child, and the same picture comes back; what their start refuses is never read on.
TEST_F(ImageConvertTest, ThumbnailsFitWithoutEnlarging) {
    const qint64 large = ImageConvert::thumbnailReadHereLimit + 1;
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 size; // 0: as long as its bytes
        QSize thumbnail;
    } cases[] = {
        {"big.jpg", encoded(markers(60, 40, 20), "jpeg"), 0, {480, 320}},
        {"small.png", encoded(markers(3, 2, 16), "png"), 0, {48, 32}},
        {"padded.png", encoded(markers(60, 40, 20), "png"), large, {480, 320}},
        {"padded.jpg", encoded(markers(40, 60, 20), "jpeg"), large, {320, 480}},
        {"claims.png", pngClaiming(30000, 30000), large, {}},
        {"zeros.png", QByteArray(16, '\0'), large, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QUrl url = folder.write(QString::fromLatin1(c.name), c.bytes);
        if (c.size)
            ASSERT_TRUE(QFile::resize(url.toLocalFile(), c.size));
        const QImage thumbnail = ImageConvert::thumbnail(url, 480);
        EXPECT_EQ(thumbnail.isNull() ? QSize() : thumbnail.size(), c.thumbnail);
        if (!thumbnail.isNull())
            EXPECT_TRUE(near(thumbnail.pixelColor(4, 4), Qt::red));
    }
}

TEST_F(ImageConvertTest, ASourceGoneBeforeTheReplaceKeepsTheNewFile) {
    const QUrl source = folder.write(QStringLiteral("photo.png"), markers(2, 2, 8));
    const QUrl fresh = folder.write(QStringLiteral("photo 2.png"), markers(2, 2, 8));
    QFile::remove(source.toLocalFile());
    const ImageConvert::Replaced r = ImageConvert::replace(source, fresh);
    EXPECT_EQ(r.url, fresh);
    EXPECT_FALSE(r.trashFailure.isEmpty());
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("photo 2.png")});
}

TEST_F(ImageConvertTest, AReadOnlyFolderRefusesTheNewFileAndKeepsTheSource) {
    const QUrl source = folder.write(QStringLiteral("photo.png"), markers(2, 2, 8));
    const QByteArray original = folder.read(QStringLiteral("photo.png"));
    QFile::setPermissions(folder.root(), QFile::ReadOwner | QFile::ExeOwner);
    {
        // The folder's mode does not bind root; no room to write binds everyone.
        const NoRoomToWrite full;
        EXPECT_EQ(errorOf([&] { ImageConvert::convert(source, ImageFormat::jpeg, 0.9); }),
                  QStringLiteral("Couldn't write photo.jpg"));
        EXPECT_EQ(errorOf([&] { ImageConvert::convert(source, ImageFormat::pdf, 0.9); }),
                  QStringLiteral("Can't write PDF"));
        EXPECT_EQ(errorOf([&] { ImageConvert::compress(source); }), QStringLiteral("Couldn't write photo small.jpg"));
    }
    QFile::setPermissions(folder.root(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("photo.png")});
    EXPECT_EQ(folder.read(QStringLiteral("photo.png")), original);
}
