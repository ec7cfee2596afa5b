// The basket's actions in the real program on files that went bad after they were listed (damaged, deleted,
// turned into a pipe), with a clipboard that another program keeps, with a mail helper that gives up, and
// conversions that must keep their source: a transparent cut-out, a file that a JPEG would not shrink, a PDF
// of several pages. On the Recent tab a conversion's new tiles stay selected once the search comes back.

#include "BasketDriver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString clipboard(Basket& b) {
    return b.desktop.run(CLIPBOARD_PROBE_BIN, {"--formats"});
}

// A lossless WebP of a few dozen bytes that decodes to 16383 × 16383 pixels of one colour: no transforms, and
// five codes of one symbol each, so that no pixel takes a bit.
QByteArray hugeWebp() {
    QByteArray bits(9, '\0');
    int at = 0;
    const auto put = [&](quint32 value, int count) {
        for (int i = 0; i < count; ++i, ++at)
            if (value >> i & 1)
                bits[at / 8] = char(bits[at / 8] | 1 << at % 8);
    };
    put(16382, 14);
    put(16382, 14);
    put(0, 4); // no alpha, version 0
    put(0, 3); // no transform, no colour cache, no meta codes
    for (int code = 0; code < 5; ++code)
        put(0b0001, 4); // simple, one symbol, one bit long, symbol 0
    const QByteArray chunk = "\x2f" + bits;
    QByteArray sized(4, '\0');
    qToLittleEndian<quint32>(quint32(chunk.size()), sized.data());
    QByteArray riff = "WEBPVP8L" + sized + chunk;
    qToLittleEndian<quint32>(quint32(riff.size()), sized.data());
    return "RIFF" + sized + riff;
}

// About 12 megapixels of gradients under a little noise, as a photograph: seconds to encode as PNG.
QString largeJpeg(const QString& path) {
    QImage noise(4000, 3000, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = qRgb(x * 200 / 4000 + (state >> 28), y * 200 / 3000 + (state >> 24 & 15), (x + y) % 256);
        }
    }
    noise.save(path, "JPEG", 90);
    return path;
}

// A file of `size` bytes that holds only its start: the rest is a hole, which reads as zeros and takes no disk.
bool sparse(const QString& path, const QByteArray& head, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(head) == head.size() && file.resize(size);
}

// A PNG of `side` × `side` grey pixels, all black: a few hundred kilobytes that decode to hundreds of megabytes.
bool manyPixels(const QString& path, int side) {
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray sized(4, '\0'), crc(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), sized.data());
        const QByteArray body = type + data;
        quint32 sum = 0xffffffff;
        for (const char byte : body) {
            sum ^= quint8(byte);
            for (int bit = 0; bit < 8; ++bit)
                sum = sum >> 1 ^ (sum & 1 ? 0xedb88320 : 0);
        }
        qToBigEndian<quint32>(~sum, crc.data());
        return sized + body + crc;
    };
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(side), header.data());
    qToBigEndian<quint32>(quint32(side), header.data() + 4);
    header[8] = 8; // eight bits of grey
    // Each row: its filter byte and its pixels, all nought. qCompress puts the length before the zlib stream.
    const QByteArray rows = qCompress(QByteArray(qsizetype(side) * (side + 1), '\0'), 9).mid(4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write("\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", rows) + chunk("IEND", {})) > 0;
}

// A TIFF of 100 × 100 grey pixels whose directory stands at the end of a file of `size` bytes, as some writers
// put it: nothing short of the whole file tells what it is.
bool tailTiff(const QString& path, qint64 size) {
    QByteArray head("II*\0\0\0\0\0", 8), directory(2 + 8 * 12 + 4, '\0');
    qToLittleEndian<quint32>(quint32(size - directory.size()), head.data() + 4);
    const quint32 entries[][3] = {{256, 4, 100}, {257, 4, 100}, {258, 3, 8},   {259, 3, 1},
                                  {262, 3, 1},   {273, 4, 8},   {278, 4, 100}, {279, 4, 10000}};
    qToLittleEndian<quint16>(8, directory.data());
    for (int i = 0; i < 8; ++i) {
        char* entry = directory.data() + 2 + 12 * i;
        qToLittleEndian<quint16>(quint16(entries[i][0]), entry);
        qToLittleEndian<quint16>(quint16(entries[i][1]), entry + 2);
        qToLittleEndian<quint32>(1, entry + 4);
        qToLittleEndian<quint32>(entries[i][2], entry + 8);
    }
    QFile file(path);
    return sparse(path, head, size) && file.open(QIODevice::ReadWrite) && file.seek(size - directory.size()) &&
           file.write(directory) == directory.size();
}

} // namespace

// Files far larger than what they show: their tiles and copies read only as much as the decoder's limits let
// through, never on the thread that answers the user, and the program stays small. A copy whose picture is
// refused as too large is the file alone, and the basket says so.
TEST(BasketFiles, HugeFilesAreReadOnlyAsFarAsTheirPicturesAllowAndNeverStopTheProgram) {
#ifdef PICTOLARIUM_SANITIZED
    GTEST_SKIP() << "the memory checker's own memory would be counted";
#endif
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    const QString downloads = b.desktop.home() + "/Downloads/";
    QDir().mkpath(downloads);
    const qint64 megabytes1000 = qint64(1000) << 20;
    for (const char* name : {"scan1.tiff", "scan2.tiff"})
        ASSERT_TRUE(sparse(downloads + name, {}, megabytes1000));
    // Two whose directories lie at their ends and pixels at their starts: the decoding child reads those, not the
    // gigabyte between.
    for (const char* name : {"scan3.tiff", "scan4.tiff"})
        ASSERT_TRUE(tailTiff(downloads + name, megabytes1000));
    // A PNG whose header claims 30000 × 30000 pixels.
    const QByteArray poster = QByteArray::fromHex("89504e470d0a1a0a0000000d494844520000753000007530080200000000000000");
    ASSERT_TRUE(sparse(downloads + "poster.png", poster, megabytes1000));
    ASSERT_TRUE(sparse(downloads + "disk.png", {}, qint64(1) << 30));
    // And the other way round: a small file of 81 million pixels, which the decoder may read but a copy would
    // hold whole.
    ASSERT_TRUE(manyPixels(downloads + "wide.png", 9000));
    tilePicture(downloads + "small.png");
    ASSERT_TRUE(b.start());
    const auto stalls = [&](qsizetype mark) {
        return b.lines().mid(mark).filter(QStringLiteral("pictolarium: stall of")).join(u'\n').toStdString();
    };

    // The decoding children of the program, and the most they held together while the tiles were made.
    const auto decoders = [pid = b.desktop.app()->processId()] {
        QList<qint64> found;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile stat("/proc/" + entry + "/stat");
            const QList<QByteArray> fields =
                stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
            if (fields.size() > 3 && fields[1].startsWith("(pictolarium-dec") && fields[3].toLongLong() == pid)
                found.append(entry.toLongLong());
        }
        return found;
    };
    qint64 childrenKb = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        qint64 kb = 0;
        for (const qint64 child : decoders())
            kb += Desktop::memoryKb(child);
        childrenKb = std::max(childrenKb, kb);
    });
    sampler.start(20);
    qsizetype mark = b.mark();
    b.click(b.recentTab());
    const QString listed = b.newest(
        "recent: ", [](const QString& line) { return line.contains("disk.png") && line.contains("small.png"); }, 10000);
    for (const char* name : {"scan1.tiff", "scan2.tiff", "poster.png", "disk.png", "wide.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(listed.contains(name)) << listed.toStdString();
        EXPECT_TRUE(b.saw(QStringLiteral("thumbnail: %1 none").arg(name), mark, 10000));
    }
    EXPECT_TRUE(b.saw("thumbnail: small.png 480x300", mark));
    for (const char* name : {"scan3.tiff", "scan4.tiff"})
        EXPECT_TRUE(b.saw(QStringLiteral("thumbnail: %1 100x100").arg(name), mark, 20000))
            << b.lines().filter("thumbnail: ").join(u'\n').toStdString();
    sampler.stop();
    std::printf("decoding children held at most %lld MB\n", childrenKb / 1024);
    EXPECT_LT(childrenKb, 300 * 1024);
    EXPECT_EQ(stalls(mark), "") << "tiles";

    const QStringList tiles = listed.mid(listed.indexOf(": ") + 2).split(" | ");
    // Copy (the file at once, then its picture) and Share's "Copy Image" (the picture alone).
    const struct {
        const char* file;
        bool image;
        const char* said;
        const char* then; // what follows, if anything
    } copies[] = {
        {"poster.png", false, "Copied", "Copied the file; the picture is too large to copy"},
        {"disk.png", false, "Copied", nullptr},
        {"poster.png", true, "Can't open poster.png: the picture is too large", nullptr},
        {"disk.png", true, "Can't open disk.png: it is not a readable PNG picture", nullptr},
        {"wide.png", false, "Copied", "Copied the file; the picture is too large to copy"},
        {"wide.png", true, "Can't open wide.png: the picture is too large", nullptr},
    };
    for (const auto& c : copies) {
        SCOPED_TRACE(std::string(c.file) + (c.image ? " image" : " copy"));
        ASSERT_TRUE(b.up());
        const int tile = int(tiles.indexOf(c.file));
        ASSERT_GE(tile, 0);
        b.click(b.centre(tile));
        mark = b.mark();
        if (c.image)
            b.choose(b.action(3), 2);
        else
            b.key("ctrl+c");
        EXPECT_FALSE(b.traced(QStringLiteral("toast: ") + c.said, mark, c.image ? 12000 : 1500).isEmpty());
        if (c.then) {
            EXPECT_FALSE(b.traced(QStringLiteral("toast: ") + c.then, mark, 12000).isEmpty());
            b.desktop.screenshot(Desktop::shotsDir() + "/basket-copy-too-large.png");
        } else if (!c.image)
            EXPECT_FALSE(b.saw("toast: Copied the file", mark, 3000));
        const QString offered = clipboard(b);
        EXPECT_FALSE(offered.contains("png ")) << offered.toStdString();
        if (!c.image)
            EXPECT_TRUE(offered.contains("url " + QUrl::fromLocalFile(downloads + c.file).toEncoded()))
                << offered.toStdString();
        EXPECT_EQ(stalls(mark), "");
        ASSERT_TRUE(b.alive());
    }
    // A burst of copies of a picture that takes a while to decode: each ends the decoder of the one before.
    b.click(b.centre(int(tiles.indexOf("wide.png"))));
    mark = b.mark();
    for (int i = 0; i < 8; ++i)
        b.key("ctrl+c");
    EXPECT_LE(decoders().size(), 1);
    EXPECT_FALSE(b.traced("toast: Copied the file; the picture is too large to copy", mark, 12000).isEmpty());
    EXPECT_EQ(stalls(mark), "") << "burst";
    // The most the program ever held.
    const qint64 peak = Desktop::memoryKb(b.desktop.app()->processId(), "VmHWM");
    std::printf("peak resident size: %lld MB\n", peak / 1024);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 300 * 1024);
}

TEST(BasketFiles, CopyOfDamagedGoneAndPipeFilesAndOfAClipboardAnotherProgramKeeps) {
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    const QString pipe = tilePicture(b.folder + "pipe.png");
    const QString gone = tilePicture(b.folder + "gone.png");
    const QString damaged = tilePicture(b.folder + "damaged.png");
    {
        // Cut off halfway: the rows and the end are lost.
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(file.size() / 2));
    }
    ASSERT_TRUE(b.start());
    ASSERT_FALSE(b.traced("screenshots: damaged.png | gone.png | pipe.png", 0).isEmpty());
    // After the listing: one deleted, one replaced by a pipe nobody writes to.
    ASSERT_TRUE(QFile::remove(gone));
    ASSERT_TRUE(QFile::remove(pipe));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

    const QString names[] = {"damaged.png", "gone.png", "pipe.png"};
    for (int tile = 0; tile < 3; ++tile) {
        b.click(b.centre(tile));
        const qsizetype mark = b.mark();
        b.key("ctrl+c");
        EXPECT_FALSE(b.traced("toast: Copied", mark).isEmpty()) << names[tile].toStdString();
        ASSERT_TRUE(b.alive()) << names[tile].toStdString();
        // The file all the same, and no picture that isn't there.
        const QString offered = clipboard(b);
        EXPECT_TRUE(offered.contains("url " + QUrl::fromLocalFile(b.folder + names[tile]).toEncoded()))
            << offered.toStdString();
        EXPECT_FALSE(offered.contains("png ")) << offered.toStdString();
    }

    // Share's "Copy Image" of the deleted one says why, and the program stays.
    b.click(b.centre(1));
    qsizetype mark = b.mark();
    b.choose(b.action(3), 2);
    EXPECT_FALSE(b.traced("toast: Can't open gone.png: the file is gone", mark).isEmpty());
    ASSERT_TRUE(b.alive());

    // A program that keeps taking the clipboard: the copy is refused, and the basket says so.
    QProcess hog;
    hog.setProcessEnvironment(b.desktop.environment());
    hog.start(CLIPBOARD_HOG_BIN);
    ASSERT_TRUE(Desktop::waitUntil([&] { return hog.readAllStandardOutput().contains("ready"); }, 5000));
    const QString other = b.folder + "other.png";
    tilePicture(other);
    b.click(b.centre(0));
    // On a busy machine ours may land while the other program waits for the processor, and hold for that
    // moment: then it was copied, and a later try meets the refusal.
    QString said;
    for (int attempt = 0; attempt < 10 && !said.contains("Couldn't copy"); ++attempt) {
        mark = b.mark();
        b.key("ctrl+c");
        said = b.traced("toast: ", mark);
    }
    EXPECT_TRUE(said.contains("Couldn't copy: another program kept the clipboard")) << said.toStdString();
    b.desktop.screenshot(Desktop::shotsDir() + "/basket-copy-refused.png");
    EXPECT_FALSE(clipboard(b).contains("type text/uri-list"));
    hog.kill();
    hog.waitForFinished(3000);

    mark = b.mark();
    b.key("ctrl+c");
    EXPECT_FALSE(b.traced("toast: Copied", mark).isEmpty());
    EXPECT_TRUE(clipboard(b).contains("url " + QUrl::fromLocalFile(damaged).toEncoded()));
}

TEST(BasketFiles, ConversionsKeepWhatTheyMustAndTheRecentTabKeepsTheNewTilesSelected) {
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    const QString downloads = b.desktop.home() + "/Downloads/";
    tilePicture(downloads + "a.png", {1600, 1000});
    tilePicture(downloads + "b.png", {1600, 1000});
    QDir().mkpath(b.folder);
    {
        QPdfWriter pdf(b.folder + "report.pdf");
        QPainter painter(&pdf);
        painter.fillRect(QRect(0, 0, 4000, 4000), QColor(200, 80, 40));
        pdf.newPage();
        painter.fillRect(QRect(0, 0, 4000, 4000), QColor(40, 80, 200));
    }
    QThread::msleep(40);
    {
        // A cut-out: white lettering on nothing.
        QImage cut(600, 300, QImage::Format_ARGB32);
        cut.fill(Qt::transparent);
        QPainter painter(&cut);
        painter.setPen(Qt::white);
        painter.setFont(QFont("Inter", 60, QFont::Bold));
        painter.drawText(cut.rect(), Qt::AlignCenter, "SALE");
        painter.end();
        cut.save(b.folder + "cutout.png");
    }
    QThread::msleep(40);
    {
        // Flat lines, stored losslessly: far smaller than a JPEG of them.
        QImage sheet(1400, 1000, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        for (int y = 10; y < 1000; y += 12)
            painter.drawLine(20, y, 1380, y + 3);
        painter.end();
        sheet.save(b.folder + "sheet.webp", "WEBP", 100);
    }
    const QByteArray sheetBefore = md5Hex(b.folder + "sheet.webp"), cutBefore = md5Hex(b.folder + "cutout.png");
    ASSERT_FALSE(sheetBefore.isEmpty() || cutBefore.isEmpty()) << "the pictures were not written";
    ASSERT_TRUE(b.start());
    ASSERT_FALSE(b.traced("screenshots: sheet.webp | cutout.png | report.pdf", 0).isEmpty());

    // Compress keeps both, says why, and writes nothing.
    b.click(b.centre(0));
    qsizetype mark = b.mark();
    b.click(b.action(2));
    EXPECT_FALSE(b.traced("toast: sheet.webp: Kept as it is: a JPEG would not be smaller", mark, 15000).isEmpty());
    b.click(b.centre(1));
    mark = b.mark();
    b.click(b.action(2));
    EXPECT_FALSE(
        b.traced("toast: cutout.png: Kept as it is: a JPEG would lose its transparency", mark, 15000).isEmpty());
    b.desktop.screenshot(Desktop::shotsDir() + "/basket-compress-kept.png");
    EXPECT_EQ(md5Hex(b.folder + "sheet.webp"), sheetBefore);
    EXPECT_EQ(md5Hex(b.folder + "cutout.png"), cutBefore);
    EXPECT_EQ(QDir(b.folder).entryList({"*.jpg"}, QDir::Files), QStringList());

    // The PDF's first page becomes a picture; the PDF and its second page stay.
    b.click(b.centre(2));
    mark = b.mark();
    b.choose(b.action(1), 1);
    EXPECT_FALSE(
        b.traced("toast: 1 saved as PNG \u00B7 only page 1 of 2 was converted, so report.pdf was kept", mark, 15000)
            .isEmpty());
    EXPECT_TRUE(QFile::exists(b.folder + "report.pdf"));
    EXPECT_TRUE(QFile::exists(b.folder + "report.png"));

    // E-mail with no mail program set up: the helper gives up, and the basket says so.
    b.click(b.centre(0));
    mark = b.mark();
    b.choose(b.action(3), 4);
    EXPECT_FALSE(b.traced("toast: No e-mail program is set up", mark, 20000).isEmpty());

    // Recent: both converted; the sources leave at once, the new tiles stay selected after the search.
    mark = b.mark();
    b.click(b.recentTab());
    ASSERT_FALSE(b.traced("recent: b.png | a.png", mark).isEmpty());
    b.click(b.centre(0));
    b.click(b.centre(1), "ctrl");
    mark = b.mark();
    b.choose(b.action(1), 2);
    ASSERT_FALSE(b.traced("toast: 2 saved as JPEG", mark, 15000).isEmpty());
    const QString first = b.traced("recent: ", mark);
    EXPECT_FALSE(first.contains(".png")) << first.toStdString();
    // The search lists the newer one first, so the grid is listed anew.
    ASSERT_FALSE(b.traced("recent: a.jpg | b.jpg", mark).isEmpty());
    QThread::msleep(500);
    mark = b.mark();
    b.key("Delete");
    EXPECT_FALSE(b.traced("toast: 2 moved to Trash", mark).isEmpty());
}

// A scanner's TIFF whose first picture is a reduced preview stays beside what is made of it, and the toast says why;
// a CMYK JPEG with its profile becomes a PNG in its own colours and takes its place.
TEST(BasketFiles, APreviewStaysAndACmykPictureConvertsInItsColours) {
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    QDir().mkpath(b.folder);
    const QString cmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
    ASSERT_EQ(QProcess::execute("convert", {"-size", "400x300", "xc:rgb(90,89,88)", "-define",
                                            "tiff:subfiletype=REDUCEDIMAGE", b.folder + "scan.tiff"}),
              0);
    QThread::msleep(40);
    ASSERT_EQ(QProcess::execute("convert", {"-size", "400x300", "xc:rgb(90,89,88)", "-profile",
                                            "/usr/share/color/icc/ghostscript/srgb.icc", "-profile", cmyk,
                                            b.folder + "print.jpg"}),
              0);
    // The middle pixel's red through the file's profile, 0 to 255.
    const auto shownAt = [](const QString& path) {
        QProcess look;
        look.start("convert", {path, "-profile", "/usr/share/color/icc/ghostscript/srgb.icc", "-format",
                               "%[fx:int(255*p{200,150}.r+0.5)]", "info:"});
        look.waitForFinished(10000);
        return look.readAllStandardOutput().toInt();
    };
    const int printShown = shownAt(b.folder + "print.jpg");
    const QByteArray scanBefore = md5Hex(b.folder + "scan.tiff");
    ASSERT_TRUE(b.start());
    ASSERT_FALSE(b.traced("screenshots: print.jpg | scan.tiff", 0).isEmpty());
    b.click(b.centre(0));
    b.click(b.centre(1), "ctrl");
    const qsizetype mark = b.mark();
    b.choose(b.action(1), 1);
    EXPECT_FALSE(
        b.traced("toast: 2 saved as PNG \u00B7 kept scan.tiff: its first picture is a reduced preview", mark, 15000)
            .isEmpty());
    b.desktop.screenshot(Desktop::shotsDir() + "/basket-convert-kept-preview.png");
    EXPECT_EQ(md5Hex(b.folder + "scan.tiff"), scanBefore);
    EXPECT_FALSE(QFile::exists(b.folder + "print.jpg"));
    // The grey the profile shows, as ImageMagick reads the JPEG with it, not a plain reading of the inks.
    EXPECT_LE(std::abs(shownAt(b.folder + "print.png") - printShown), 2) << shownAt(b.folder + "print.png");
}

// A copy is ours whenever no other program holds the clipboard, whatever another did before: asked us with a time
// beyond the server's clock (as a file manager does), spoiled our clock unguarded, or took the clipboard and went;
// and the retry of a refused copy never replaces a newer one.
TEST(BasketFiles, CopyIsOursWheneverNoOtherProgramHoldsTheClipboard) {
    const struct {
        const char *args, *said;
    } cases[] = {
        {"request 10000", "holder us\nretried no\n"},
        {"request 1800000000", "holder us\nretried no\n"},
        {"unguarded 10000", "holder us\nretried yes\n"},
        {"unguarded 1800000000", "holder us\nretried yes\n"},
        {"took", "holder us\nretried yes\n"},
        {"holds", "holder another\nretried no\n"},
        // A copy made while the retry of a refused one waits is the one that stays.
        {"unguarded 10000 twice", "holder us\nretried yes\nholds third\n"},
        {"unguarded 10000 newer", "holder another\nretried yes\n"},
    };
    Desktop desktop(Desktop::Options{.windowManager = false, .tray = false});
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        int code = -1;
        EXPECT_EQ(desktop.run(CLOCK_HOST_BIN, QString(c.args).split(u' '), &code).toStdString(), c.said);
        EXPECT_EQ(code, 0);
    }
}

// Pictures that are too large or slow to read never stop the program from answering. The newest screenshot, a
// WebP of a few dozen bytes that claims 16383 × 16383 pixels, is refused when held for as opening refuses it,
// without a card; a large JPEG is copied at once as a file, and converted to PNG, with the basket answering its
// keys meanwhile.
TEST(BasketFiles, PicturesTooLargeOrSlowToReadNeverStopTheProgram) {
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    QDir().mkpath(b.folder);
    largeJpeg(b.folder + "large.jpg");
    QThread::msleep(40);
    {
        QFile file(b.folder + "huge.webp");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(hugeWebp());
    }
    ASSERT_EQ(QImageReader(b.folder + "huge.webp").size(), QSize(16383, 16383));
    b.desktop.startApp();
    ASSERT_TRUE(b.desktop.waitForApp());
    b.desktop.moveTo({640, 400});
    QThread::msleep(500);
    b.desktop.xdotool({"keydown", "super+shift+s", "sleep", "0.6", "keyup", "super+shift+s"});
    EXPECT_NE(b.desktop.waitVisible("^Pictolarium Toast$", true, 1500), 0u) << "the program stopped answering";
    b.desktop.screenshot(Desktop::shotsDir() + "/latest-too-large.png");
    EXPECT_EQ(b.desktop.waitVisible("^Pictolarium Card$", true, 3000), 0u);
    // Not listed in the basket, where its thumbnail would be read as well.
    ASSERT_TRUE(QFile::remove(b.folder + "huge.webp"));

    ASSERT_TRUE(b.show());
    ASSERT_FALSE(b.traced("screenshots: large.jpg", 0).isEmpty());
    b.click(b.centre(0));
    const qsizetype mark = b.mark();
    b.key("ctrl+c");
    EXPECT_FALSE(b.traced("toast: Copied", mark, 1500).isEmpty());
    // The first Escape clears the selection, the second hides the basket, while the picture is still made.
    b.key("Escape");
    b.key("Escape");
    EXPECT_TRUE(b.hidden(1500)) << "the program stopped answering";
    const QString offered = clipboard(b);
    EXPECT_TRUE(offered.contains("url " + QUrl::fromLocalFile(b.folder + "large.jpg").toEncoded()))
        << offered.toStdString();
    ASSERT_TRUE(b.alive());

    // Converted to PNG from the basket: the basket answers its keys while the picture is written.
    ASSERT_TRUE(b.show());
    b.click(b.centre(0));
    const qsizetype converting = b.mark();
    b.choose(b.action(1), 1);
    b.key("Escape");
    b.key("Escape");
    EXPECT_TRUE(b.hidden(1500)) << "the program stopped answering";
    EXPECT_FALSE(b.traced("toast: 1 saved as PNG", converting, 20000).isEmpty());
    EXPECT_EQ(QImageReader(b.folder + "large.png").size(), QSize(4000, 3000));
}
