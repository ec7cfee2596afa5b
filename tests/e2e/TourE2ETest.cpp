// The first-run tour on a real desktop: its window, its keys, the hot-action switch, the setup
// checks and where it reopens.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const QString kTour = QStringLiteral("^Pictolarium Tour$");

QJsonObject settings(Desktop& desktop) {
    QFile file(desktop.configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonValue setting(Desktop& desktop, const char* key) {
    return settings(desktop).value(QLatin1String(key)).toObject().value(QStringLiteral("v"));
}

// A first run that left off at the setup page.
void leftAtSetup(Desktop& desktop) {
    const QString folder = desktop.configHome() + QStringLiteral("/Pictolarium");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/org.pictolarium.Pictolarium.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        QJsonDocument(QJsonObject{{QStringLiteral("onboardingAtPermissions"), Desktop::typed("bool", true)}}).toJson());
}

struct Tour {
    explicit Tour(Desktop::Options options = {}) : desktop((options.firstRun = true, options)) {
        desktop.setEnvironment(QStringLiteral("PICTOLARIUM_TRACE"), QStringLiteral("1"));
    }
    bool start() {
        desktop.startApp();
        if (!desktop.waitForApp())
            return false;
        return Desktop::waitUntil([&] { return !desktop.windowsByName(kTour).isEmpty(); }, 5000);
    }
    quint32 window() { return desktop.windowsByName(kTour).value(0); }
    bool says(const QString& line, int times = 1, int timeoutMs = 3000) {
        return Desktop::waitUntil([&] { return desktop.appStderr().count(line) >= times; }, timeoutMs);
    }
    void key(const char* name) { desktop.xdotool({QStringLiteral("key"), QString::fromLatin1(name)}); }
    void clickAt(QPoint inWindow) {
        const QPoint at = desktop.clientGeometry(window()).topLeft() + inWindow;
        desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
    }
    Desktop desktop;
};

} // namespace

TEST(Tour, AFirstRunPagesByKeysAndEndsWithTheTrayHint) {
    for (const bool tray : {true, false}) {
        SCOPED_TRACE(tray ? "with a tray" : "without a tray");
        Desktop::Options options;
        options.tray = tray;
        Tour tour(options);
        ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
        ASSERT_TRUE(tour.start());
        const QRect frame = tour.desktop.clientGeometry(tour.window());
        EXPECT_EQ(frame.size(), QSize(600, 560));
        EXPECT_NEAR(frame.left(), (1280 - 600) / 2, 1) << "centred";
        EXPECT_TRUE(tour.says(QStringLiteral("tour: WELCOME | Meet Pictolarium")));
        const QString state =
            tour.desktop.run(QStringLiteral("xprop"),
                             {QStringLiteral("-id"), QString::number(tour.window()), QStringLiteral("_NET_WM_STATE")});
        EXPECT_TRUE(state.contains(QStringLiteral("_NET_WM_STATE_ABOVE"))) << "the tour stays above other windows";
        if (tray) {
            Desktop::pause(600);
            tour.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/tour-welcome.png"));
        }

        tour.key("Right");
        EXPECT_TRUE(tour.says(QStringLiteral("tour: PICK | Tap to grab a window")));
        tour.key("Return");
        EXPECT_TRUE(tour.says(QStringLiteral("tour: SLICE | Hold to slice a piece")));
        tour.key("space");
        EXPECT_TRUE(tour.says(QStringLiteral("tour: THE CARD | Edit right on the card")));
        tour.key("Left");
        EXPECT_TRUE(tour.says(QStringLiteral("tour: SLICE | Hold to slice a piece"), 2));

        tour.key("Escape");
        EXPECT_TRUE(Desktop::waitUntil([&] { return tour.desktop.windowsByName(kTour).isEmpty(); }, 3000));
        EXPECT_EQ(setting(tour.desktop, "onboardingSeen"), QJsonValue(true));
        EXPECT_EQ(setting(tour.desktop, "onboardingAtPermissions"), QJsonValue(false));
        EXPECT_TRUE(tour.says(tray ? QStringLiteral("tour hint: panel") : QStringLiteral("tour hint: no tray")));
        Desktop::pause(400);
        tour.desktop.screenshot(Desktop::shotsDir() +
                                (tray ? QStringLiteral("/tour-hint.png") : QStringLiteral("/tour-hint-no-tray.png")));
    }
}

TEST(Tour, TheSwitchStopsAndRestoresTheCaptureKey) {
    Tour tour;
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    ASSERT_TRUE(tour.start());
    tour.key("Right");
    ASSERT_TRUE(tour.says(QStringLiteral("tour: PICK")));
    Desktop::pause(900);
    tour.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/tour-pick.png"));
    const QPoint toggle(338, 427); // "On" beside the key caps and "Change"
    const QString tap = QStringLiteral("hot action: capture tap");

    tour.clickAt(toggle);
    ASSERT_TRUE(Desktop::waitUntil([&] { return setting(tour.desktop, "shortcut.enabled.capture") == false; }, 3000));
    tour.desktop.xdotool({QStringLiteral("key"), QStringLiteral("super+shift+d")});
    Desktop::pause(1000);
    EXPECT_EQ(tour.desktop.appStderr().count(tap), 0) << "switched off";

    tour.clickAt(toggle);
    ASSERT_TRUE(Desktop::waitUntil([&] { return setting(tour.desktop, "shortcut.enabled.capture") == true; }, 3000));
    tour.desktop.xdotool({QStringLiteral("key"), QStringLiteral("super+shift+d")});
    EXPECT_TRUE(tour.says(tap)) << "switched on again";
}

TEST(Tour, TheSetupPageChecksThisDesktopAndIsWhereItReopens) {
    const struct {
        const char* name;
        bool compositor;
        bool grabbed;
        bool wayland;
        const char* said;
    } cases[] = {
        {"all ready", true, false, false, "setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | \u2713  Ready"},
        {"no compositor", false, false, false, "setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | Off"},
        {"capture key taken", false, true, false, "setup: \u2713  Ready | Taken | \u2713  Ready | Off"},
        {"wayland", false, false, true, "setup: Wayland | \u2713  Ready | \u2713  Ready | Off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop::Options options;
        options.compositor = c.compositor;
        Tour tour(options);
        ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
        leftAtSetup(tour.desktop);
        QProcess other;
        if (c.grabbed) {
            other.setProcessEnvironment(tour.desktop.environment());
            other.start(QStringLiteral(GRABKEY_BIN),
                        {QStringLiteral("d"), QStringLiteral("super,shift"), QStringLiteral("--hold")});
            ASSERT_TRUE(other.waitForReadyRead(5000));
        }
        if (c.wayland)
            tour.desktop.setEnvironment(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        ASSERT_TRUE(tour.start());
        EXPECT_TRUE(tour.says(QStringLiteral("tour: SETUP | Ready to capture")));
        EXPECT_TRUE(tour.says(QString::fromUtf8(c.said))) << tour.desktop.appStderr().toStdString();

        if (&c == cases) {
            Desktop::pause(900);
            tour.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/tour-setup.png"));
            // Below other windows' reach of "always on top": the user may need the desktop's settings.
            const QString state =
                tour.desktop.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(tour.window()),
                                                           QStringLiteral("_NET_WM_STATE")});
            EXPECT_FALSE(state.contains(QStringLiteral("_NET_WM_STATE_ABOVE"))) << state.toStdString();
            // Quitting here brings the user back here.
            tour.desktop.app()->terminate();
            tour.desktop.app()->waitForFinished(5000);
            ASSERT_TRUE(tour.start());
            EXPECT_TRUE(tour.says(QStringLiteral("tour: SETUP | Ready to capture")));
            EXPECT_EQ(setting(tour.desktop, "onboardingAtPermissions"), QJsonValue(true));
        }
        if (c.grabbed) {
            other.terminate();
            other.waitForFinished(2000);
        }
    }
}

TEST(Tour, FitsAShortScreenWithItsButtonsInReach) {
    Desktop::Options options;
    options.size = QSize(1024, 480);
    Tour tour(options);
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says(QStringLiteral("tour: WELCOME")));
    Desktop::pause(900);
    tour.desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/tour-short-screen.png"));
    const QRect frame = tour.desktop.clientGeometry(tour.window());
    EXPECT_EQ(frame.width(), 600);
    EXPECT_GE(frame.top(), 0);
    EXPECT_LE(frame.bottom(), 480 - 1) << "the buttons at the bottom are on the screen";
}
