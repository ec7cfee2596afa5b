// The format wheel in the real program: another program drags picture files out while the wheel key is
// held; the wheel shows under the pointer, hides with the key or the button, and a drop converts.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>

namespace {

const QString wheelTitle = QStringLiteral("^Pictolarium Format Wheel$");
constexpr int wheelSize = 340;

class WheelApp {
public:
    explicit WheelApp(qlonglong wheelModifier = 0) : desktop(options()) {
        if (!desktop.ok())
            return;
        QJsonObject settings;
        settings[QStringLiteral("onboardingSeen")] = Desktop::typed("bool", true);
        if (wheelModifier)
            settings[QStringLiteral("wheelModifier")] = Desktop::typed("int", wheelModifier);
        const QString folder = desktop.configHome() + QStringLiteral("/Pictolarium");
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/org.pictolarium.Pictolarium.json"));
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
        for (auto& source : sources) {
            ::kill(pid_t(source->processId()), SIGTERM);
            source->waitForFinished(2000);
        }
    }

    // Pictures (and other files) in a folder of their own.
    QString file(const QString& name) {
        const QString path = desktop.folder(QStringLiteral("Drop")) + QLatin1Char('/') + name;
        if (name.endsWith(QLatin1String(".png"))) {
            QImage image(480, 320, QImage::Format_RGB32);
            image.fill(QColor(230, 120, 40));
            image.save(path);
        } else {
            QFile text(path);
            if (text.open(QIODevice::WriteOnly))
                text.write("notes\n");
        }
        return path;
    }
    QStringList dropFolder() const {
        return QDir(desktop.folder(QStringLiteral("Drop"))).entryList(QDir::Files, QDir::Name);
    }

    // A window at the rectangle that drags the files out; true once it shows.
    bool source(QRect at, const QStringList& files) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(desktop.environment());
        QStringList args{QString::number(at.x()), QString::number(at.y()), QString::number(at.width()),
                         QString::number(at.height())};
        process->start(QStringLiteral(DRAG_SOURCE_BIN), args + files);
        if (!process->waitForStarted(5000))
            return false;
        QProcess* p = process.get();
        sources.push_back(std::move(process));
        QString output;
        const bool shown = Desktop::waitUntil(
            [&] {
                output += QString::fromUtf8(p->readAllStandardOutput());
                return output.contains(QStringLiteral("ready"));
            },
            8000);
        Desktop::pause(400);
        return shown;
    }

    // Presses the button at the point and moves as a hand would, which starts the source's drag.
    // Relative steps: the server reports those as raw motion, as it does for a real mouse.
    void beginDrag(QPoint from) {
        desktop.moveTo(from);
        Desktop::pause(200);
        desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        Desktop::pause(100);
        for (int i = 0; i < 6; ++i) {
            nudge(10, 5);
            Desktop::pause(60);
        }
        Desktop::pause(200);
    }
    void nudge(int dx, int dy) {
        desktop.xdotool(
            {QStringLiteral("mousemove_relative"), QStringLiteral("--"), QString::number(dx), QString::number(dy)});
    }
    void key(const char* action, const char* name) { desktop.xdotool({QLatin1String(action), QLatin1String(name)}); }
    QPoint pointer() {
        const QString out = desktop.run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation")});
        static const QRegularExpression re(QStringLiteral("x:(\\d+) y:(\\d+)"));
        const auto m = re.match(out);
        return {m.captured(1).toInt(), m.captured(2).toInt()};
    }

    quint32 wheel() {
        const QString out =
            desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                    QStringLiteral("--name"), wheelTitle});
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).trimmed().toUInt();
    }
    bool waitWheel(bool shown, int ms = 3000) {
        return Desktop::waitUntil([&] { return (wheel() != 0) == shown; }, ms, 40);
    }

    Desktop desktop;
    bool ready = false;

private:
    static Desktop::Options options() {
        Desktop::Options o;
        o.tray = false; // a panel would take a strip of the screen the wheel is kept inside
        return o;
    }
    std::vector<std::unique_ptr<QProcess>> sources;
};

// Where the centre of segment i of n lies, 111 pixels out from the centre, clockwise from the top.
QPoint segmentOffset(int i, int n) {
    const double a = (90.0 - i * 360.0 / n) * M_PI / 180.0;
    return {int(std::lround(111 * std::cos(a))), int(-std::lround(111 * std::sin(a)))};
}

} // namespace

TEST(WheelE2E, DropOnJpegConvertsBothPicturesBesideThem) {
    WheelApp app;
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    const QString a = app.file(QStringLiteral("a.png")), b = app.file(QStringLiteral("b.png"));
    ASSERT_TRUE(app.source(QRect(100, 100, 300, 200), {a, b}));

    app.beginDrag(QPoint(200, 200));
    EXPECT_EQ(app.wheel(), 0u) << "shown without the wheel key";
    app.key("keydown", "shift");
    ASSERT_TRUE(app.waitWheel(true)) << app.desktop.appStderr().toStdString();
    const QPoint centre = app.pointer();
    const quint32 wheel = app.wheel();
    EXPECT_EQ(app.desktop.clientGeometry(wheel), QRect(centre - QPoint(170, 170), QSize(wheelSize, wheelSize)));
    EXPECT_TRUE(app.desktop.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(wheel)})
                    .contains(QStringLiteral("Override Redirect State: yes")));

    // Two files: every writable format and Compress, JPEG second.
    const QPoint offset = segmentOffset(1, 7);
    app.nudge(offset.x() / 2, offset.y() / 2);
    Desktop::pause(100);
    app.nudge(offset.x() - offset.x() / 2, offset.y() - offset.y() / 2);
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
    const QString trash = app.desktop.environment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Trash/files/");
    EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("a.png")));
    EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("b.png")));
    EXPECT_FALSE(QImage(QFileInfo(a).dir().filePath(QStringLiteral("a.jpg"))).isNull());
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return !app.desktop.windowsByName(QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 3000));
    Desktop::pause(300);
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-toast.png"));
}

TEST(WheelE2E, HidesWithTheKeyOrTheButtonAndNeverForOtherFiles) {
    WheelApp app;
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    ASSERT_TRUE(app.source(QRect(100, 100, 300, 200), {app.file(QStringLiteral("a.png"))}));
    ASSERT_TRUE(app.source(QRect(700, 100, 300, 200),
                           {app.file(QStringLiteral("c.png")), app.file(QStringLiteral("notes.txt"))}));

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
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-text-file.png"));
}

TEST(WheelE2E, ChosenKeySummonsItKeptOnTheScreen) {
    WheelApp app(262144); // Ctrl
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    ASSERT_TRUE(app.source(QRect(900, 560, 360, 220), {app.file(QStringLiteral("a.png"))}));

    app.beginDrag(QPoint(1000, 650));
    app.nudge(200, 100);
    Desktop::pause(100);
    app.key("keydown", "shift");
    EXPECT_FALSE(app.waitWheel(true, 1000)) << "Shift summoned it with Ctrl chosen";
    app.key("keydown", "ctrl");
    ASSERT_TRUE(app.waitWheel(true));
    // Centred on a pointer near the corner, the wheel would leave the screen: it stays inside.
    EXPECT_EQ(app.desktop.clientGeometry(app.wheel()), QRect(1280 - wheelSize, 800 - wheelSize, wheelSize, wheelSize));
    Desktop::pause(200);
    app.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/wheel-corner.png"));
}
