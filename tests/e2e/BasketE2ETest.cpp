// The basket in the real program: what it lists from a prepared home folder, its size and place,
// columns at three widths, the hovered action's name, the ways it hides, and its keys
// after a desktop switch.

#include "BasketDriver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QString picture(const QString& path, const QColor& colour, const QString& software = {}) {
    QDir().mkpath(QFileInfo(path).path());
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(colour);
    if (!software.isEmpty())
        image.setText("Software", software);
    image.save(path, "PNG");
    QThread::msleep(30); // birth times a little apart, so the order is known
    return path;
}

// The basket's key, with the basket hidden: it shows. A hide the basket owed to the keyboard lost while it
// showed before must not reach it now, however late the loss is acted on.
bool toggledOn(Basket& b) {
    b.desktop.key("super+shift+s");
    return Desktop::waitUntil([&] { return b.shown(); }, 5000);
}

} // namespace

TEST(Basket, ListsScreenshotsAndNewPicturesAndHidesWhenLeft) {
    Basket b;
    Desktop& desktop = b.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    const QString home = desktop.home();
    picture(desktop.shotsFolder() + "/Slice 2026-12-07 at 09.00.00.png", QColor(200, 60, 60));
    picture(home + "/Pictures/Screenshots/Screenshot from 2026-12-07 09-00-01.png", QColor(60, 160, 60));
    picture(home + "/Pictures/Screenshots/IMG_1.png", QColor(60, 60, 200), "gnome-screenshot");
    picture(home + "/Pictures/Screenshots/holiday.png", QColor(200, 200, 60));
    // Recent: copied in with its old modification time kept, named in the recent list, and where
    // nothing belongs.
    const QString copied = home + "/Documents/a/b/c/copied.png";
    QDir().mkpath(QFileInfo(copied).path());
    QFile::copy(picture(desktop.folder("elsewhere") + "/old.png", Qt::gray), copied);
    QFile old(copied);
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addDays(-30), QFileDevice::FileModificationTime));
    old.close();
    picture(home + "/Music/cover.png", Qt::darkCyan);
    picture(home + "/Code/node_modules/pkg/icon.png", Qt::darkRed);
    picture(home + "/Pictures/Pictolarium X/copy.png", Qt::darkMagenta);
    const QString xbel = QFileInfo(desktop.environment().value("XDG_DATA_HOME") + "/recently-used.xbel").filePath();
    QFile list(xbel);
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("<?xml version=\"1.0\"?><xbel version=\"1.0\"><bookmark href=\"file://" + home.toUtf8() +
               "/Music/cover.png\"/></xbel>");
    list.close();

    ASSERT_TRUE(b.start());
    const QString listed = b.newest("screenshots: ", [](const QString& l) { return l.contains("Slice"); });
    EXPECT_EQ(listed, "basket: screenshots: IMG_1.png | Screenshot from 2026-12-07 09-00-01.png | "
                      "Slice 2026-12-07 at 09.00.00.png");

    const QRect frame = desktop.clientGeometry(b.window());
    EXPECT_EQ(frame.size(), QSize(840, 586));
    EXPECT_NEAR(frame.center().x(), 640, 2);
    EXPECT_NEAR(frame.center().y(), 400, 40) << "centred on the screen's free area";
    EXPECT_TRUE(b.newest("", [](const QString& l) { return l.contains("3 columns"); }).contains("3 columns"));

    // The hovered action's name, left of the pill: Delete is the pill's last button.
    desktop.moveTo({frame.right() - 20 - int(24 * 0.87) - 12 - 6 - int(19 * 0.87), frame.top() + 18 + 22});
    QThread::msleep(400);
    desktop.screenshot(Desktop::shotsDir() + "/basket-hover-delete.png");

    // Its edges resize it, whatever lies under them.
    desktop.drag({{frame.right() - 2, frame.center().y()}, {frame.right() + 120, frame.center().y()}});
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.clientGeometry(b.window()).width() >= 940; }, 3000))
        << "dragged edge: " << desktop.clientGeometry(b.window()).width();

    for (const int width : {520, 1200}) {
        desktop.xdotool({"windowsize", QString::number(b.window()), QString::number(width), "586"});
        const QString columns = QString::number(width == 520 ? 2 : 4) + " columns";
        EXPECT_TRUE(b.newest("", [&](const QString& l) { return l.contains(columns); }).contains(columns)) << width;
        QThread::msleep(300);
        desktop.screenshot(Desktop::shotsDir() + QString("/basket-width-%1.png").arg(width));
    }
    desktop.xdotool({"windowsize", QString::number(b.window()), "840", "586"});

    // Recent images, from the tab.
    b.frame = desktop.clientGeometry(b.window());
    desktop.click(b.recentTab());
    const QString recent = b.newest("recent: ", [](const QString& l) { return l.contains("cover.png"); });
    EXPECT_TRUE(recent.contains("copied.png")) << recent.toStdString();
    EXPECT_TRUE(recent.contains("cover.png")) << recent.toStdString();
    for (const char* never : {"icon.png", "copy.png", "IMG_1.png", "Screenshot from", "Slice"})
        EXPECT_FALSE(recent.contains(QLatin1String(never))) << never;
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-recent.png");

    // A click elsewhere hides it; so does another program's window taking the focus.
    desktop.click({30, 30});
    EXPECT_TRUE(b.hidden()) << "click outside";
    ASSERT_TRUE(toggledOn(b));
    desktop.start("xmessage", {"-geometry", "+10+10", "another program"});
    QThread::msleep(800);
    desktop.xdotool({"search", "--name", "^xmessage$", "windowactivate"});
    EXPECT_TRUE(b.hidden()) << "another window activated";
    // Hidden by the toggle itself while shown and active.
    ASSERT_TRUE(toggledOn(b));
    QThread::msleep(300);
    desktop.key("super+shift+s");
    EXPECT_TRUE(b.hidden()) << "toggled off";

    // On every desktop: a switch leaves it up.
    ASSERT_TRUE(toggledOn(b));
    desktop.xdotool({"set_desktop", "1"});
    QThread::msleep(1500);
    EXPECT_TRUE(b.shown()) << "after a desktop switch";

    // Opened just after a switch, when the window manager keeps the keyboard from a program behind,
    // it still takes the keys: Escape closes it.
    desktop.click({30, 30});
    ASSERT_TRUE(b.hidden());
    desktop.moveTo({640, 400});
    // The window manager's own key to the next desktop, then ours at once, as a quick hand gives them.
    desktop.xdotool({"key", "ctrl+alt+Right", "super+shift+s"});
    ASSERT_TRUE(Desktop::waitUntil([&] { return b.shown(); }, 5000));
    EXPECT_EQ(desktop.run("xdotool", {"get_desktop"}).trimmed(), "2");
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == b.window(); }, 3000))
        << "active: " << desktop.activeWindow() << ", basket: " << b.window();
    desktop.screenshot(Desktop::shotsDir() + "/basket-after-desktop-switch.png");
    desktop.key("Escape");
    EXPECT_TRUE(b.hidden()) << "Escape after a desktop switch";
}

TEST(Basket, EmptyTabsSayWhereTheyLooked) {
    Basket b;
    Desktop& desktop = b.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    ASSERT_TRUE(b.start());
    const QString empty = b.newest("empty: ", [](const QString&) { return true; });
    EXPECT_EQ(empty, "basket: empty: No screenshots in the last 24 hours / Looking in ~/Pictures/Pictolarium "
                     "and ~/Pictures");
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-empty.png");

    desktop.click(b.recentTab());
    EXPECT_EQ(b.newest("empty: No new", [](const QString&) { return true; }),
              "basket: empty: No new images in the last 24 hours / Downloads and saves anywhere in your home "
              "folder show up here.");
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + "/basket-recent-empty.png");
}
