// The capture road on a desktop as users have it: our own card over the window captured again, slices
// held for seconds, a keyboard layout switched after start, a screenshot folder that cannot take files,
// see-through and frameless windows under a compositor, and a terminal recorded while it scrolls.

#include "Desktop.h"
#include "capture/Capture.h"
#include "platform/x11/X11WindowList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QStringList pngs(const Desktop& desktop) {
    return QDir(desktop.shotsFolder()).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
}

QList<quint32> visible(Desktop& desktop, const QString& pattern, const QString& by = QStringLiteral("--name")) {
    const QString out = desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), by, pattern});
    QList<quint32> ids;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.append(line.trimmed().toUInt());
    return ids;
}

void key(Desktop& desktop, const QString& keys) {
    desktop.xdotool({QStringLiteral("key"), keys});
}

// An xterm showing lines of text, its client area returned once it is up.
QRect startXterm(Desktop& desktop, const QStringList& args) {
    desktop.start(QStringLiteral("xterm"), args);
    QRect client;
    Desktop::waitUntil(
        [&] {
            const QList<quint32> ids = visible(desktop, QStringLiteral("xterm"), QStringLiteral("--class"));
            if (!ids.isEmpty())
                client = desktop.clientGeometry(ids.first());
            return !client.isEmpty();
        },
        8000);
    Desktop::pause(800);
    return client;
}

int differentPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff))
                ++count;
    return count;
}

QString waitForNewPng(Desktop& desktop, const QStringList& before, int ms = 8000) {
    QString found;
    Desktop::waitUntil(
        [&] {
            for (const QString& name : pngs(desktop))
                if (!before.contains(name))
                    found = name;
            return !found.isEmpty();
        },
        ms);
    return found;
}

} // namespace

TEST(RealDesktop, OurCardIsNeverInTheNextCaptureOfTheWindow) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QRect client = startXterm(desktop, {QStringLiteral("-geometry"), QStringLiteral("90x30+80+60"),
                                               QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                                               QStringLiteral("seq 1 40; sleep 600")});
    ASSERT_FALSE(client.isEmpty());
    desktop.moveTo(client.center());
    Desktop::pause(300);

    key(desktop, QStringLiteral("super+shift+d"));
    const QString first = waitForNewPng(desktop, {});
    ASSERT_FALSE(first.isEmpty()) << desktop.appStderr().toStdString();
    ASSERT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, QStringLiteral("^Pictolarium Card$")).isEmpty(); }, 5000));
    Desktop::pause(1000);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/own-windows-card-over-window.png"));
    // The card sits over the window, under the pointer.
    const QRect card = desktop.clientGeometry(visible(desktop, QStringLiteral("^Pictolarium Card$")).first());
    EXPECT_TRUE(card.intersects(client));

    key(desktop, QStringLiteral("super+shift+d"));
    const QString second = waitForNewPng(desktop, {first});
    ASSERT_FALSE(second.isEmpty()) << desktop.appStderr().toStdString();
    const QImage a(QDir(desktop.shotsFolder()).filePath(first));
    const QImage b(QDir(desktop.shotsFolder()).filePath(second));
    b.save(Desktop::shotsDir() + QStringLiteral("/own-windows-second-capture.png"));
    EXPECT_EQ(differentPixels(a, b), 0) << "the second capture differs from the first";
    // The card is back after the grab, showing the new capture.
    EXPECT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, QStringLiteral("^Pictolarium Card$")).isEmpty(); }, 5000));
}

TEST(RealDesktop, ASliceHeldForSecondsShowsItsOutlineAndGivesTheDraggedSize) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#406080")});
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    desktop.moveTo(QPoint(200, 200));
    Desktop::pause(300);
    const QImage before = desktop.screenshot();

    desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("super+shift+d")});
    Desktop::pause(4000);
    desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    Desktop::pause(100);
    desktop.moveTo(QPoint(350, 300));
    Desktop::pause(100);
    desktop.moveTo(QPoint(500, 400));
    Desktop::pause(300);
    const QImage during = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/slice-held-outline.png"));
    desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("super+shift+d")});

    // The outline runs along the dragged rectangle's edges on the frozen screen.
    int outlined = 0;
    for (int x = 210; x < 490; ++x)
        outlined += during.pixel(x, 200) != before.pixel(x, 200) && during.pixel(x, 400) != before.pixel(x, 400);
    EXPECT_GT(outlined, 250) << "no outline during the hold";

    const QString slice = waitForNewPng(desktop, {});
    ASSERT_FALSE(slice.isEmpty()) << desktop.appStderr().toStdString();
    EXPECT_TRUE(slice.startsWith(QStringLiteral("Slice 20"))) << slice.toStdString();
    EXPECT_EQ(QImage(QDir(desktop.shotsFolder()).filePath(slice)).size(), QSize(300, 200));
}

TEST(RealDesktop, TheCaptureKeyFollowsAKeyboardLayoutSwitchedAfterStart) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    int code = -1;
    desktop.run(QStringLiteral("setxkbmap"), {QStringLiteral("dvorak")}, &code);
    ASSERT_EQ(code, 0);
    Desktop::pause(500);
    desktop.moveTo(QPoint(400, 300));
    // xdotool finds "d" where the new layout has it.
    key(desktop, QStringLiteral("super+shift+d"));
    EXPECT_FALSE(waitForNewPng(desktop, {}).isEmpty()) << desktop.appStderr().toStdString();
    desktop.run(QStringLiteral("setxkbmap"), {QStringLiteral("us")});
}

TEST(RealDesktop, AScreenshotFolderThatCannotTakeFilesIsToldInOurWordsOnScreen) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    QDir().mkpath(desktop.home() + QStringLiteral("/Pictures"));
    {
        QFile blocker(desktop.shotsFolder());
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    // Near the right edge, where a toast centred on the pointer would run off the screen.
    desktop.moveTo(QPoint(1270, 400));
    Desktop::pause(300);
    key(desktop, QStringLiteral("super+shift+d"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 5000));
    Desktop::pause(400);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/folder-is-a-file-toast.png"));
    const QRect toast = desktop.clientGeometry(visible(desktop, QStringLiteral("^Pictolarium Toast$")).first());
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(toast)) << toast.x() << "," << toast.y() << " " << toast.width();
    EXPECT_TRUE(QFileInfo(desktop.shotsFolder()).isFile()) << "the file in the folder's place is left alone";
    EXPECT_FALSE(desktop.appStderr().contains(QStringLiteral("pictolarium-screencapture:")));

    // A read-only folder: root writes anyway, so only a user can see this one.
    if (geteuid() == 0)
        return;
    QFile::remove(desktop.shotsFolder());
    QDir().mkpath(desktop.shotsFolder());
    QFile::setPermissions(desktop.shotsFolder(), QFile::ReadOwner | QFile::ExeOwner);
    Desktop::pause(3000);
    key(desktop, QStringLiteral("super+shift+d"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 5000));
    Desktop::pause(400);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/folder-read-only-toast.png"));
    QFile::setPermissions(desktop.shotsFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(RealDesktop, ASeeThroughFramelessWindowIsCapturedAsAWindowWithItsAlphaAndNoShadow) {
    Desktop::Options options;
    options.compositor = true;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    qputenv("DISPLAY", desktop.display().toUtf8());
    qputenv("HOME", desktop.home().toUtf8());
    X11WindowList list(desktop.display());
    Capture::setWindowList(&list);
    Capture::setTool(QStringLiteral(SCREENCAPTURE_BIN));
    desktop.start(QStringLiteral(CLEAR_WINDOW_BIN), {QStringLiteral("200"), QStringLiteral("150")});
    QList<quint32> ids;
    ASSERT_TRUE(Desktop::waitUntil([&] { return !(ids = visible(desktop, QStringLiteral("^Clear Window$"))).isEmpty(); }, 8000));
    const quint32 id = ids.first();
    // The toolkit's own type comes first in the list, before the standard one.
    const QString types = desktop.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id), QStringLiteral("_NET_WM_WINDOW_TYPE")});
    EXPECT_TRUE(types.contains(QStringLiteral("_KDE_NET_WM_WINDOW_TYPE_OVERRIDE, _NET_WM_WINDOW_TYPE_NORMAL"))) << types.toStdString();
    desktop.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id), QStringLiteral("-f"), QStringLiteral("_GTK_FRAME_EXTENTS"),
                                          QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_GTK_FRAME_EXTENTS"),
                                          QStringLiteral("10, 10, 10, 10")});
    Desktop::pause(500);
    const QRect client = desktop.clientGeometry(id);
    // On the shadow the pointer is not on the window.
    desktop.moveTo(client.topLeft() + QPoint(4, 4));
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::mouseCG() == client.topLeft() + QPoint(4, 4); }, 3000));
    const auto onShadow = Capture::windowUnderCursor();
    EXPECT_TRUE(!onShadow || onShadow->id != id);
    desktop.moveTo(client.center());
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::mouseCG() == client.center(); }, 3000));
    const auto under = Capture::windowUnderCursor();
    ASSERT_TRUE(under.has_value()) << "the frameless window is not taken for a window";
    EXPECT_EQ(under->id, id);
    EXPECT_EQ(under->bounds, client.adjusted(10, 10, -10, -10));

    const Shot shot = Capture::capture(*under);
    const QImage image = shot.image.convertToFormat(QImage::Format_ARGB32);
    image.save(Desktop::shotsDir() + QStringLiteral("/clear-window-capture.png"));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/clear-window-desktop.png"));
    EXPECT_EQ(image.size(), QSize(280, 180));
    EXPECT_TRUE(shot.image.hasAlphaChannel());
    EXPECT_EQ(image.pixel(40, 90), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(image.pixel(240, 90)), 0) << "the clear half is not clear";
    Capture::setWindowList(nullptr);
    Capture::setTool({});
}
