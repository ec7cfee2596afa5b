// The basket's tiles in the real program: thumbnails of every kind of file, a capture arriving,
// mouse selection, dragging tiles out, copy, rename, convert, resize, a tile's format menu,
// delete to the Trash, opening a card, the preview and Escape.

#include "BasketDriver.h"

#include "imaging/ImageConvert.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

TEST(BasketTiles, ThumbnailsSelectionActionsAndKeys) {
    Basket b;
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    Desktop& desktop = b.desktop;
    const QString f = b.folder;
    QDir().mkpath(f);
    const auto settle = [] { QThread::msleep(40); }; // birth times apart, so the listing's order is known

    // Oldest first: GIF, PDF, HEIC, JPEG, PNG; the grid lists them newest first.
    const QString downloads = desktop.home() + "/Downloads/";
    QDir().mkpath(downloads);
    QFile gif(downloads + "anim.gif");
    ASSERT_TRUE(gif.open(QIODevice::WriteOnly));
    gif.write(
        QByteArray::fromHex("47494638396102000200800000ff000000ff0021f90400000000002c00000000020002000002028451003b"));
    gif.close();
    settle();
    {
        QPdfWriter pdf(f + "doc.pdf");
        QPainter painter(&pdf);
        painter.fillRect(QRect(0, 0, 9000, 12000), QColor(200, 80, 40));
    }
    settle();
    const QString heicSource = tilePicture(desktop.folder("staging") + "/pic.png", {640, 400}, QColor(40, 160, 90));
    const QUrl heic =
        ImageConvert::writeBeside(QImage(heicSource), QUrl::fromLocalFile(heicSource), ImageFormat::heic, 0.9);
    ASSERT_TRUE(QFile::rename(heic.toLocalFile(), f + "pic.heic"));
    settle();
    QImage(heicSource).save(f + "photo.jpg", "JPEG");
    settle();
    tilePicture(f + "wide.png", {2400, 300}, QColor(120, 60, 200));
    tilePicture(f + "Shot.png", {640, 400}, QColor(60, 90, 200));

    ASSERT_TRUE(b.start());
    ASSERT_TRUE(b.saw("screenshots: Shot.png"));
    EXPECT_EQ(b.lastListing().toStdString(), "Shot.png | wide.png | photo.jpg | pic.heic | doc.pdf");
    for (const char* name : {"Shot.png 480x300", "photo.jpg 480x300", "pic.heic 480x300", "doc.pdf 339x480"})
        EXPECT_TRUE(b.saw(QStringLiteral("thumbnail: ") + name)) << name << b.desktop.appStderr().toStdString();
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-tiles.png");
    // The GIF, downloaded a moment ago, is a recent image.
    b.click(b.recentTab());
    EXPECT_TRUE(b.saw("thumbnail: anim.gif 2x2"));
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-tiles-recent.png");
    b.click(b.shotsTab());
    ASSERT_TRUE(b.saw("screenshots: Shot.png"));

    // A capture while the basket is up comes first and sparkles once.
    qsizetype mark = b.mark();
    desktop.moveTo({640, 300});
    b.key("super+shift+d");
    ASSERT_TRUE(Desktop::waitUntil([&] { return b.lastListing().count(" | ") == 5; }, 10000));
    EXPECT_EQ(b.lastListing().split(" | ").indexOf("Shot.png"), 1) << b.lastListing().toStdString();
    QThread::msleep(150);
    desktop.screenshot(Desktop::shotsDir() + "/basket-sparkle.png");
    b.key("Escape"); // the capture's card
    ASSERT_TRUE(b.up());
    // The capture, Shot.png, wide.png, photo.jpg, pic.heic, doc.pdf

    // A gap clears three; Shift on a selected tile takes that one out.
    mark = b.mark();
    b.select({1, 2, 3});
    EXPECT_TRUE(b.saw("count: 3 selected", mark));
    mark = b.mark();
    b.click(QPoint(b.tile(1).right() + 7, b.tile(1).center().y()));
    EXPECT_TRUE(b.saw("count: ", mark)) << "gap";
    EXPECT_FALSE(b.saw("count: 3", mark, 300));
    b.select({1, 2, 3});
    mark = b.mark();
    b.click(b.centre(2), "shift");
    EXPECT_TRUE(b.saw("count: 2 selected", mark));

    // Tiles 1 and 3 dragged onto another window arrive in grid order.
    QProcess target;
    target.setProcessEnvironment(desktop.environment());
    target.start(DROP_TARGET_BIN, {"1075", "60", "200", "200"});
    QString dropped;
    const auto says = [&](const char* word, int ms) {
        return Desktop::waitUntil(
            [&] { return (dropped += QString::fromUtf8(target.readAllStandardOutput())).contains(word); }, ms);
    };
    ASSERT_TRUE(says("ready", 8000));
    Desktop::pause(500);
    ASSERT_TRUE(b.up());
    b.select({3, 1});
    const QPoint from = b.centre(3), to(1170, 160);
    desktop.moveTo(from);
    desktop.xdotool({"mousedown", "1"});
    for (int step = 1; step <= 20; ++step) {
        desktop.moveTo(from + (to - from) * step / 20);
        Desktop::pause(40);
    }
    Desktop::pause(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-drag.png");
    desktop.xdotool({"mouseup", "1"});
    says("dropped", 5000);
    const qsizetype first = dropped.indexOf("Shot.png"), second = dropped.indexOf("photo.jpg");
    EXPECT_TRUE(first > 0 && second > first) << dropped.toStdString();
    EXPECT_EQ(dropped.count("url "), 2) << dropped.toStdString();
    target.kill();
    target.waitForFinished(2000);
    ASSERT_TRUE(b.up());

    // Ctrl+C on the PNG: the file at once, its own bytes as image/png once they decode.
    b.click(b.centre(1));
    mark = b.mark();
    b.key("ctrl+c");
    EXPECT_TRUE(b.saw("toast: Copied", mark));
    const QByteArray shotSum = md5Hex(f + "Shot.png");
    ASSERT_FALSE(shotSum.isEmpty());
    QString offered;
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return (offered = desktop.run(CLIPBOARD_PROBE_BIN, {"--formats"})).contains("png " + shotSum); }, 10000))
        << offered.toStdString();
    EXPECT_TRUE(offered.contains("type text/uri-list")) << offered.toStdString();

    // Rename Shot.png to its own name: Shot 2.png, thumbnail carried over.
    mark = b.mark();
    b.click(b.renameButton(1));
    QThread::msleep(400);
    desktop.screenshot(Desktop::shotsDir() + "/basket-rename.png");
    desktop.xdotool({"type", "Shot"});
    b.key("Return");
    EXPECT_TRUE(b.saw("screenshots: ", mark));
    EXPECT_TRUE(QFile::exists(f + "Shot 2.png"));
    EXPECT_FALSE(b.saw("thumbnail: Shot 2.png", mark, 500)) << "its thumbnail came with it";

    // Convert three to JPEG from the Convert button's menu.
    b.select({0, 4, 5});
    mark = b.mark();
    b.choose(b.action(1), {"Down", "Down", "Return"}, "/basket-convert-menu.png");
    EXPECT_TRUE(b.saw("toast: 3 saved as JPEG", mark, 15000));
    for (const char* name : {"pic.jpg", "doc.jpg"})
        EXPECT_TRUE(QFile::exists(f + name)) << name;
    EXPECT_TRUE(b.saw("count: 3 selected", mark));

    // Resize the wide one with an answer typed the way people type it.
    const QStringList listing = b.lastListing().split(" | ");
    const int wide = int(listing.indexOf("wide.png"));
    ASSERT_GE(wide, 0);
    b.click(b.centre(wide));
    mark = b.mark();
    b.choose(b.action(1), {"Up", "Return"});
    QThread::msleep(400);
    desktop.xdotool({"type", "1,600 px"});
    b.key("Return");
    EXPECT_TRUE(b.saw("toast: 1 resized to 1600 px wide", mark, 15000));
    EXPECT_EQ(QImageReader(f + "wide.png").size(), QSize(1600, 200));

    // A PNG tile's badge: "PNG" checked; "JPEG" converts it.
    const QStringList now = b.lastListing().split(" | ");
    const int shot2 = int(now.indexOf("Shot 2.png"));
    ASSERT_GE(shot2, 0);
    mark = b.mark();
    b.choose(b.badge(shot2), {"Down", "Down", "Return"}, "/basket-format-menu.png");
    EXPECT_TRUE(b.saw("toast: JPEG", mark, 15000));
    EXPECT_TRUE(QFile::exists(f + "Shot 2.jpg"));

    // Two deleted: both in the Trash, their paths percent-encoded.
    const QStringList before = b.lastListing().split(" | ");
    ASSERT_GE(before.size(), 2);
    b.select({0, 1});
    mark = b.mark();
    b.key("Delete");
    EXPECT_TRUE(b.saw("toast: 2 moved to Trash", mark));
    const QString trash = desktop.environment().value("XDG_DATA_HOME") + "/Trash";
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(QFile::exists(trash + "/files/" + before[i])) << before[i].toStdString();
        QFile info(trash + "/info/" + before[i] + ".trashinfo");
        ASSERT_TRUE(info.open(QIODevice::ReadOnly)) << before[i].toStdString();
        const QByteArray record = info.readAll();
        EXPECT_TRUE(record.contains("Path=" + QUrl::toPercentEncoding(f + before[i], "/"))) << record.constData();
    }

    // Space previews the selection; arrows step; Escape closes it, then clears, then hides.
    b.select({0, 1, 2});
    mark = b.mark();
    b.key("space");
    EXPECT_TRUE(b.saw("preview: 1 of 3", mark));
    QThread::msleep(500);
    desktop.screenshot(Desktop::shotsDir() + "/basket-preview.png");
    b.key("Right");
    EXPECT_TRUE(b.saw("preview: 2 of 3", mark));
    b.key("Escape");
    ASSERT_TRUE(b.shown());
    desktop.xdotool({"search", "--name", QStringLiteral("^") + Basket::title + u'$', "windowactivate"});
    QThread::msleep(300);
    mark = b.mark();
    b.key("Escape");
    EXPECT_TRUE(b.saw("count: ", mark));
    EXPECT_TRUE(b.shown());
    b.key("Escape");
    EXPECT_TRUE(Desktop::waitUntil([&] { return !b.shown(); }, 3000));

    // A double click opens the card at the pointer and hides the basket.
    ASSERT_TRUE(b.show());
    desktop.click(b.centre(0), 2);
    EXPECT_TRUE(Desktop::waitUntil([&] { return !b.shown(); }, 3000));
    EXPECT_TRUE(Desktop::waitUntil([&] { return !desktop.windowsByName("Pictolarium Card").isEmpty(); }, 3000));
    QThread::msleep(400);
    desktop.screenshot(Desktop::shotsDir() + "/basket-open-card.png");
}
