// The format wheel in the real program: another program drags picture files out while the wheel key is
// held; the wheel shows under the pointer, hides with the key or the button, and a drop converts.

#include "BasketDriver.h"
#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class WheelApp {
public:
    explicit WheelApp(qlonglong wheelModifier = 0) : desktop(Desktop::Options{.tray = false}) {
        if (!desktop.ok())
            return;
        if (wheelModifier)
            desktop.writeCardSettings({}, {{"wheelModifier", Desktop::typed("int", wheelModifier)}});
        desktop.startApp();
        ready = desktop.waitForApp();
    }
    ~WheelApp() {
        if (!desktop.ok())
            return;
        desktop.xdotool({"keyup", "shift", "ctrl"});
        desktop.xdotool({"mouseup", "1"});
    }

    // A picture (or, by any other extension, a text file) in the drop folder.
    QString file(const QString& name) {
        const QString path = desktop.folder("Drop") + QLatin1Char('/') + name;
        QImage image(480, 320, QImage::Format_RGB32);
        image.fill(QColor(230, 120, 40));
        QFile text(path);
        if (!name.endsWith(QLatin1String(".png")) && text.open(QIODevice::WriteOnly))
            text.write("notes\n");
        else
            image.save(path);
        return path;
    }
    QStringList dropFolder() const { return QDir(desktop.folder("Drop")).entryList(QDir::Files, QDir::Name); }

    // A window at x, y (300 × 200) that drags the files out; true once it shows.
    bool source(int x, int y, const QStringList& files) {
        desktop.start(DRAG_SOURCE_BIN, QStringList{QString::number(x), QString::number(y), "300", "200"} + files);
        const int shown = ++sources;
        const bool up = Desktop::waitUntil([&] { return visible("^drag-source$") == shown; }, 8000, 100);
        Desktop::pause(400);
        return up;
    }

    // Presses at the point and moves as a hand would, which starts the source's drag; ends 60, 30 further.
    // Relative steps: the server reports those as raw motion, as it does for a real mouse.
    void beginDrag(QPoint from) {
        // A first click only brings the window forward: some window managers keep that press for themselves.
        desktop.click(from);
        Desktop::pause(300);
        desktop.xdotool({"mousedown", "1"});
        for (int i = 0; i < 6; ++i) {
            Desktop::pause(60);
            nudge(10, 5);
        }
        Desktop::pause(200);
    }
    void nudge(int dx, int dy) {
        desktop.xdotool({"mousemove_relative", "--", QString::number(dx), QString::number(dy)});
    }
    void key(const char* action, const char* name) { desktop.xdotool({QLatin1String(action), QLatin1String(name)}); }

    qsizetype visible(const QString& title) {
        return desktop.run("xdotool", {"search", "--onlyvisible", "--name", title})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .size();
    }
    quint32 wheel() { return desktop.visibleWindow("^Pictolarium Format Wheel$"); }
    bool waitWheel(bool shown, int ms = 3000) {
        return Desktop::waitUntil([&] { return (wheel() != 0) == shown; }, ms, 40);
    }

    Desktop desktop;
    bool ready = false; // the desktop came up and the program with it

private:
    int sources = 0;
};

} // namespace

TEST(WheelE2E, DropOnJpegConvertsBothPicturesBesideThem) {
    WheelApp app;
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.source(100, 100, {app.file("a.png"), app.file("b.png")}));

    app.beginDrag(QPoint(200, 200));
    EXPECT_EQ(app.wheel(), 0u) << "shown without the wheel key";
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true)) << app.desktop.appStderr().toStdString();
    const quint32 wheel = app.wheel();
    EXPECT_EQ(app.desktop.clientGeometry(wheel), QRect(260 - 170, 230 - 170, 340, 340));
    EXPECT_TRUE(app.desktop.run("xwininfo", {"-id", QString::number(wheel)}).contains("Override Redirect State: yes"));

    // Two files: the six formats and Compress; JPEG is the second of seven, clockwise from the top.
    const double a = (90.0 - 360.0 / 7) * M_PI / 180;
    for (int pause : {100, 400}) {
        app.nudge(int(std::lround(55 * std::cos(a))), -int(std::lround(55 * std::sin(a))));
        Desktop::pause(pause);
    }
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-over-jpeg.png");
    app.desktop.xdotool({"mouseup", "1"});
    app.key("keyup", "shift");

    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            return app.dropFolder() == QStringList{"a.jpg", "b.jpg"};
        },
        10000))
        << app.dropFolder().join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(app.waitWheel(false, 1000));
    const QString trash = app.desktop.environment().value("XDG_DATA_HOME") + "/Trash/files/";
    EXPECT_TRUE(QFileInfo::exists(trash + "a.png") && QFileInfo::exists(trash + "b.png"));
    EXPECT_NE(app.desktop.waitVisible("^Pictolarium Toast$", true, 3000), 0u);
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-toast.png");
}

TEST(WheelE2E, HidesWithTheKeyOrTheButtonAndNeverShowsForOtherFiles) {
    WheelApp app;
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.source(100, 100, {app.file("a.png")}));
    ASSERT_TRUE(app.source(700, 100, {app.file("c.png"), app.file("notes.txt")}));

    app.beginDrag(QPoint(200, 200));
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true));
    app.key("keyup", "shift");
    EXPECT_TRUE(app.waitWheel(false, 1000)) << "letting the key go leaves the wheel";
    app.key("keydown", "shift");
    EXPECT_TRUE(app.waitWheel(true, 1000)) << "the same drag does not bring it back";

    app.nudge(300, 0); // away from the wheel, over nothing that takes files
    Desktop::pause(200);
    app.desktop.xdotool({"mouseup", "1"});
    EXPECT_TRUE(app.waitWheel(false, 2000)) << "a release elsewhere leaves the wheel";
    app.key("keyup", "shift");
    EXPECT_EQ(app.dropFolder().size(), 3) << "a release elsewhere converted something";

    app.beginDrag(QPoint(800, 200));
    app.key("keydown", "shift");
    Desktop::pause(300);
    app.nudge(5, 5);
    EXPECT_FALSE(app.waitWheel(true, 1000)) << "shown for a drag with a text file";
}

TEST(WheelE2E, ChosenKeySummonsItKeptOnTheScreen) {
    WheelApp app(262144); // Ctrl
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.source(950, 580, {app.file("a.png")}));

    app.beginDrag(QPoint(1000, 650));
    app.nudge(200, 100); // near the corner, where a centred wheel would leave the screen
    Desktop::pause(100);
    app.key("keydown", "shift");
    EXPECT_FALSE(app.waitWheel(true, 1000)) << "Shift summoned it with Ctrl chosen";
    app.key("keydown", "ctrl");
    ASSERT_TRUE(app.waitWheel(true));
    EXPECT_EQ(app.desktop.clientGeometry(app.wheel()), QRect(1280 - 340, 800 - 340, 340, 340));
    Desktop::pause(200);
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-corner.png");
}

// A Shift-drag of a card shows the wheel with the card's picture; later Shift-drags that carry nothing (text
// selected in a terminal) show none, though the card's drag is still the last one its owner answers for.
TEST(WheelE2E, AfterACardsDragATerminalSelectionShowsNoWheel) {
    WheelApp app;
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    app.desktop.start("xterm", {"-title", "text", "-geometry", "60x8+40+40", "-e", "sh", "-c",
                                "echo lorem ipsum dolor sit amet consectetur; echo a second line of words; sleep 600"});
    const quint32 terminal = app.desktop.waitVisible("^text$", true, 8000);
    ASSERT_NE(terminal, 0u);
    const quint32 card = app.desktop.openCard(app.file("a.png"));
    ASSERT_NE(card, 0u);
    const auto shiftDrag = [&](QPoint from, int dx, int dy) {
        app.desktop.moveTo(from);
        Desktop::pause(300);
        app.key("keydown", "shift");
        app.desktop.xdotool({"mousedown", "1"});
        for (int i = 0; i < 8; ++i) {
            Desktop::pause(50);
            app.nudge(dx, dy);
        }
    };

    // Out of the picture and over nothing that takes it, the key let go after the button.
    shiftDrag(app.desktop.clientGeometry(card).center() - QPoint(0, 30), -10, 10);
    EXPECT_TRUE(app.waitWheel(true)) << "the card's picture dragged with the key";
    app.nudge(400, 0);
    Desktop::pause(200);
    app.desktop.xdotool({"mouseup", "1"});
    Desktop::pause(100);
    app.key("keyup", "shift");
    EXPECT_TRUE(app.waitWheel(false, 2000));
    ASSERT_FALSE(app.desktop.selectionOwned("PRIMARY"));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        shiftDrag(app.desktop.clientGeometry(terminal).topLeft() + QPoint(4, 8), 20, 2);
        EXPECT_FALSE(app.waitWheel(true, 1000)) << "shown over a text selection";
        app.desktop.xdotool({"mouseup", "1"});
        app.key("keyup", "shift");
        EXPECT_TRUE(app.desktop.selectionOwned("PRIMARY")) << "the drag selected no text";
        Desktop::pause(300);
    }
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-terminal-selection.png");
}

// However many drags went before, every selection we ask for is ours: five rounds of a card's Shift-drag, the
// basket's tile dropped on a file manager's desktop or folder (whose requests carry times of its own making) and
// a tile copied, with a terminal holding the keyboard.
TEST(WheelE2E, DragsOutOfTheBasketLeaveEverySelectionOursToTake) {
    Basket b(Desktop::Options{.tray = false});
    ASSERT_TRUE(b.desktop.ok()) << b.desktop.error().toStdString();
    tilePicture(b.folder + "tile.png");
    const QString picture = tilePicture(b.desktop.folder("Drop") + "/card.png", {480, 320}, QColor(230, 120, 40));
    const QString desktopFolder = b.desktop.home() + "/Desktop", shown = b.desktop.folder("Shown");
    QDir().mkpath(desktopFolder);
    b.desktop.start("pcmanfm", {"--desktop"});
    ASSERT_TRUE(Desktop::waitUntil([&] { return !b.desktop.windowsByName("^pcmanfm$").isEmpty(); }, 10000, 200))
        << "the file manager drew no desktop";
    b.desktop.start("pcmanfm", {shown});
    const quint32 folderWindow = b.desktop.waitVisible("^Shown$", true, 10000);
    ASSERT_NE(folderWindow, 0u);
    b.desktop.xdotool({"windowsize", QString::number(folderWindow), "340", "300"});
    b.desktop.xdotool({"windowmove", QString::number(folderWindow), "920", "40"});
    b.desktop.start("xterm", {"-title", "terminal", "-geometry", "40x6+20+620"});
    const quint32 terminal = b.desktop.waitVisible("^terminal$", true, 8000);
    ASSERT_NE(terminal, 0u);
    b.desktop.xdotool({"windowactivate", "--sync", QString::number(terminal)});
    ASSERT_TRUE(b.start());

    quint32 card = 0;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // A card's Shift-drag, released away from the wheel.
        card = b.desktop.openCard(picture, card);
        ASSERT_NE(card, 0u);
        b.desktop.moveTo(b.desktop.clientGeometry(card).center() - QPoint(0, 30));
        Desktop::pause(300);
        b.desktop.xdotool({"keydown", "shift"});
        b.desktop.xdotool({"mousedown", "1"});
        for (int i = 0; i < 11; ++i) {
            Desktop::pause(50);
            b.desktop.xdotool({"mousemove_relative", "--", "-10", "0"});
        }
        EXPECT_NE(b.desktop.waitVisible("^Pictolarium Format Wheel$", true, 3000), 0u) << "no wheel for the Shift-drag";
        b.desktop.xdotool({"mousemove_relative", "--", "0", "300"});
        Desktop::pause(200);
        b.desktop.xdotool({"mouseup", "1"});
        Desktop::pause(100);
        b.desktop.xdotool({"keyup", "shift"});
        EXPECT_EQ(b.desktop.waitVisible("^Pictolarium Format Wheel$", false, 2000), 0u);

        ASSERT_TRUE(b.up());
        const QPoint from = b.centre(0), to = round % 2 ? QPoint(1090, 200) : QPoint(1220, 720); // folder or desktop
        b.desktop.drag({from, to, to + QPoint(16, 16)}, 12); // resting over the drop a while, as a hand does
        Desktop::pause(500);
        b.key("Escape");
        b.key("Escape");

        ASSERT_TRUE(b.up());
        b.click(b.centre(0));
        const qsizetype mark = b.mark();
        b.key("ctrl+c");
        EXPECT_EQ(b.traced("toast: ", mark).toStdString(), "basket: toast: Copied");
        // Only we serve the tile's address: a probe that gets it found CLIPBOARD ours.
        EXPECT_TRUE(b.desktop.run(CLIPBOARD_PROBE_BIN, {"--formats"})
                        .contains("url " + QUrl::fromLocalFile(b.folder).toEncoded()));
        b.key("Escape");
        b.key("Escape");
    }
    EXPECT_EQ(QDir(b.desktop.folder("Drop")).entryList(QDir::Files), QStringList{"card.png"})
        << "a release away from the wheel converted the card";
    EXPECT_EQ(QDir(shown).entryList(QDir::Files).size(), 2) << "a drop was lost";
    EXPECT_EQ(QDir(desktopFolder).entryList(QDir::Files).size(), 3) << "a drop was lost";
    b.desktop.screenshot(Desktop::shotsDir() + "/wheel-after-drags.png");
}

// The display going away while the wheel converts a large picture: the program waits for the conversion as it
// waits for a tool, and no empty or partial file is left; the source stays as it was or is converted whole.
TEST(WheelE2E, TheDisplayGoingAwayDuringAConversionLeavesNoPartialFile) {
    WheelApp app;
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    // A small file that takes seconds to convert: a flat picture of 16383 × 16383 pixels.
    const QString huge = app.desktop.folder("Drop") + "/huge.webp";
    {
        QImage image(16383, 16383, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        QImageWriter writer(huge, "webp");
        writer.setQuality(100);
        ASSERT_TRUE(writer.write(image));
    }
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    file.close();
    ASSERT_TRUE(app.source(100, 100, {huge}));
    app.beginDrag(QPoint(200, 200));
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true)) << app.desktop.appStderr().toStdString();
    // One file, not a WebP: five formats and Compress, PNG the first, at the top.
    for (int pause : {100, 100, 400}) {
        app.nudge(0, -30);
        Desktop::pause(pause);
    }
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-over-png.png");
    app.desktop.xdotool({"mouseup", "1"});
    app.key("keyup", "shift");
    // Under way once the program holds the decoded picture.
    const auto resident = [&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(app.desktop.app()->processId()));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(0);
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() << 10;
        return qint64(0);
    };
    ASSERT_TRUE(Desktop::waitUntil([&] { return resident() > (qint64(600) << 20); }, 15000, 20))
        << "no conversion began: " << app.dropFolder().join(' ').toStdString();
    app.desktop.killDisplay();
    ASSERT_TRUE(app.desktop.app()->waitForFinished(45000));
    const QStringList left = app.dropFolder();
    if (left == QStringList{"huge.webp"}) {
        file.open(QIODevice::ReadOnly);
        EXPECT_EQ(file.readAll(), original) << "the source changed";
        return;
    }
    ASSERT_EQ(left.join(QLatin1Char(' ')).toStdString(), "huge.png") << "an empty or partial file beside the source";
    // Whole: its last chunk, the end chunk, is there.
    QFile png(app.desktop.folder("Drop") + "/huge.png");
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    ASSERT_GT(png.size(), 1000);
    png.seek(png.size() - 12);
    EXPECT_EQ(png.read(12).toHex(), QByteArray("0000000049454e44ae426082"));
    QImageReader reader(png.fileName());
    EXPECT_EQ(reader.size(), QSize(16383, 16383));
}

// Where nothing composites the wheel's window is shaped; a drop from a file manager on the thin gap between two
// segments must reach the wheel, not the desktop behind it, where the file manager would move the file. Nor may a
// later drag that lets go on the centre the moment the wheel comes up under a still pointer.
TEST(WheelE2E, FileManagerDropOnAGapLineConvertsAndMovesNothing) {
    WheelApp app;
    ASSERT_TRUE(app.ready) << app.desktop.error().toStdString();
    const QString desktopFolder = app.desktop.home() + "/Desktop";
    QDir().mkpath(desktopFolder);
    app.desktop.start("pcmanfm", {"--desktop"});
    ASSERT_TRUE(Desktop::waitUntil([&] { return !app.desktop.windowsByName("^pcmanfm$").isEmpty(); }, 10000, 200));
    app.file("a.png");
    app.file("b.png");
    app.desktop.start("pcmanfm", {app.desktop.folder("Drop")});
    const quint32 folder = app.desktop.waitVisible("^Drop$", true, 10000);
    ASSERT_NE(folder, 0u);
    app.desktop.xdotool({"windowsize", QString::number(folder), "340", "300"});
    app.desktop.xdotool({"windowmove", QString::number(folder), "40", "40"});
    Desktop::pause(500);

    // One PNG: five formats and Compress, so a gap lies straight right of the centre, between WebP and HEIC.
    const auto dragOut = [&](int icon, QPoint to) { // the icon's row in the folder
        app.desktop.moveTo(app.desktop.clientGeometry(folder).topLeft() + QPoint(206, 95 + 75 * icon));
        Desktop::pause(200);
        app.desktop.xdotool({"mousedown", "1"});
        for (int step = 0; step < 12; ++step) {
            Desktop::pause(40);
            app.nudge(30, 20);
        }
        app.desktop.moveTo(to);
        Desktop::pause(200);
        app.key("keydown", "shift");
    };
    dragOut(0, {640, 400}); // a.png
    ASSERT_TRUE(app.waitWheel(true)) << app.desktop.appStderr().toStdString();
    const QPoint centre = app.desktop.clientGeometry(app.wheel()).center() + QPoint(1, 1);
    for (int part = 1; part <= 4; ++part) { // along the gap line, as a hand goes
        app.desktop.moveTo(centre + QPoint(15 * part, 0));
        Desktop::pause(part == 4 ? 300 : 60);
    }
    app.desktop.screenshot(Desktop::shotsDir() + "/wheel-gap-drop.png");
    app.desktop.xdotool({"mouseup", "1"});
    app.key("keyup", "shift");
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            const QStringList files = app.dropFolder();
            return files.size() == 2 && !files.contains("a.png");
        },
        10000))
        << app.dropFolder().join(' ').toStdString();
    EXPECT_EQ(QDir(desktopFolder).entryList(QDir::Files), QStringList()) << "the drop went to the desktop";

    ASSERT_TRUE(app.waitWheel(false));
    dragOut(1, {900, 300}); // b.png, the wheel elsewhere this time
    ASSERT_TRUE(app.waitWheel(true));
    Desktop::pause(150);
    app.desktop.xdotool({"mouseup", "1"});
    app.key("keyup", "shift");
    EXPECT_FALSE(Desktop::waitUntil([&] { return !QDir(desktopFolder).isEmpty(QDir::Files); }, 1000))
        << "a drop on the wheel's centre went to the desktop";
    EXPECT_TRUE(app.dropFolder().contains("b.png")) << app.dropFolder().join(' ').toStdString();
}
