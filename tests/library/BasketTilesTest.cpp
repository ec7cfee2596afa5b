#include "library/LibraryPanel.h"

#include "LibraryFixtures.h"
#include "card/RedactMarks.h"
#include "card/RenameFile.h"
#include "library/PreviewPanel.h"
#include "library/ShotGrid.h"
#include "library/ShotItem.h"
#include "library/ThumbCache.h"
#include "support/FakeApplications.h"
#include "support/ManyPictures.h"
#include "support/ToastText.h"
#include "ui/Toast.h"

#include <QClipboard>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Basket : LibraryFixtures::BasketPanel {
    using BasketPanel::BasketPanel;
    void select(const QStringList& names) {
        QStringList files;
        for (const QString& name : names)
            files.append(path(name));
        panel->selectFiles(files);
    }
    QWidget* viewport() const { return panel->collection->viewport(); }
    QPoint inViewport(QPoint gridPoint) const { return gridPoint - viewport()->pos(); }
    QPoint centreOf(int row) const { return inViewport(panel->collection->tileRect(row).center()); }
    // Conversions work on a worker: their outcome reaches the grid once the event loop takes it.
    bool settled() const {
        return QTest::qWaitFor([this] { return !panel->converting(); }, 20000);
    }
};

} // namespace

TEST(BasketTiles, CacheKeepsTheMostRecentlyUsedWithinItsBound) {
    ThumbCache cache(3);
    const QImage one(1, 1, QImage::Format_RGB32);
    for (const char* key : {"a", "b", "c"})
        cache.insert(key, one);
    EXPECT_FALSE(cache.value("a").isNull()); // a is now the freshest
    cache.insert("d", one);
    EXPECT_EQ(cache.keys(), QStringList({"d", "a", "c"})) << "the least recently used goes first";
    cache.retainOnly({"a", "d"});
    EXPECT_EQ(cache.keys(), QStringList({"d", "a"}));
    cache.remove("d");
    EXPECT_EQ(cache.keys(), QStringList({"a"}));
}

TEST(BasketTiles, TilePartsSitAtTheBottomRightOfThePictureAndTheGapIsNoTile) {
    const QRectF tile(100, 50, 236, 150);
    const ShotItem::Layout parts = ShotItem::layout(tile, "PNG");
    EXPECT_TRUE(parts.thumb.contains(parts.badge) && parts.rename.right() < parts.edit.left() &&
                parts.edit.right() < parts.badge.left());
    const QString file = "/x/Shot.png";
    EXPECT_EQ(ShotItem::partAt(tile, file, parts.edit.center()), ShotItem::Part::edit);
    EXPECT_EQ(ShotItem::partAt(tile, file, parts.rename.center()), ShotItem::Part::rename);
    EXPECT_EQ(ShotItem::partAt(tile, file, parts.badge.center()), ShotItem::Part::badge);
    EXPECT_EQ(ShotItem::partAt(tile, file, parts.thumb.topLeft() + QPointF(5, 5)), ShotItem::Part::tile);
    EXPECT_EQ(ShotItem::partAt(tile, file, QPointF(99, 60)), ShotItem::Part::none);

    const struct {
        const char *file, *badge, *name;
    } names[] = {{"/a/Shot.png", "PNG", "Shot"},    {"/a/b.JPG", "JPEG", "b"},   {"/a/c.gif", "GIF", "c"},
                 {"/a/d.heic", "HEIC", "d"},        {"/a/README", "", "README"}, {"/a/x.y.pdf", "PDF", "x.y"},
                 {"/a/photo.jpeg", "JPEG", "photo"}};
    for (const auto& n : names) {
        EXPECT_EQ(ShotItem::badgeText(n.file), n.badge) << n.file;
        EXPECT_EQ(ShotItem::displayName(n.file), n.name) << n.file;
    }
}

TEST(BasketTiles, ThumbnailsRenderOnceOffTheUIThreadAndHugePicturesAreSkipped) {
    Basket b({"a.png", "b.png"});
    // Pictures whose headers claim too many pixels: no thumbnail, no stall, the tile keeps its name.
    QByteArray ihdr = QByteArray::fromHex("0000ffff0000ffff0806000000");
    LibraryFixtures::put(b.path("huge.png"),
                         QByteArray::fromHex("89504e470d0a1a0a") + LibraryFixtures::chunk("IHDR", ihdr) +
                             LibraryFixtures::chunk("IDAT", QByteArray(16, 0)) + LibraryFixtures::chunk("IEND", {}));
    ASSERT_EQ(QImageReader(b.path("huge.png")).size(), QSize(65535, 65535));
    // A WebP of a few dozen bytes that decodes to a gigabyte, under the program's own reader limit.
    LibraryFixtures::put(b.path("huge.webp"), ManyPictures::oneColourWebp(16383, 16383));
    const int readerLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(2048);
    b.panel->reload();
    QApplication::processEvents();
    for (const char* huge : {"huge.png", "huge.webp"})
        EXPECT_TRUE(b.panel->thumbnailFor(b.path(huge)).isNull()) << huge;
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->thumbsLoading.isEmpty(); }));
    QImageReader::setAllocationLimit(readerLimit);
    EXPECT_EQ(b.panel->thumbnailFor(b.path("a.png")).size(), QSize(64, 40));
    EXPECT_TRUE(b.panel->listing().thumbCache.contains(b.path("b.png")));
    for (const char* huge : {"huge.png", "huge.webp"})
        EXPECT_FALSE(b.panel->listing().thumbCache.contains(b.path(huge))) << huge;

    // Asked again while the first render runs: still one render.
    b.panel->listing().thumbCache.remove(b.path("a.png"));
    EXPECT_TRUE(b.panel->thumbnailFor(b.path("a.png")).isNull());
    EXPECT_TRUE(b.panel->thumbnailFor(b.path("a.png")).isNull());
    EXPECT_EQ(b.panel->thumbsLoading.size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->listing().thumbCache.contains(b.path("a.png")); }));

    // A file no thumbnail comes of is read once, not at every repaint, until it changes.
    EXPECT_TRUE(b.panel->thumbnailFor(b.path("huge.png")).isNull());
    EXPECT_TRUE(b.panel->thumbsLoading.isEmpty()) << "not decoded again";
    QFile::remove(b.path("huge.png"));
    QFile::copy(b.path("a.png"), b.path("huge.png"));
    EXPECT_TRUE(b.panel->thumbnailFor(b.path("huge.png")).isNull());
    EXPECT_EQ(b.panel->thumbsLoading.size(), 1) << "read again once it changed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->listing().thumbCache.contains(b.path("huge.png")); }));
}

TEST(BasketTiles, AListedFileTurnedIntoAPipeGetsNoThumbnailAndHoldsNoThread) {
    Basket b({"x.png"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->listing().thumbCache.contains(b.path("x.png")); }));
    const QByteArray name = QFile::encodeName(b.path("x.png"));
    ASSERT_TRUE(QFile::remove(b.path("x.png")));
    ASSERT_EQ(mkfifo(name.constData(), 0600), 0);
    b.panel->listing().thumbCache.remove(b.path("x.png"));
    EXPECT_TRUE(b.panel->thumbnailFor(b.path("x.png")).isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->thumbsLoading.isEmpty(); }, 3000));
    EXPECT_FALSE(b.panel->listing().thumbCache.contains(b.path("x.png")));
    // Wakes a reader left waiting in open(), should there be one.
    const int writer = open(name.constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        close(writer);
}

TEST(BasketTiles, HidingLetsTheThumbnailsGoButTheFirstScreenful) {
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names.append(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')));
    Basket b(names);
    const QStringList items = b.panel->listing().items;
    ASSERT_EQ(items.size(), 40);
    for (const QString& file : items)
        b.panel->thumbnailFor(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->thumbsLoading.isEmpty(); }, 10000));
    ASSERT_EQ(b.panel->listing().thumbCache.size(), 40);

    b.panel->hide();
    const ThumbCache& cache = b.panel->listing().thumbCache;
    EXPECT_LT(cache.size(), 20);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(cache.contains(items[i])) << i << " is on the first screen";
    EXPECT_FALSE(cache.contains(items.last()));
}

TEST(BasketTiles, GapClickClearsAndShiftClickTakesOneTileOut) {
    Basket b({"a.png", "b.png", "c.png"});
    ShotGrid* grid = b.panel->collection;
    b.select({"a.png", "b.png", "c.png"});
    EXPECT_EQ(b.panel->countLabel->text(), "3 selected");

    const QRect first = grid->tileRect(0);
    const QPoint gap = b.inViewport(QPoint(first.right() + 7, first.center().y()));
    QTest::mouseClick(b.viewport(), Qt::LeftButton, Qt::ShiftModifier, gap);
    EXPECT_EQ(b.panel->countLabel->text(), "3 selected") << "a Shift press in a gap is the standard one";
    QTest::mouseClick(b.viewport(), Qt::LeftButton, {}, gap);
    EXPECT_EQ(b.panel->countLabel->text(), "");

    b.select({"a.png", "b.png", "c.png"});
    QTest::mouseClick(b.viewport(), Qt::LeftButton, Qt::ShiftModifier, b.centreOf(1));
    EXPECT_EQ(b.panel->countLabel->text(), "2 selected");
    EXPECT_EQ(b.panel->selectedURLs(), QStringList({grid->files()[0], grid->files()[2]}));

    QSignalSpy opened(grid, &ShotGrid::openRequested);
    QTest::mouseDClick(b.viewport(), Qt::LeftButton, {}, b.centreOf(2));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0][0].toString(), grid->files()[2]);
}

TEST(BasketTiles, CopyOffersTheFileAndForOneFileItsPng) {
    Basket b({"a.png", "b.png", "c.png"});
    b.select({"b.png"});
    b.panel->copySelected();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    // The file at once, unread; its own bytes once they decode.
    EXPECT_FALSE(data->hasFormat("image/png"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"); }, 15000));
    data = QGuiApplication::clipboard()->mimeData();
    QFile file(b.path("b.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(data->data("image/png"), file.readAll());
    EXPECT_EQ(data->urls(), QList<QUrl>({QUrl::fromLocalFile(b.path("b.png"))}));
    EXPECT_TRUE(data->data("x-special/gnome-copied-files").startsWith("copy\nfile://"));
    EXPECT_FALSE(data->formats().contains("text/plain"));
    EXPECT_EQ(toastText(), "Copied");

    b.select({"a.png", "b.png", "c.png"});
    b.panel->copySelected();
    data = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(data->urls().size(), 3);
    EXPECT_FALSE(data->hasFormat("image/png"));
    EXPECT_EQ(toastText(), "Copied 3 files");

    // Any other picture: the file at once, and its PNG once it is made, off the thread that answers the user.
    LibraryFixtures::picture(b.path("d.jpg"), 300, 200);
    b.panel->reload();
    b.select({"d.jpg"});
    b.panel->copySelected();
    data = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(data->urls(), QList<QUrl>({QUrl::fromLocalFile(b.path("d.jpg"))}));
    EXPECT_FALSE(data->hasFormat("image/png"));
    EXPECT_EQ(toastText(), "Copied");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"); }, 15000));
    data = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(QImage::fromData(data->data("image/png"), "PNG").size(), QSize(300, 200));
    EXPECT_EQ(data->urls(), QList<QUrl>({QUrl::fromLocalFile(b.path("d.jpg"))}));

    // Share's Copy Image: the picture alone, put on the clipboard once it is ready; a file gone says so.
    b.panel->copyImage(QUrl::fromLocalFile(b.path("d.jpg")));
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->urls().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::clipboard()->mimeData()->urls().isEmpty(); }, 15000));
    data = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(QImage::fromData(data->data("image/png"), "PNG").size(), QSize(300, 200));
    EXPECT_EQ(toastText(), "Copied");
    b.panel->copyImage(QUrl::fromLocalFile(b.path("gone.png")));
    EXPECT_TRUE(QTest::qWaitFor([] { return toastText() == "Can't open gone.png: the file is gone"; }, 5000))
        << toastText().toStdString();

    // A few pixels padded out with a 40 MB private chunk: their picture is offered, not the file's bytes.
    QFile small(LibraryFixtures::picture(b.path("padded.png"), 30, 20));
    ASSERT_TRUE(small.open(QIODevice::ReadOnly));
    QByteArray padded = small.readAll();
    small.close();
    LibraryFixtures::put(b.path("padded.png"),
                         padded.insert(33, LibraryFixtures::chunk("prVt", QByteArray(40 << 20, '\0'))));
    b.panel->reload();
    b.select({"padded.png"});
    b.panel->copySelected();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"); }, 15000));
    const QByteArray offered = QGuiApplication::clipboard()->mimeData()->data("image/png");
    EXPECT_LT(offered.size(), 1 << 20);
    EXPECT_EQ(QImage::fromData(offered, "PNG").size(), QSize(30, 20));

    // A gigabyte named .png whose header claims 30000 × 30000 pixels: the file alone, and the basket says why.
    QFile poster(b.path("poster.png"));
    ASSERT_TRUE(poster.open(QIODevice::WriteOnly));
    poster.write(QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200007530000075300802000000") +
                 QByteArray(4, '\0'));
    ASSERT_TRUE(poster.resize(qint64(1) << 30));
    poster.close();
    b.panel->reload();
    b.select({"poster.png"});
    b.panel->copySelected();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->urls(),
              QList<QUrl>({QUrl::fromLocalFile(b.path("poster.png"))}));
    EXPECT_TRUE(
        QTest::qWaitFor([] { return toastText() == "Copied the file; the picture is too large to copy"; }, 15000))
        << toastText().toStdString();
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"));
}

TEST(BasketTiles, DeleteCountsOnlyWhatWentAndKeepsTheTileThatStayed) {
    Basket b({"a.png", "b.png", "c.png"});
    b.refuse.insert("b.png", "Permission denied");
    b.select({"a.png", "b.png", "c.png"});
    b.panel->deleteSelected();
    EXPECT_EQ(b.trashed.size(), 2);
    EXPECT_EQ(toastText(), QString::fromUtf8("2 moved to Trash \u00B7 b.png: Permission denied"));
    EXPECT_EQ(b.panel->collection->files(), QStringList({b.path("b.png")}));

    b.select({"b.png"});
    b.refuse.clear();
    b.panel->deleteSelected();
    EXPECT_EQ(toastText(), "Moved to Trash");
    b.panel->deleteSelected();
    EXPECT_EQ(toastText(), "Moved to Trash") << "nothing selected: nothing happens";
}

TEST(BasketTiles, ConvertPutsTheNewFilesFirstSelectedAndResizeReadsTheWidthTyped) {
    Basket b({"a.png", "b.png", "c.png", "d.png"});
    // A tile's own format menu: its own format does nothing, another converts that file alone.
    b.panel->convertOne(b.path("d.png"), ImageFormat::png);
    EXPECT_TRUE(QFile::exists(b.path("d.png")));
    b.panel->convertOne(b.path("d.png"), ImageFormat::jpeg);
    // The work is a worker's: the basket answers meanwhile, and refuses a second batch, saying why.
    EXPECT_TRUE(b.panel->converting());
    EXPECT_FALSE(b.panel->collection->files().contains(b.path("d.jpg")));
    b.select({"a.png"});
    b.panel->convertSelected(ImageFormat::webp);
    EXPECT_EQ(toastText(), QString::fromUtf8("Converting 1 of 1\u2026"));
    ASSERT_TRUE(b.settled());
    EXPECT_FALSE(QFile::exists(b.path("a.webp")));
    EXPECT_EQ(toastText(), "JPEG");
    EXPECT_EQ(b.panel->collection->files().first(), b.path("d.jpg"));
    EXPECT_FALSE(b.panel->collection->files().contains(b.path("d.png")));

    b.select({"a.png", "b.png", "c.png"});
    b.panel->convertSelected(ImageFormat::jpeg);
    ASSERT_TRUE(b.settled());
    EXPECT_EQ(toastText(), "3 saved as JPEG");
    const QStringList chosen = b.panel->selectedURLs();
    ASSERT_EQ(chosen.size(), 3);
    for (const QString& file : chosen)
        EXPECT_TRUE(file.endsWith(".jpg")) << file.toStdString();
    EXPECT_TRUE(b.panel->collection->files().mid(0, 3) == chosen);

    // Wide enough for one of them only.
    LibraryFixtures::picture(b.path("wide.png"), 2000, 500);
    b.panel->reload();
    b.select({"wide.png", "a.jpg"});
    b.answer = QStringLiteral("1,600 px");
    b.panel->resizeSelected();
    ASSERT_TRUE(b.settled());
    EXPECT_EQ(toastText(), "1 resized to 1600 px wide");
    ASSERT_EQ(b.panel->selectedURLs().size(), 1);
    EXPECT_EQ(QImageReader(b.panel->selectedURLs().first()).size(), QSize(1600, 400));

    b.select({"b.jpg"});
    b.panel->resizeSelected();
    ASSERT_TRUE(b.settled());
    EXPECT_EQ(toastText(), "Already smaller than 1600 px");
    QFile::resize(b.path("b.jpg"), 10); // truncated behind the basket's back
    b.panel->resizeSelected();
    ASSERT_TRUE(b.settled());
    EXPECT_TRUE(toastText().startsWith("b.jpg: ")) << toastText().toStdString();

    // The basket went while a batch works: the file is written all the same, and nothing reaches the panel.
    b.select({"c.jpg"});
    b.panel->convertSelected(ImageFormat::png);
    b.panel.reset();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::overrideCursor(); }, 20000));
    EXPECT_TRUE(QFile::exists(b.path("c.png")));

    const struct {
        const char* answer;
        int width;
    } answers[] = {
        {"1,600 px", 1600},         {"15", 0}, {"16", 16}, {"", 0}, {"px", 0}, {"\u0661\u0666\u0660\u0660", 0},
        {"99999999999999999999", 0}};
    for (const auto& a : answers)
        EXPECT_EQ(LibraryPanel::widthFromAnswer(QString::fromUtf8(a.answer)).value_or(0), a.width) << a.answer;
}

TEST(BasketTiles, ConvertKeepsASourceOfSeveralPagesAndSaysSo) {
    Basket b({"a.png"});
    QImage page(64, 48, QImage::Format_RGB32);
    page.fill(Qt::darkCyan);
    QFile file(b.path("scan.tiff"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(ManyPictures::file({page, page, page}, "tiff")) > 0);
    file.close();
    b.panel->reload();
    b.select({"scan.tiff"});
    b.panel->convertSelected(ImageFormat::png);
    ASSERT_TRUE(b.settled());
    EXPECT_EQ(toastText(),
              QString::fromUtf8("1 saved as PNG \u00B7 only page 1 of 3 was converted, so scan.tiff was kept"));
    for (const char* name : {"scan.tiff", "scan.png"})
        EXPECT_TRUE(b.panel->collection->files().contains(b.path(QString::fromLatin1(name)))) << name;

    // Several such sources in one batch: every one kept is named.
    QFile second(b.path("pages.tiff"));
    ASSERT_TRUE(second.open(QIODevice::WriteOnly) && second.write(ManyPictures::file({page, page}, "tiff")) > 0);
    second.close();
    b.panel->reload();
    b.select({"scan.tiff", "pages.tiff"});
    b.panel->convertSelected(ImageFormat::jpeg);
    ASSERT_TRUE(b.settled());
    const QString both = toastText();
    EXPECT_TRUE(both.startsWith(QString::fromUtf8("2 saved as JPEG \u00B7 only page 1 of "))) << both.toStdString();
    EXPECT_TRUE(both.contains("so scan.tiff was kept; also kept: pages.tiff") ||
                both.contains("so pages.tiff was kept; also kept: scan.tiff"))
        << both.toStdString();
}

TEST(BasketTiles, RenameTakesTheNextFreeNumberAndKeepsTheThumbnail) {
    Basket b({"Shot.png", "A.png", "A 2.png"});
    const QImage thumb(8, 8, QImage::Format_RGB32);
    b.panel->listing().thumbCache.insert(b.path("Shot.png"), thumb);
    EXPECT_EQ(b.panel->commitRename(b.path("Shot.png"), "Shot"), b.path("Shot 2.png"));
    EXPECT_TRUE(b.panel->listing().thumbCache.contains(b.path("Shot 2.png")));
    EXPECT_FALSE(b.panel->listing().fresh.contains(b.path("Shot 2.png"))) << "a renamed file is no new file";
    EXPECT_EQ(b.panel->commitRename(b.path("Shot 2.png"), "A"), b.path("A 3.png"));
    EXPECT_EQ(b.panel->commitRename(b.path("A.png"), "pic.jpg"), b.path("pic.jpg.png"));
    // A redacted file's review record goes with it.
    const QUrl redacted = QUrl::fromLocalFile(b.path("pic.jpg.png"));
    RedactMarks::store().insert(redacted.toLocalFile(), {QUrl::fromLocalFile(b.path("A 3.png")), {{0, 0, 1, 1}}});
    EXPECT_EQ(b.panel->commitRename(b.path("pic.jpg.png"), "Safe"), b.path("Safe.png"));
    EXPECT_FALSE(RedactMarks::find(redacted));
    ASSERT_TRUE(RedactMarks::find(QUrl::fromLocalFile(b.path("Safe.png"))));
    RedactMarks::store().clear();
    EXPECT_EQ(RenameFile::cleaned("  a/b:c\\d  "), "a-b-c-d");
    EXPECT_EQ(RenameFile::cleaned(" \n"), "");

    // Gone behind the basket's back: said so, nothing else moves.
    QFile::remove(b.path("A 3.png"));
    EXPECT_FALSE(b.panel->commitRename(b.path("A 3.png"), "B"));
    EXPECT_TRUE(toastText().startsWith("Couldn't rename A 3.png: ")) << toastText().toStdString();
    EXPECT_FALSE(QFile::exists(b.path("B.png")));
}

TEST(BasketTiles, KeysSelectPreviewAndEscapeStepByStep) {
    Basket b({"a.png", "b.png", "c.png"});
    auto press = [&](int key, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(b.panel->collection, Qt::Key(key), mods);
    };
    press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(b.panel->countLabel->text(), "3 selected");
    press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(b.panel->countLabel->text(), "");

    press(Qt::Key_Space);
    ASSERT_TRUE(b.panel->preview);
    EXPECT_EQ(b.panel->preview->caption(), "1 of 1") << "nothing selected: the first tile alone";
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_Space);
    EXPECT_EQ(b.panel->preview->caption(), "1 of 3");
    b.panel->preview->step(1);
    EXPECT_EQ(b.panel->preview->caption(), "2 of 3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.panel->preview->loading(); }));
    EXPECT_FALSE(b.panel->preview->picture().isNull());
    // On a slow machine the basket's check of the keyboard it lost to the preview comes due while the preview
    // closes, before the keyboard has come back: the basket stays.
    QThread::msleep(60);
    QTest::keyClick(b.panel->preview, Qt::Key_Escape);
    EXPECT_FALSE(b.panel->preview->isVisible());
    QTest::qWait(100);
    EXPECT_TRUE(b.panel->isVisible()) << "the basket closed as the preview handed the keyboard back";

    // The preview is part of the basket: whatever closes the basket closes it too.
    const struct {
        const char* name;
        std::function<void()> close;
    } closings[] = {
        {"a click in another program",
         [&] {
             b.platform.lastWatch->press({1, 790});
         }},
        {"its close button", [&] { b.panel->closeFromButton(); }},
        {"its key", [&] { b.panel->toggle(); }},
    };
    b.panel->hide(); // opened as its key opens it, watching for clicks elsewhere
    for (const auto& closing : closings) {
        SCOPED_TRACE(closing.name);
        QTest::qWait(100); // its check of the keyboard it lost as it hid has come due
        b.panel->toggle();
        const auto focused = [](const QWidget* window) {
            return QGuiApplication::focusWindow() && QGuiApplication::focusWindow() == window->windowHandle();
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return focused(b.panel.get()); }));
        press(Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return focused(b.panel->preview); }));
        closing.close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !b.panel->isVisible(); }));
        EXPECT_FALSE(b.panel->preview->isVisible());
    }
    QTest::qWait(100);
    b.panel->toggle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.panel->isVisible(); }));

    // Return opens the tile with the default program; when none opens it, the basket says so.
    QTemporaryDir bin;
    QFile opener(bin.filePath(QStringLiteral("xdg-open"))); // as it ends when nothing opens the kind of file
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly) && opener.write("#!/bin/sh\nexit 3\n") > 0);
    opener.close();
    opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    press(Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([] { return toastText() == QStringLiteral("No application opens this file"); }));
    qputenv("PATH", path);
    {
        // Ours as the default would only copy the tile into the screenshot folder: the next one opens it.
        FakeApplications apps;
        apps.entry(QStringLiteral("pictolarium.desktop"), apps.program(QStringLiteral("ours")));
        apps.entry(QStringLiteral("viewer.desktop"), apps.program(QStringLiteral("viewer")));
        apps.defaultFor(QStringLiteral("pictolarium.desktop"));
        b.select({"b.png"});
        press(Qt::Key_Return);
        EXPECT_EQ(apps.log(), QStringList{QStringLiteral("viewer ") + b.path("b.png")});
        b.select({"a.png", "b.png", "c.png"});
    }

    press(Qt::Key_Escape);
    EXPECT_EQ(b.panel->countLabel->text(), "");
    EXPECT_TRUE(b.panel->isVisible());
    press(Qt::Key_Escape);
    EXPECT_FALSE(b.panel->isVisible());
}
