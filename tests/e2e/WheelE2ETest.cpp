// The format wheel in the real program: another program drags picture files out while the wheel key is
// held; the wheel shows under the pointer, hides with the key or the button, and a drop converts.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class WheelApp {
public:
    explicit WheelApp(qlonglong wheelModifier = 0) : desktop(Desktop::Options{.tray = false}) {
        if (!desktop.ok())
            return;
        QJsonObject settings{{QStringLiteral("onboardingSeen"), Desktop::typed("bool", true)}};
        if (wheelModifier)
            settings[QStringLiteral("wheelModifier")] = Desktop::typed("int", wheelModifier);
        QDir().mkpath(desktop.configHome() + QStringLiteral("/Pictolarium"));
        QFile file(desktop.configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(settings).toJson());
        file.close();
        desktop.startApp();
        ready = desktop.waitForApp();
    }
    ~WheelApp() {
        if (!desktop.ok())
            return;
        desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("shift"), QStringLiteral("ctrl")});
        desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    }

    // A picture (or, by any other extension, a text file) in the drop folder.
    QString file(const QString& name) {
        const QString path = desktop.folder(QStringLiteral("Drop")) + QLatin1Char('/') + name;
        QImage image(480, 320, QImage::Format_RGB32);
        image.fill(QColor(230, 120, 40));
        QFile text(path);
        if (!name.endsWith(QLatin1String(".png")) && text.open(QIODevice::WriteOnly))
            text.write("notes\n");
        else
            image.save(path);
        return path;
    }
    QStringList dropFolder() const {
        return QDir(desktop.folder(QStringLiteral("Drop"))).entryList(QDir::Files, QDir::Name);
    }

    // A window at x, y (300 × 200) that drags the files out; true once it shows.
    bool source(int x, int y, const QStringList& files) {
        desktop.start(
            QStringLiteral(DRAG_SOURCE_BIN),
            QStringList{QString::number(x), QString::number(y), QStringLiteral("300"), QStringLiteral("200")} + files);
        const int shown = ++sources;
        const bool up =
            Desktop::waitUntil([&] { return visible(QStringLiteral("^drag-source$")).size() == shown; }, 8000, 100);
        Desktop::pause(400);
        return up;
    }

    // Presses at the point and moves as a hand would, which starts the source's drag; ends 60, 30 further.
    // Relative steps: the server reports those as raw motion, as it does for a real mouse.
    void beginDrag(QPoint from) {
        desktop.moveTo(from);
        Desktop::pause(200);
        // A first click only brings the window forward: some window managers keep that press for themselves.
        desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
        Desktop::pause(300);
        desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        for (int i = 0; i < 6; ++i) {
            Desktop::pause(60);
            nudge(10, 5);
        }
        Desktop::pause(200);
    }
    void nudge(int dx, int dy) {
        desktop.xdotool(
            {QStringLiteral("mousemove_relative"), QStringLiteral("--"), QString::number(dx), QString::number(dy)});
    }
    void key(const char* action, const char* name) { desktop.xdotool({QLatin1String(action), QLatin1String(name)}); }

    QStringList visible(const QString& title) {
        return desktop
            .run(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    quint32 wheel() { return visible(QStringLiteral("^Pictolarium Format Wheel$")).value(0).toUInt(); }
    bool waitWheel(bool shown, int ms = 3000) {
        return Desktop::waitUntil([&] { return (wheel() != 0) == shown; }, ms, 40);
    }

    Desktop desktop;
    bool ready = false;

private:
    int sources = 0;
};

} // namespace

TEST(WheelE2E, DropOnJpegConvertsBothPicturesBesideThem) {
    WheelApp app;
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    ASSERT_TRUE(app.source(100, 100, {app.file(QStringLiteral("a.png")), app.file(QStringLiteral("b.png"))}));

    app.beginDrag(QPoint(200, 200));
    EXPECT_EQ(app.wheel(), 0u) << "shown without the wheel key";
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true)) << app.desktop.appStderr().toStdString();
    const quint32 wheel = app.wheel();
    EXPECT_EQ(app.desktop.clientGeometry(wheel), QRect(260 - 170, 230 - 170, 340, 340));
    EXPECT_TRUE(app.desktop.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(wheel)})
                    .contains(QStringLiteral("Override Redirect State: yes")));

    // Two files: the six formats and Compress; JPEG is the second of seven, clockwise from the top.
    const double a = (90.0 - 360.0 / 7) * M_PI / 180;
    app.nudge(int(std::lround(55 * std::cos(a))), -int(std::lround(55 * std::sin(a))));
    Desktop::pause(100);
    app.nudge(int(std::lround(55 * std::cos(a))), -int(std::lround(55 * std::sin(a))));
    Desktop::pause(400);
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-over-jpeg.png"));
    app.desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    app.key("keyup", "shift");

    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            return app.dropFolder() == QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")};
        },
        10000))
        << app.dropFolder().join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(app.waitWheel(false, 1000));
    const QString trash =
        app.desktop.environment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Trash/files/");
    EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("a.png")) &&
                QFileInfo::exists(trash + QStringLiteral("b.png")));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return !app.desktop.windowsByName(QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 3000));
    Desktop::pause(300);
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-toast.png"));
}

TEST(WheelE2E, HidesWithTheKeyOrTheButtonAndNeverShowsForOtherFiles) {
    WheelApp app;
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    ASSERT_TRUE(app.source(100, 100, {app.file(QStringLiteral("a.png"))}));
    ASSERT_TRUE(app.source(700, 100, {app.file(QStringLiteral("c.png")), app.file(QStringLiteral("notes.txt"))}));

    app.beginDrag(QPoint(200, 200));
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true));
    app.key("keyup", "shift");
    EXPECT_TRUE(app.waitWheel(false, 1000)) << "letting the key go leaves the wheel";
    app.key("keydown", "shift");
    EXPECT_TRUE(app.waitWheel(true, 1000)) << "the same drag does not bring it back";

    app.nudge(300, 0); // away from the wheel, over nothing that takes files
    Desktop::pause(200);
    app.desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
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
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    ASSERT_TRUE(app.source(950, 580, {app.file(QStringLiteral("a.png"))}));

    app.beginDrag(QPoint(1000, 650));
    app.nudge(200, 100); // near the corner, where a centred wheel would leave the screen
    Desktop::pause(100);
    app.key("keydown", "shift");
    EXPECT_FALSE(app.waitWheel(true, 1000)) << "Shift summoned it with Ctrl chosen";
    app.key("keydown", "ctrl");
    ASSERT_TRUE(app.waitWheel(true));
    EXPECT_EQ(app.desktop.clientGeometry(app.wheel()), QRect(1280 - 340, 800 - 340, 340, 340));
    Desktop::pause(200);
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-corner.png"));
}
