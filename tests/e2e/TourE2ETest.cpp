// The first-run tour on a real desktop: its window, its keys, the hot-action switch, the setup
// checks and where it reopens, and every page's scene (kept for a person to look at) with its artwork.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <tuple>

namespace {

const QString kTour = "^Pictolarium Tour$";

QJsonObject settings(Desktop& desktop) {
    QFile file(desktop.configHome() + "/Pictolarium/org.pictolarium.Pictolarium.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonValue setting(Desktop& desktop, const char* key) {
    return settings(desktop).value(QLatin1String(key)).toObject().value("v");
}

// A first run that left off at the setup page.
void leftAtSetup(Desktop& desktop) {
    const QString folder = desktop.configHome() + "/Pictolarium";
    QDir().mkpath(folder);
    QFile file(folder + "/org.pictolarium.Pictolarium.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonObject{{"onboardingAtPermissions", Desktop::typed("bool", true)}}).toJson());
}

struct Tour {
    explicit Tour(Desktop::Options options = {}) : desktop((options.firstRun = true, options)) {
        desktop.setEnvironment("PICTOLARIUM_TRACE", "1");
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
    void key(const char* name) { desktop.key(QString::fromLatin1(name)); }
    void clickAt(QPoint inWindow) { desktop.click(desktop.clientGeometry(window()).topLeft() + inWindow); }
    QString state() { return desktop.run("xprop", {"-id", QString::number(window()), "_NET_WM_STATE"}); }
    Desktop desktop;
};

// Green stands well above red and blue: the program's greens, not the dark card or a grey.
bool greenish(const QColor& c) {
    return c.green() > 110 && c.green() > c.blue() + 40;
}

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
        EXPECT_TRUE(tour.says("tour: WELCOME | Meet Pictolarium"));
        EXPECT_TRUE(tour.state().contains("_NET_WM_STATE_ABOVE")) << "the tour stays above others";
        if (tray) {
            Desktop::pause(600);
            tour.desktop.screenshot(Desktop::shotsDir() + "/tour-welcome.png");
        }

        for (const auto& [key, page, times] : {std::tuple{"Right", "PICK | Tap to grab a window", 1},
                                               {"Return", "SLICE | Hold to slice a piece", 1},
                                               {"space", "THE CARD | Edit right on the card", 1},
                                               {"Left", "SLICE | Hold to slice a piece", 2}}) {
            tour.key(key);
            EXPECT_TRUE(tour.says(QStringLiteral("tour: ") + QLatin1String(page), times)) << key;
        }

        tour.key("Escape");
        EXPECT_TRUE(Desktop::waitUntil([&] { return tour.desktop.windowsByName(kTour).isEmpty(); }, 3000));
        EXPECT_EQ(setting(tour.desktop, "onboardingSeen"), QJsonValue(true));
        EXPECT_EQ(setting(tour.desktop, "onboardingAtPermissions"), QJsonValue(false));
        EXPECT_TRUE(tour.says(tray ? "tour hint: panel" : "tour hint: no tray"));
        Desktop::pause(400);
        tour.desktop.screenshot(Desktop::shotsDir() + (tray ? "/tour-hint.png" : "/tour-hint-no-tray.png"));
    }
}

TEST(Tour, TheSwitchStopsAndRestoresTheCaptureKey) {
    Tour tour;
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    ASSERT_TRUE(tour.start());
    tour.key("Right");
    ASSERT_TRUE(tour.says("tour: PICK"));
    Desktop::pause(900);
    tour.desktop.screenshot(Desktop::shotsDir() + "/tour-pick.png");
    const QPoint toggle(338, 427); // "On" beside the key caps and "Change"
    const QString tap = "hot action: capture tap";

    for (const bool on : {false, true}) {
        tour.clickAt(toggle);
        ASSERT_TRUE(Desktop::waitUntil([&] { return setting(tour.desktop, "shortcut.enabled.capture") == on; }, 3000));
        tour.key("super+shift+d");
        if (on) {
            EXPECT_TRUE(tour.says(tap)) << "switched on again";
        } else {
            Desktop::pause(1000);
            EXPECT_EQ(tour.desktop.appStderr().count(tap), 0) << "switched off";
        }
    }
}

TEST(Tour, TheSetupPageChecksThisDesktopAndIsWhereItReopens) {
    const struct {
        const char* name;
        bool compositor;
        bool grabbed;
        bool wayland;
        const char* said;
        const char* title;
    } cases[] = {
        {"all ready", true, false, false, "setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | \u2713  Ready",
         "Ready to capture"},
        {"no compositor", false, false, false, "setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | Off",
         "Not ready: compositor"},
        {"capture key taken", false, true, false, "setup: \u2713  Ready | Taken | \u2713  Ready | Off",
         "Not ready: hot keys and compositor"},
        {"wayland", false, false, true, "setup: Wayland | \u2713  Ready | \u2713  Ready | Off",
         "Not ready: capture and compositor"},
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
            other.start(GRABKEY_BIN, {"d", "super,shift", "--hold"});
            ASSERT_TRUE(other.waitForReadyRead(5000));
        }
        if (c.wayland)
            tour.desktop.setEnvironment("WAYLAND_DISPLAY", "wayland-0");
        ASSERT_TRUE(tour.start());
        EXPECT_TRUE(tour.says(QStringLiteral("tour: SETUP | ") + QLatin1String(c.title)))
            << tour.desktop.appStderr().toStdString();
        EXPECT_TRUE(tour.says(QString::fromUtf8(c.said))) << tour.desktop.appStderr().toStdString();

        if (&c == cases) {
            Desktop::pause(900);
            tour.desktop.screenshot(Desktop::shotsDir() + "/tour-setup.png");
            // Below other windows' reach of "always on top": the user may need the desktop's settings.
            EXPECT_FALSE(tour.state().contains("_NET_WM_STATE_ABOVE"));
            // Quitting here brings the user back here.
            tour.desktop.app()->terminate();
            tour.desktop.app()->waitForFinished(5000);
            ASSERT_TRUE(tour.start());
            EXPECT_TRUE(tour.says("tour: SETUP | Ready to capture"));
            EXPECT_EQ(setting(tour.desktop, "onboardingAtPermissions"), QJsonValue(true));
        }
        if (c.grabbed) {
            other.terminate();
            other.waitForFinished(2000);
            // Let go by the other program: the check takes the key on its next poll.
            EXPECT_TRUE(tour.says("setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | Off | Not ready: compositor",
                                  1, 5000))
                << tour.desktop.appStderr().toStdString();
        }
    }
}

TEST(Tour, FitsAShortScreenWithItsButtonsInReach) {
    Desktop::Options options;
    options.size = QSize(1024, 480);
    Tour tour(options);
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says("tour: WELCOME"));
    Desktop::pause(900);
    tour.desktop.screenshot(Desktop::shotsDir() + "/tour-short-screen.png");
    const QRect frame = tour.desktop.clientGeometry(tour.window());
    EXPECT_EQ(frame.width(), 600);
    EXPECT_GE(frame.top(), 0);
    EXPECT_LE(frame.bottom(), 480 - 1) << "the buttons at the bottom are on the screen";
}

TEST(Tour, EveryPageShowsItsSceneAndTheArtwork) {
    Tour tour;
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    ASSERT_TRUE(tour.start());
    Desktop& desktop = tour.desktop;
    // Away from the scene, so nothing follows the pointer.
    desktop.moveTo(QPoint(2, 2));
    // The scene sits 28 points in from the window's left and 20 down, 544 wide.
    const QPoint scene = desktop.clientGeometry(tour.window()).topLeft() + QPoint(28, 20);
    const char* pages[] = {"welcome", "pick", "slice", "card", "basket", "latest", "wheel", "setup"};
    for (int i = 0; i < 8; ++i) {
        if (i > 0)
            tour.key("Right");
        Desktop::pause(2500);
        const QImage shot =
            desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/tour-scene-%1-%2.png").arg(i).arg(pages[i]));
        ASSERT_FALSE(shot.isNull());
        // The crest's hub at the stage's centre (272, 168 from the bottom of the 300-point stage). The setup card
        // is 216 high: the stage is shown at 0.72, centred; the shield's upper left, below where its picture
        // fades out, is at (237, 197) on the stage.
        const QPoint crest(272, 300 - 168), shield(int(272 + (237 - 272) * 0.72), int(216 - (108 + 47 * 0.72)));
        if (i == 0 || i == 7) {
            EXPECT_TRUE(greenish(shot.pixelColor(scene + (i == 0 ? crest : shield)))) << pages[i];
        }
    }
}

// With a terminal holding the keyboard first and the capture key held by another program: the start-up alert and
// the Change dialog stand above the tour and take the keyboard, each is clicked through, and the tour has the
// keyboard back after. The window manager's close (Alt+F4) then ends the tour as Skip does.
TEST(Tour, OurDialogsStandAboveItAndAWindowManagerCloseCountsAsSkip) {
    Tour tour;
    Desktop& desktop = tour.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    const QString log = desktop.home() + "/keys.log";
    ASSERT_NE(desktop.keyLogTerminal(log), 0u);
    QProcess other;
    other.setProcessEnvironment(desktop.environment());
    other.start(GRABKEY_BIN, {"d", "super,shift", "--hold"});
    ASSERT_TRUE(other.waitForReadyRead(5000));
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says("tour: WELCOME"));

    // A dialog's own window by its title, its button at (right - x, bottom - y) clicked once it has the keyboard.
    auto clickThrough = [&](const QString& title, QPoint fromBottomRight, const QString& name) {
        const quint32 dialog = desktop.waitVisible(title, true, 5000);
        ASSERT_NE(dialog, 0u) << name.toStdString();
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == dialog; }, 3000)) << name.toStdString();
        Desktop::pause(300);
        desktop.screenshot(Desktop::shotsDir() + "/tour-" + name + ".png");
        const QRect frame = desktop.clientGeometry(dialog);
        desktop.click(frame.bottomRight() - fromBottomRight);
        EXPECT_EQ(desktop.waitVisible(title, false, 3000), 0u) << name.toStdString() << ": the click was lost";
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == tour.window(); }, 3000))
            << name.toStdString() << ": the tour has the keyboard back";
    };
    clickThrough("^Couldn't register", QPoint(65, 33), "alert");
    tour.key("Right");
    ASSERT_TRUE(tour.says("tour: PICK"));
    Desktop::pause(900);
    tour.clickAt(QPoint(274, 427)); // "Change" beside the key caps
    clickThrough("^Shortcut for", QPoint(278, 33), "change-dialog");
    EXPECT_TRUE(tour.says("tour: PICK", 1)) << "the tour stayed where it was";

    tour.key("alt+F4");
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.windowsByName(kTour).isEmpty(); }, 3000));
    EXPECT_EQ(setting(desktop, "onboardingSeen"), QJsonValue(true));
    EXPECT_EQ(setting(desktop, "onboardingAtPermissions"), QJsonValue(false));
    QFile typed(log);
    ASSERT_TRUE(typed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(typed.readAll().isEmpty());
    other.terminate();
    other.waitForFinished(2000);
}

// On the setup page without a compositor, a click on the "Off" note does nothing, and one press of "Let's go"
// then ends the tour.
TEST(Tour, OnePressOfLetsGoEndsItAfterAClickOnACheck) {
    Tour tour;
    ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
    leftAtSetup(tour.desktop);
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says("tour: SETUP | Not ready: compositor"));
    ASSERT_TRUE(tour.says("| Off"));
    Desktop::pause(900);
    const QRect before = tour.desktop.clientGeometry(tour.window());
    tour.clickAt(QPoint(523, 459)); // the compositor's "Off"
    Desktop::pause(400);
    tour.clickAt(QPoint(525, 522)); // "Let's go"
    EXPECT_TRUE(Desktop::waitUntil([&] { return tour.desktop.windowsByName(kTour).isEmpty(); }, 3000))
        << "moved by " << (tour.desktop.clientGeometry(tour.window()).topLeft() - before.topLeft()).manhattanLength();
    EXPECT_EQ(setting(tour.desktop, "onboardingSeen"), QJsonValue(true));
}

// Every page at twice the scale and on a short screen, kept for a person to look at: the window stays on the
// screen with its buttons in reach.
TEST(Tour, EveryPageAtTwiceTheScaleAndOnAShortScreen) {
    const struct {
        const char* name;
        QSize screen;
        const char* scale;
    } cases[] = {{"2x", QSize(2560, 1600), "2"}, {"1024x600", QSize(1024, 600), "1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop::Options options;
        options.size = c.screen;
        Tour tour(options);
        ASSERT_TRUE(tour.desktop.ok()) << tour.desktop.error().toStdString();
        tour.desktop.setEnvironment("QT_SCALE_FACTOR", c.scale);
        ASSERT_TRUE(tour.start());
        ASSERT_TRUE(tour.says("tour: WELCOME"));
        tour.desktop.moveTo(QPoint(2, 2));
        for (int page = 1; page <= 8; ++page) {
            if (page > 1) {
                tour.key("Right");
                ASSERT_TRUE(Desktop::waitUntil([&] { return tour.desktop.appStderr().count("tour: ") >= page; }, 3000));
            }
            Desktop::pause(1200);
            const QRect frame = tour.desktop.clientGeometry(tour.window());
            EXPECT_TRUE(QRect(QPoint(0, 0), c.screen).contains(frame)) << page;
            tour.desktop.screenshot().copy(frame).save(
                Desktop::shotsDir() + QStringLiteral("/tour-%1-page%2.png").arg(QLatin1String(c.name)).arg(page));
        }
    }
}

namespace {

// The managed windows from the bottom of the stack to the top, as the window manager has them.
QList<quint32> stacking(Desktop& desktop) {
    const QString out = desktop.run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    QList<quint32> ids;
    for (const QString& id : out.section('#', 1).split(',', Qt::SkipEmptyParts))
        ids.append(id.trimmed().toUInt(nullptr, 16));
    return ids;
}

} // namespace

// Each panel menu item that opens a window of ours, picked with real keys while the tour shows: the window stands
// above the tour, and once it is gone the tour's own keys work again. The slice overlay (another program's window
// above all) and cards (which never take the keyboard) leave the keyboard with the tour throughout.
TEST(Tour, WindowsOpenedFromThePanelMenuStandAboveItAndHandItTheKeysBack) {
    Tour tour;
    Desktop& desktop = tour.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    const QString log = desktop.home() + "/keys.log";
    ASSERT_NE(desktop.keyLogTerminal(log, {20, 40}), 0u);
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says("tour: WELCOME"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == tour.window(); }, 3000));
    const QPoint icon = desktop.trayIcon();
    ASSERT_FALSE(icon.isNull()) << "no panel icon";
    const auto downs = [](int n) { return QStringList(n, "Down"); };
    const struct {
        const char* name;
        QStringList keys;   // to the item in the open menu; Return picks it
        const char* window; // its title; empty for the slice overlay
        const char* close;  // a key, or empty: a card goes by itself once the pointer has left it
    } items[] = {
        {"capture", downs(1), "^Pictolarium Card$", ""},
        {"slice", downs(2), "", "Escape"},
        {"basket", downs(3), "^Pictolarium Basket$", "Escape"},
        {"latest", downs(4), "^Pictolarium Card$", ""},
        {"change-shortcut", downs(6) + QStringList{"Right", "Right", "Down"}, "^Shortcut for", "Escape"},
        {"translation-language", downs(7), "^Translation Language$", "Escape"},
        // From the bottom, clear of the size slider, which would take the steps for itself.
        {"customize-toolbar", QStringList(6, "Up"), "^Customize Toolbar$", "alt+F4"},
    };
    int pages = 1; // "tour: PICK" lines so far, plus one
    for (const auto& item : items) {
        SCOPED_TRACE(item.name);
        desktop.click(icon);
        Desktop::pause(500);
        desktop.xdotool(QStringList{"key", "--delay", "80"} + item.keys + QStringList{"Return"});
        if (!*item.window)
            Desktop::pause(1200);
        if (*item.window) {
            const quint32 opened = desktop.waitVisible(item.window, true, 4000);
            ASSERT_NE(opened, 0u) << desktop.appStderr().toStdString();
            const QList<quint32> stack = stacking(desktop);
            EXPECT_GT(stack.indexOf(opened), stack.indexOf(tour.window())) << "opened under the tour";
            desktop.screenshot(Desktop::shotsDir() + "/tour-over-" + item.name + ".png");
        }
        desktop.moveTo({2, 2});
        if (*item.close)
            desktop.key(item.close);
        if (*item.window)
            EXPECT_EQ(desktop.waitVisible(item.window, false, 8000), 0u) << "still open";
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == tour.window(); }, 3000))
            << "the tour has not the keyboard back";
        tour.key("Right");
        EXPECT_TRUE(tour.says("tour: PICK", pages, 3000)) << "Right did not reach the tour";
        tour.key("Left");
        EXPECT_TRUE(tour.says("tour: WELCOME", pages + 1, 3000)) << "Left did not reach the tour";
        ++pages;
    }
    // The tour's own item opens a fresh tour, which has the keyboard at once.
    desktop.click(icon);
    Desktop::pause(500);
    desktop.xdotool({"key", "--delay", "80", "Up", "Up", "Return"});
    ASSERT_TRUE(tour.says("tour: WELCOME", pages + 1, 4000));
    Desktop::pause(600);
    tour.key("Right");
    EXPECT_TRUE(tour.says("tour: PICK", pages, 3000));
    QFile typed(log);
    ASSERT_TRUE(typed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(typed.readAll().isEmpty()) << "keys meant for the tour reached the terminal";
}

namespace {

QByteArray logged(const QString& log) {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A line typed now reaches the terminal and leaves the tour on its page.
void typedIntoTerminal(Desktop& desktop, const QString& log) {
    desktop.xdotool({"type", "--delay", "40", "echo hi"});
    desktop.key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return logged(log).startsWith("echo hi"); }, 3000))
        << logged(log).toStdString();
    EXPECT_EQ(desktop.appStderr().count("tour: PICK"), 0) << "keys meant for the terminal paged the tour";
}

} // namespace

// While the tour shows and the user went back to a terminal, the keyboard stays there: the basket, opened by its key
// and closed by Escape, hands it back, and a setup check that starts passing (a compositor came) only repaints.
TEST(Tour, ATerminalTheUserWentBackToKeepsTheKeyboard) {
    Tour tour;
    Desktop& desktop = tour.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    leftAtSetup(desktop);
    const QString log = desktop.home() + "/keys.log";
    const quint32 terminal = desktop.keyLogTerminal(log, {20, 40});
    ASSERT_NE(terminal, 0u);
    ASSERT_TRUE(tour.start());
    ASSERT_TRUE(tour.says("setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | Off"))
        << desktop.appStderr().toStdString();
    Desktop::pause(600);
    desktop.xdotool({"windowactivate", "--sync", QString::number(terminal)}); // as a click on it would
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == terminal; }, 3000));
    Desktop::pause(300);
    QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        desktop.key("super+shift+s");
        const quint32 basket = desktop.waitVisible("^Pictolarium Basket$", true, 5000);
        ASSERT_NE(basket, 0u) << desktop.appStderr().toStdString();
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == basket; }, 3000));
        desktop.key("Escape");
        EXPECT_EQ(desktop.waitVisible("^Pictolarium Basket$", false, 3000), 0u);
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == terminal; }, 3000))
            << "the keyboard went to " << desktop.activeWindow();
        Desktop::pause(300);
        typedIntoTerminal(desktop, log);
        QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
    }

    desktop.start("xcompmgr");
    ASSERT_TRUE(tour.says("setup: \u2713  Ready | \u2713  Ready | \u2713  Ready | \u2713  Ready", 1, 5000))
        << desktop.appStderr().toStdString();
    Desktop::pause(500);
    EXPECT_EQ(desktop.activeWindow(), terminal) << "the tour took the keyboard";
    typedIntoTerminal(desktop, log);
    Desktop::pause(300);
    EXPECT_FALSE(desktop.windowsByName(kTour).isEmpty()) << "a Return for the terminal ended the tour";
    EXPECT_NE(setting(desktop, "onboardingSeen"), QJsonValue(true));
}
