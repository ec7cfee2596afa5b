// Loading pictures: PNGs of every kind read as libpng reads them, EXIF orientations turned exactly once, PDFs
// rendered, and broken files refused.

#include "PictureFiles.h"
#include "imaging/ImageCodec.h"
#include "imaging/ImageConvert.h"
#include "imaging/IsolatedDecode.h"
#include "platform/FileNames.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>

#include <gtest/gtest.h>
#include <png.h>

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace PictureFiles;

namespace {

constexpr int block = 16;

enum Corner { TL, TR, BR, BL };

// Where the stored top-left pixel shows and which ways its row and column run, as the EXIF standard
// defines each orientation by the visual sides of the 0th row and 0th column.
struct Orientation {
    int tag;
    Corner red;
    QPoint along; // green: the stored block right of red
    QPoint down;  // blue: the stored block below red
};

const Orientation orientations[] = {
    {1, TL, {1, 0}, {0, 1}}, {2, TR, {-1, 0}, {0, 1}}, {3, BR, {-1, 0}, {0, -1}}, {4, BL, {1, 0}, {0, -1}},
    {5, TL, {0, 1}, {1, 0}}, {6, TR, {0, 1}, {-1, 0}}, {7, BR, {0, -1}, {-1, 0}}, {8, BL, {0, -1}, {1, 0}},
};

void expectUpright(const QImage& image, const Orientation& o, const char* container) {
    SCOPED_TRACE(testing::Message() << container << " orientation " << o.tag);
    const QImage stored = markers(3, 2, block);
    const QSize want = o.tag >= 5 ? stored.size().transposed() : stored.size();
    ASSERT_EQ(image.size(), want);
    const int w = image.width(), h = image.height(), c = block / 2;
    const QPoint corner[] = {{c, c}, {w - c, c}, {w - c, h - c}, {c, h - c}};
    const QPoint red = corner[o.red];
    EXPECT_TRUE(near(image.pixelColor(red), Qt::red));
    EXPECT_TRUE(near(image.pixelColor(red + o.along * block), Qt::green));
    EXPECT_TRUE(near(image.pixelColor(red + o.down * block), Qt::blue));
}

// TIFF keeps its orientation in its own header; Qt's writer sets it from a transformation.
QByteArray tiffWithOrientation(const QImage& image, int tag) {
    const QImageIOHandler::Transformations byTag[] = {
        QImageIOHandler::TransformationNone,      QImageIOHandler::TransformationNone,
        QImageIOHandler::TransformationMirror,    QImageIOHandler::TransformationRotate180,
        QImageIOHandler::TransformationFlip,      QImageIOHandler::TransformationFlipAndRotate90,
        QImageIOHandler::TransformationRotate90,  QImageIOHandler::TransformationMirrorAndRotate90,
        QImageIOHandler::TransformationRotate270,
    };
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setTransformation(byTag[tag]);
    writer.write(image);
    return bytes;
}

} // namespace

TEST(ImageLoad, AppliesEveryExifOrientationOnceInJpegPngAndTiff) {
    Folder folder;
    const QImage stored = markers(3, 2, block);
    const QByteArray jpeg = encoded(stored, "jpeg", 95);
    const QByteArray png = encoded(stored, "png");
    for (const Orientation& o : orientations) {
        const QUrl j = folder.write(QStringLiteral("o%1.jpg").arg(o.tag), jpegWithOrientation(jpeg, o.tag));
        expectUpright(ImageConvert::load(j), o, "jpeg");
        const QUrl p = folder.write(QStringLiteral("o%1.png").arg(o.tag), pngWithOrientation(png, o.tag));
        expectUpright(ImageConvert::load(p), o, "png");
        const QUrl t = folder.write(QStringLiteral("o%1.tiff").arg(o.tag), tiffWithOrientation(stored, o.tag));
        expectUpright(ImageConvert::load(t), o, "tiff");
        // The thumbnail path decodes differently (scaled JPEG) but must turn the same way.
        const QImage thumb = ImageConvert::thumbnail(j, 480);
        EXPECT_EQ(thumb.size(), o.tag >= 5 ? stored.size().transposed() : stored.size()) << o.tag;
    }
}

// Every way a PNG is read (loading, the basket's thumbnail, the decoding child's claimed reader) gives libpng's
// own pixels within the rounding of 16-bit samples to 8 bits; a 16-bit transparent colour is matched on both bytes
// of each sample. The colour chunks stay the label the toolkit's reader gave them.
TEST(ImageLoad, PngsOfEveryKindGiveLibpngsOwnPixels) {
    std::vector<LibpngForm> forms = everyLibpngForm();
    for (const char* chunk : {"gAMA", "sRGB", "iCCP"})
        forms.push_back({PNG_COLOR_TYPE_RGB, 8, false, false, false, chunk});
    for (const LibpngForm& form : forms) {
        SCOPED_TRACE(nameOf(form));
        const QByteArray png = libpngFile(form);
        EXPECT_EQ(ImageCodec::decode(png).colorSpace(), QImage::fromData(png, "PNG").colorSpace());
        for (const QImage& image : {ImageCodec::decode(png), ImageCodec::decodeAs(png, ImageFormat::png),
                                    ImageCodec::decodeThumbnail(png, 480)}) {
            EXPECT_EQ(image.hasAlphaChannel(), (form.colorType & PNG_COLOR_MASK_ALPHA) || form.transparentColour);
            EXPECT_EQ(differencesFromLibpng(image, png, form.depth == 16 ? 1 : 0), 0);
        }
    }
}

TEST(ImageLoad, HeicIsTurnedByItsOwnBoxesAndNotAgainByExif) {
    Folder folder;
    for (const Orientation& o : orientations) {
        const QUrl url = folder.write(QStringLiteral("o%1.heic").arg(o.tag), heic(markers(3, 2, block), o.tag, true));
        expectUpright(ImageConvert::load(url), o, "heic");
    }
}

TEST(ImageLoad, ReadsByContentWhateverTheExtension) {
    Folder folder;
    const QUrl url = folder.write(QStringLiteral("really a png.jpg"), markers(3, 2, block));
    EXPECT_EQ(ImageConvert::load(url).size(), QSize(48, 32));
    // But only as one of our formats: a drawing is never parsed, whatever its name.
    const QUrl drawing = folder.write(QStringLiteral("drawing.png"),
                                      QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'/>"));
    EXPECT_TRUE(errorOf([&] { ImageConvert::load(drawing); }).startsWith(QStringLiteral("Can't")));
    // GIF and BMP are ours: the basket lists them among recent pictures and shows their thumbnails.
    const QUrl gif = folder.write(QStringLiteral("anim.gif"),
                                  QByteArray::fromHex("47494638396102000200800000ff000000ff0021f90400000000002c000000"
                                                      "00020002000002028451003b"));
    EXPECT_EQ(ImageConvert::thumbnail(gif, 480).size(), QSize(2, 2));
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    QImage(6, 4, QImage::Format_RGB32).save(&buffer, "BMP");
    EXPECT_EQ(ImageConvert::load(folder.write(QStringLiteral("old.bmp"), bmp)).size(), QSize(6, 4));
}

TEST(ImageLoad, RendersTheFirstPdfPageAtTwiceItsSize) {
    Folder folder;
    const QUrl url = folder.write(QStringLiteral("doc.pdf"), pdf({QSizeF(100, 50), QSizeF(300, 300), QSizeF(10, 10)}));
    const QImage page = ImageConvert::load(url);
    ASSERT_EQ(page.size(), QSize(200, 100));
    EXPECT_TRUE(near(page.pixelColor(100, 50), Qt::red));
    const QImage thumb = ImageConvert::thumbnail(url, 64);
    EXPECT_EQ(thumb.size(), QSize(64, 32));
}

TEST(ImageLoad, BrokenFilesGiveAnErrorAndStayUntouched) {
    const QImage picture = markers(8, 6, block);
    const QByteArray png = encoded(picture, "png");
    const QByteArray jpeg = encoded(picture, "jpeg", 90);
    const QByteArray webp = encoded(picture, "webp", 90);
    const QByteArray tiff = encoded(picture, "tiff");
    const QByteArray heif = heic(picture);
    const QByteArray doc = pdf({QSizeF(200, 200)});
    const auto half = [](const QByteArray& b) { return b.left(b.size() / 2); };
    // A red GIF of 64 × 48 pixels, and a BMP of 4 × 2 whose rows are run-length coded.
    const QByteArray gif = QByteArray::fromHex(
        "47494638396140003000f00000ff000000000021f90400000000002c0000000040003000000239848fa9cbed0fa39cb4da8bb3debcfb0f"
        "86e24896e689a6eacab6ee0bc7f24cd7f68de7facef7fe0f0c0a87c4a2f1884c2a97cca6f3098d260b003b");
    const QByteArray rleBmp = QByteArray::fromHex(
        "424d48000000000000003e00000028000000040000000200000001000800010000000a000000130b0000130b00000200000000000000"
        "0000ff00ffffff0004000000040100000001");
    // A byte of the compressed rows changed: its chunk's checksum no longer holds.
    QByteArray damaged = png;
    damaged[damaged.indexOf("IDAT") + 12] ^= 0x55;
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* message;
    };
    const Case cases[] = {
        {"empty.png", {}, "Can't read empty.png"},
        {"empty.pdf", {}, "Can't read empty.pdf"},
        {"cut.png", half(png), "Can't read cut.png"},
        {"noend.png", png.left(png.size() - 12), "Can't read noend.png"},
        {"damaged.png", damaged, "Can't read damaged.png"},
        {"cut.jpg", half(jpeg), "Can't read cut.jpg"},
        {"cut.webp", half(webp), "Can't read cut.webp"},
        {"cut.tiff", half(tiff), "Can't read cut.tiff"},
        {"cut.heic", half(heif), "Can't read cut.heic"},
        // Their readers show what they got of a cut-off file, the rest left black, and call it a success.
        {"cut.gif", half(gif), "Can't read cut.gif"},
        {"cut.bmp", half(encoded(picture, "bmp")), "Can't read cut.bmp"},
        {"cut-rle.bmp", rleBmp.chopped(6), "Can't read cut-rle.bmp"},
        {"cut.pdf", half(doc), "Can't read cut.pdf"},
        {"text.png", "just some words, not a picture", "Can't read text.png"},
        {"photo.pdf", jpeg, "Can't read photo.pdf"},
        {"huge.png", pngClaiming(100000, 100000), "Can't read huge.png"},
        {"wide.png", pngClaiming(0x7fffffff, 1), "Can't read wide.png"},
        {"nopages.pdf", pdfWithoutPages(), "Can't read nopages.pdf"},
        {"locked.pdf", encryptedPdf(), "Can't read locked.pdf"},
    };
    Folder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromUtf8(c.name);
        const QUrl url = folder.write(name, c.bytes);
        try {
            ImageConvert::load(url);
            ADD_FAILURE() << "loaded";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message, QString::fromUtf8(c.message));
        }
        EXPECT_TRUE(ImageConvert::thumbnail(url, 480).isNull());
        EXPECT_THROW(ImageConvert::convert(url, ImageFormat::png, 0.9), ConvertError);
        EXPECT_EQ(folder.read(name), c.bytes);
    }
    EXPECT_EQ(folder.names().size(), qsizetype(std::size(cases)));
}

TEST(ImageLoad, MissingFileOrFolderOrAPipe) {
    Folder folder;
    // Pipes are never opened: reading one would wait for a writer for good.
    for (const char* pipe : {"pipe.png", "pipe.pdf"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(folder.path(QString::fromLatin1(pipe))).constData(), 0600), 0);
    // Two links that lead to each other: no file is gone, and none can be reached.
    for (const char* loop : {"loop.png", "loop.pdf"})
        ASSERT_TRUE(
            QFile::link(QString::fromLatin1(loop) + QStringLiteral(".b"), folder.path(QString::fromLatin1(loop))) &&
            QFile::link(QString::fromLatin1(loop), folder.path(QString::fromLatin1(loop) + QStringLiteral(".b"))));
    const struct {
        QUrl url;
        const char* why; // after the name; empty: nothing more is said
    } cases[] = {
        {folder.url(QStringLiteral("gone.png")), ""},
        {QUrl::fromLocalFile(folder.root() + QStringLiteral("/no such folder/a.png")), ""},
        {folder.url(QStringLiteral("pipe.png")), ""},
        {folder.url(QStringLiteral("pipe.pdf")), ""},
        {folder.url(QStringLiteral("loop.png")), ": it is a link that leads nowhere"},
        {folder.url(QStringLiteral("loop.pdf")), ": it is a link that leads nowhere"},
    };
    for (const auto& c : cases) {
        try {
            ImageConvert::load(c.url);
            ADD_FAILURE() << "loaded " << c.url.toString().toStdString();
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message.toStdString(), "Can't read " + c.url.fileName().toStdString() + c.why);
        }
        EXPECT_EQ(ImageConvert::fileSize(c.url), 0);
    }
}

TEST(ImageLoad, ANameThatIsNotUtf8OpensThroughALinkOfAReadableName) {
    Folder folder;
    const QString here = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.root())); // names given relative to it are made whole first
    ASSERT_TRUE(std::filesystem::create_directory("d\xE9j\xE0"));
    const QByteArray png = encoded(markers(4, 3, 16), "png");
    const struct {
        QByteArray path;
        const char* shown;
        bool linked;
    } cases[] = {
        {"caf\xE9.png", "caf\u00E9.png", true},      // Latin-1
        {"caf\xC3\xA9.png", "caf\u00E9.png", false}, // UTF-8 needs no link
        {"d\xE9j\xE0/pic.png", "pic.png", true},     // the folder's name alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        std::ofstream(c.path.constData(), std::ios::binary) << png.toStdString();
        const QString path = FileNames::openable(c.path);
        EXPECT_EQ(QFileInfo(path).fileName(), QString::fromUtf8(c.shown));
        EXPECT_EQ(QFileInfo(path).isSymLink(), c.linked);
        EXPECT_EQ(ImageConvert::load(QUrl::fromLocalFile(path)).size(), QSize(64, 48));
    }
    QDir::setCurrent(here);
    // Taken as text without the link, the name stands for another file: said as what it is, not as gone.
    IsolatedDecode::Job job;
    job.source = QFile::decodeName(QFile::encodeName(folder.root()) + "/caf\xE9.png");
    EXPECT_EQ(IsolatedDecode::run(job).failure, QStringLiteral("its name is not UTF-8 text"));
    std::filesystem::remove_all(QFile::encodeName(folder.root()).toStdString()); // the toolkit cannot
}
