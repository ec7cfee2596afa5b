#include "Desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Bright pixels in the panel's tray area: the aperture is drawn light on the dark panel.
int brightPixels(const QImage& screen, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(screen.pixel(x, y)) > 160)
                ++count;
    return count;
}

// The shared libraries a program names (its NEEDED entries), which the loader maps before main().
QStringList namedLibraries(const QString& program) {
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), program});
    readelf.waitForFinished(10000);
    QStringList names;
    static const QRegularExpression needed(QStringLiteral("\\(NEEDED\\).*\\[(.+)\\]"));
    for (const QString& line : QString::fromUtf8(readelf.readAllStandardOutput()).split(u'\n'))
        if (const QRegularExpressionMatch m = needed.match(line); m.hasMatch())
            names.append(m.captured(1));
    return names;
}

} // namespace

TEST(Startup, ShowsTheApertureInTheTrayAndCreatesTheFolder) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    QProcess* app = desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());

    EXPECT_TRUE(Desktop::waitUntil([&] { return QFileInfo(desktop.shotsFolder()).isDir(); }, 5000));

    // The panel is 200 × 30 at the bottom right; the icon docks within a second or so.
    const QRect tray(1280 - 200, 800 - 30, 200, 30);
    QImage screen;
    const bool docked = Desktop::waitUntil(
        [&] {
            screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/startup-tray.png"));
            return !screen.isNull() && brightPixels(screen, tray) > 30;
        },
        8000, 300);
    EXPECT_TRUE(docked) << "no light icon in the tray area";
    EXPECT_FALSE(desktop.appStderr().contains(QStringLiteral("no system tray")));

    // A start loads what the icon and the hot keys need: none of the large libraries behind recognition,
    // codes, cut-outs, HEIC and PDF pages, until one of them is used.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(app->processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromUtf8(maps.readAll());
    [[maybe_unused]] const QStringList named = namedLibraries(QStringLiteral(PICTOLARIUM_BIN));
    for (const char* library : {"libtesseract", "libZXing", "libcld2", "libopencv", "libheif", "libqpdf", "libQt6Pdf",
                                "pictolarium-vision", "pictolarium-heif"}) {
#ifdef PICTOLARIUM_SANITIZED
        // The sanitizer build's link keeps code the release link leaves out (the decoding child's PDF pages), and
        // the loader maps a library the program names before main(): only the release is held to those.
        if (std::any_of(named.begin(), named.end(),
                        [&](const QString& n) { return n.startsWith(QLatin1String(library)); }))
            continue;
#endif
        EXPECT_FALSE(mapped.contains(QLatin1String(library))) << library << " is loaded at start";
    }
}

TEST(Startup, ASecondLaunchHandsOverReopenAndExitsAtOnce) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    EXPECT_TRUE(desktop.windowsByName(QStringLiteral("Pictolarium Basket")).isEmpty());

    QElapsedTimer timer;
    timer.start();
    int code = -1;
    desktop.run(QStringLiteral(PICTOLARIUM_BIN), {}, &code, 5000);
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(code, 0);
    EXPECT_LT(elapsed, 1000);

    // The running copy toggles the basket on reopen.
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return !desktop.windowsByName(QStringLiteral("Pictolarium Basket")).isEmpty(); }, 5000));
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
}

TEST(Startup, RunsWithoutATrayAndSaysSoOnce) {
    Desktop::Options options;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    Desktop::waitUntil([&] { return desktop.appStderr().contains(QStringLiteral("no system tray")); }, 5000);
    const QString err = desktop.appStderr();
    EXPECT_EQ(err.count(QStringLiteral("no system tray")), 1) << err.toStdString();
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
}

TEST(Startup, AFirstRunGreetsWithTheTourAndALaterOneDoesNot) {
    for (bool first : {true, false}) {
        Desktop::Options options;
        options.firstRun = first;
        Desktop desktop(options);
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp());
        const bool shown =
            Desktop::waitUntil([&] { return !desktop.windowsByName(QStringLiteral("^Pictolarium Tour$")).isEmpty(); },
                               first ? 5000 : 2000);
        EXPECT_EQ(shown, first);
    }
}
