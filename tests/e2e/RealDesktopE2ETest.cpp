// The capture road on a desktop as users have it: our own card over the window captured again, slices
// held for seconds, a keyboard layout switched after start, a screenshot folder that cannot take files,
// see-through and frameless windows under a compositor, and a terminal recorded while it scrolls.

#include "Desktop.h"
#include "capture/Capture.h"
#include "platform/x11/X11WindowList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

const QString card = "^Pictolarium Card$";
const QString toast = "^Pictolarium Toast$";

// The client area of a shown window of the class wider than minWidth, waited for.
QRect waitForClass(Desktop& desktop, const QString& windowClass, int minWidth, int ms) {
    QRect client;
    Desktop::waitUntil(
        [&] {
            for (const QString& id : desktop.run("xdotool", {"search", "--onlyvisible", "--class", windowClass})
                                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                if (const QRect r = desktop.clientGeometry(id.trimmed().toUInt()); r.width() > minWidth)
                    client = r;
            return !client.isEmpty();
        },
        ms);
    return client;
}

// Taps the capture key until a toast shows, and gives where it shows. On a busy machine the program can answer
// its socket before it holds the key, and a tap in that gap is lost; a second tap after that is harmless where
// nothing can be written.
QRect captureGivesToast(Desktop& desktop) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        desktop.key("super+shift+d");
        if (const quint32 id = desktop.waitVisible(toast, true, attempt == 0 ? 3000 : 5000))
            return desktop.clientGeometry(id);
    }
    return {};
}

// An xterm showing lines of text, its client area returned once it is up.
QRect startXterm(Desktop& desktop, const QStringList& args) {
    desktop.start("xterm", args);
    const QRect client = waitForClass(desktop, "xterm", 0, 8000);
    Desktop::pause(800);
    return client;
}

// What the picture says, read by OCR at three times the size, the lines joined by spaces.
QString textIn(Desktop& desktop, const QImage& picture) {
    const QString path = desktop.folder("ocr") + "/text.png";
    picture.scaled(picture.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(path);
    return desktop.run("tesseract", {path, "stdout"}).simplified();
}

// The first new PNG in the screenshot folder that is not one of these and ends as asked.
QString waitForNewPng(Desktop& desktop, const QStringList& before, const QString& ending = {}, int ms = 8000) {
    QString found;
    Desktop::waitUntil(
        [&] {
            for (const QString& name : QDir(desktop.shotsFolder()).entryList({"*.png"}, QDir::Files, QDir::Name))
                if (!before.contains(name) && name.endsWith(ending))
                    found = name;
            return !found.isEmpty();
        },
        ms);
    return found;
}

// The scroll tool first in the pill, at its left end; the one-time toolbar steps marked done so that
// the stored order survives the launch.
void scrollToolFirst(Desktop& desktop) {
    QJsonObject settings;
    for (const char* flag : {"picto.toolShareSecondLastV6", "picto.toolResizeRotateV5", "picto.toolOrderV2"})
        settings[QLatin1String(flag)] = Desktop::typed("bool", true);
    settings["picto.toolOrder"] = Desktop::typed("array", QJsonArray{Desktop::typed("string", "scroll")});
    settings["picto.toolHidden"] = Desktop::typed("array", QJsonArray{});
    const QString folder = desktop.configHome() + "/Pictolarium";
    QDir().mkpath(folder);
    QFile file(folder + "/org.pictolarium.Pictolarium.json");
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(settings).toJson());
}

// Clicks the card's scroll tool: the first button of the dark pill across the card's bottom.
bool clickScrollTool(Desktop& desktop) {
    const quint32 window = desktop.visibleWindow(card);
    if (!window)
        return false;
    const QRect bounds = desktop.clientGeometry(window);
    const QImage screen = desktop.screenshot();
    const int pillY = bounds.bottom() - 22 - 18;
    for (int x = bounds.left(); x <= bounds.right(); ++x) {
        const QColor c = screen.pixelColor(x, pillY);
        if (c.red() + c.green() + c.blue() < 200) {
            desktop.click(QPoint(x + 21, pillY));
            return true;
        }
    }
    return false;
}

// xterm's colour cube: index 16 + 36 r + 6 g + b, each step one of these levels. Black and white are
// the terminal's own colours, not a line's. Lines are numbered from 1.
int terminalLine(QRgb colour) {
    static const int levels[] = {0, 95, 135, 175, 215, 255};
    int cube = 0;
    for (int channel : {qRed(colour), qGreen(colour), qBlue(colour)}) {
        const int* step = std::find(std::begin(levels), std::end(levels), channel);
        if (step == std::end(levels))
            return -1;
        cube = cube * 6 + int(step - levels);
    }
    return cube == 0 || cube == 215 ? -1 : cube;
}

// Paragraph n's background: each channel one of ten light steps, so the colour gives the number back
// and the card's dark pill stands out against any of them.
QColor paragraphColour(int n) {
    return QColor(80 + (n % 10) * 19, 80 + (n / 10 % 10) * 19, 80 + (n / 100 % 10) * 19);
}

int paragraphOf(QRgb c) {
    int n = 0, scale = 1;
    for (int v : {qRed(c), qGreen(c), qBlue(c)}) {
        const int s = (v - 80 + 9) / 19;
        if (v < 77 || s >= 10 || std::abs(80 + s * 19 - v) > 3)
            return -1;
        n += s * scale;
        scale *= 10;
    }
    return n;
}

// What a stitched page shows, read band by band: the commonest colour of each row across [left, left +
// width) names its band, runs of one band are collapsed, and rows between the first band and the last
// that name none (a hint, a seam) are counted.
struct Bands {
    QList<int> runs;
    int foreignRows = 0;
};
Bands bandsShown(const QImage& image, int left, int width, int (*bandOf)(QRgb)) {
    Bands bands;
    int unnamed = 0;
    for (int y = 0; y < image.height(); ++y) {
        QHash<QRgb, int> counts;
        for (int x = left; x < left + width && x < image.width(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
        const auto common = std::max_element(counts.cbegin(), counts.cend());
        const int band = common != counts.cend() && *common >= width / 2 ? bandOf(common.key()) : -1;
        if (band <= 0) {
            ++unnamed;
            continue;
        }
        if (!bands.runs.isEmpty())
            bands.foreignRows += unnamed;
        unnamed = 0;
        if (bands.runs.isEmpty() || bands.runs.last() != band)
            bands.runs.append(band);
    }
    return bands;
}

// Captures the window under card with the capture key, starts the card's scroll tool, turns the wheel over
// at by the given clicks (positive down, negative up) and ends with the capture key: the full page.
QImage recordScrolling(Desktop& desktop, QPoint cardAt, QPoint at, const QList<int>& wheel) {
    desktop.moveTo(cardAt);
    Desktop::pause(200);
    desktop.key("super+shift+d");
    if (waitForNewPng(desktop, {}).isEmpty() || !desktop.waitVisible(card))
        return {};
    Desktop::pause(100);
    if (!clickScrollTool(desktop) || !desktop.waitVisible("^Pictolarium Scroll Hint$"))
        return {};
    desktop.moveTo(at);
    Desktop::pause(500);
    for (int clicks : wheel) {
        desktop.xdotool(
            {"click", "--repeat", QString::number(std::abs(clicks)), "--delay", "40", clicks > 0 ? "5" : "4"});
        Desktop::pause(600);
    }
    desktop.screenshot(Desktop::shotsDir() + "/scroll-recording-end.png");
    desktop.key("super+shift+d");
    const QString full = waitForNewPng(desktop, {}, " full.png", 30000);
    Desktop::pause(500);
    return full.isEmpty() ? QImage() : QImage(QDir(desktop.shotsFolder()).filePath(full));
}

// Every band from the first to the last reached once, in order, and nothing else between them.
void expectEveryBandOnceInOrder(const Bands& bands, int last) {
    std::printf("bands %d..%d in %lld runs, %d foreign rows\n", bands.runs.value(0),
                bands.runs.isEmpty() ? 0 : bands.runs.last(), qint64(bands.runs.size()), bands.foreignRows);
    ASSERT_FALSE(bands.runs.isEmpty());
    EXPECT_EQ(bands.runs.first(), 1);
    EXPECT_GE(bands.runs.last(), last);
    for (qsizetype i = 1; i < bands.runs.size(); ++i)
        EXPECT_EQ(bands.runs[i], bands.runs[i - 1] + 1) << "after " << bands.runs[i - 1];
    EXPECT_EQ(bands.foreignRows, 0);
}

} // namespace

TEST(RealDesktop, OurCardIsNeverInTheNextCaptureOfTheWindow) {
    // Without a compositor the screen is copied and the card must step aside; with one the window's own
    // picture is taken and the card can stay.
    for (const bool compositor : {false, true}) {
        SCOPED_TRACE(compositor ? "with a compositor" : "without a compositor");
        Desktop::Options options;
        options.compositor = compositor;
        Desktop desktop(options);
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp());
        const QRect client = startXterm(desktop, {"-geometry", "90x30+80+60", "-e", "sh", "-c", "seq 1 40; sleep 600"});
        ASSERT_FALSE(client.isEmpty());
        desktop.moveTo(client.center());
        Desktop::pause(300);

        desktop.key("super+shift+d");
        const QString first = waitForNewPng(desktop, {});
        ASSERT_FALSE(first.isEmpty()) << desktop.appStderr().toStdString();
        const quint32 window = desktop.waitVisible(card);
        ASSERT_NE(window, 0u);
        Desktop::pause(700);
        desktop.screenshot(Desktop::shotsDir() +
                           QStringLiteral("/own-windows-card-over-window-%1.png").arg(compositor));
        // The card sits over the window, under the pointer.
        EXPECT_TRUE(desktop.clientGeometry(window).intersects(client));

        desktop.key("super+shift+d");
        const QString second = waitForNewPng(desktop, {first});
        ASSERT_FALSE(second.isEmpty()) << desktop.appStderr().toStdString();
        const QImage a = QImage(QDir(desktop.shotsFolder()).filePath(first)).convertToFormat(QImage::Format_RGB32);
        const QImage b = QImage(QDir(desktop.shotsFolder()).filePath(second)).convertToFormat(QImage::Format_RGB32);
        b.save(Desktop::shotsDir() + QStringLiteral("/own-windows-second-capture-%1.png").arg(compositor));
        EXPECT_TRUE(!a.isNull() && a == b) << "the second capture differs from the first";
        // The card is back after the grab, showing the new capture.
        EXPECT_NE(desktop.waitVisible(card), 0u);
    }
}

TEST(RealDesktop, ASliceHeldForSecondsShowsItsOutlineAndGivesTheDraggedSize) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run("xsetroot", {"-solid", "#406080"});
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    desktop.moveTo(QPoint(200, 200));
    Desktop::pause(300);
    const QImage before = desktop.screenshot();

    desktop.xdotool({"keydown", "super+shift+d"});
    Desktop::pause(4000);
    desktop.xdotool({"mousedown", "1"});
    Desktop::pause(100);
    desktop.moveTo(QPoint(350, 300));
    Desktop::pause(100);
    desktop.moveTo(QPoint(500, 400));
    Desktop::pause(300);
    const QImage during = desktop.screenshot(Desktop::shotsDir() + "/slice-held-outline.png");
    desktop.xdotool({"mouseup", "1"});
    desktop.xdotool({"keyup", "super+shift+d"});

    // The outline runs along the dragged rectangle's edges on the frozen screen.
    int outlined = 0;
    for (int x = 210; x < 490; ++x)
        outlined += during.pixel(x, 200) != before.pixel(x, 200) && during.pixel(x, 400) != before.pixel(x, 400);
    EXPECT_GT(outlined, 250) << "no outline during the hold";

    const QString slice = waitForNewPng(desktop, {});
    ASSERT_FALSE(slice.isEmpty()) << desktop.appStderr().toStdString();
    EXPECT_TRUE(slice.startsWith("Slice 20")) << slice.toStdString();
    EXPECT_EQ(QImage(QDir(desktop.shotsFolder()).filePath(slice)).size(), QSize(300, 200));
}

TEST(RealDesktop, TheCaptureKeyFollowsAKeyboardLayoutSwitchedAfterStart) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    int code = -1;
    desktop.run("setxkbmap", {"dvorak"}, &code);
    ASSERT_EQ(code, 0);
    Desktop::pause(500);
    desktop.moveTo(QPoint(400, 300));
    // xdotool finds "d" where the new layout has it.
    desktop.key("super+shift+d");
    EXPECT_FALSE(waitForNewPng(desktop, {}).isEmpty()) << desktop.appStderr().toStdString();
    desktop.run("setxkbmap", {"us"});
}

// A file in the folder's place, and a folder that takes no files: its mode binds a user, and the program starting
// with no room to write binds root as well. Either way a toast in our words, on the screen, and nothing kept.
TEST(RealDesktop, AScreenshotFolderThatCannotTakeFilesIsToldInOurWordsOnScreen) {
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "a folder that takes no files" : "a file in the folder's place");
        Desktop::Options options;
        options.noRoomToWrite = readOnly;
        Desktop desktop(options);
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        desktop.run("xsetroot", {"-solid", "#406080"});
        QDir().mkpath(readOnly ? desktop.shotsFolder() : desktop.home() + "/Pictures");
        QFile blocker(desktop.shotsFolder());
        if (readOnly)
            QFile::setPermissions(desktop.shotsFolder(), QFile::ReadOwner | QFile::ExeOwner);
        else
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
        // With no room to write, the settings can't be saved either: that toast comes at the start, and the capture
        // waits until it has gone, or the one found could be it, taken down as the capture's replaces it.
        if (readOnly) {
            desktop.waitVisible(toast, true, 8000);
            desktop.waitVisible(toast, false, 8000);
        }
        // The file case near the right edge, where a toast centred on the pointer would run off the screen.
        desktop.moveTo(readOnly ? QPoint(640, 400) : QPoint(1270, 400));
        Desktop::pause(300);
        const QRect shown = captureGivesToast(desktop);
        ASSERT_FALSE(shown.isEmpty()) << desktop.appStderr().toStdString();
        Desktop::pause(100);
        const QImage screen = desktop.screenshot(
            Desktop::shotsDir() + (readOnly ? "/folder-takes-no-files-toast.png" : "/folder-is-a-file-toast.png"));
        EXPECT_FALSE(desktop.appStderr().contains("pictolarium-screencapture:"));
        if (!readOnly) {
            EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(shown))
                << shown.x() << "," << shown.y() << " " << shown.width();
            EXPECT_TRUE(QFileInfo(desktop.shotsFolder()).isFile()) << "the file in the folder's place is left alone";
            continue;
        }
        const QString said = textIn(desktop, screen.copy(shown));
        EXPECT_TRUE(said.contains("Pictures/Pictolarium")) << said.toStdString();
        EXPECT_TRUE(said.contains(geteuid() == 0 ? "larger than this system allows" : "the folder is read-only"))
            << said.toStdString();
        QFile::setPermissions(desktop.shotsFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(QDir(desktop.shotsFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList());
    }
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
    Capture::setTool(SCREENCAPTURE_BIN);
    desktop.start(CLEAR_WINDOW_BIN);
    const quint32 id = desktop.waitVisible("^Clear Window$", true, 8000);
    ASSERT_NE(id, 0u);
    // The toolkit's own type comes first in the list, before the standard one.
    const QString types = desktop.run("xprop", {"-id", QString::number(id), "_NET_WM_WINDOW_TYPE"});
    EXPECT_TRUE(types.contains("_KDE_NET_WM_WINDOW_TYPE_OVERRIDE, _NET_WM_WINDOW_TYPE_NORMAL")) << types.toStdString();
    desktop.run("xprop", {"-id", QString::number(id), "-f", "_GTK_FRAME_EXTENTS", "32c", "-set", "_GTK_FRAME_EXTENTS",
                          "10, 10, 10, 10"});
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
    image.save(Desktop::shotsDir() + "/clear-window-capture.png");
    desktop.screenshot(Desktop::shotsDir() + "/clear-window-desktop.png");
    EXPECT_EQ(image.size(), QSize(280, 180));
    EXPECT_TRUE(shot.image.hasAlphaChannel());
    EXPECT_EQ(image.pixel(40, 90), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(image.pixel(240, 90)), 0) << "the clear half is not clear";
    Capture::setWindowList(nullptr);
    Capture::setTool({});
}

TEST(RealDesktop, ATerminalScrolledInBurstsAndBackUpGivesEveryLineOnceInOrder) {
    Desktop::Options options;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run("xsetroot", {"-solid", "#5080c0"});
    scrollToolFirst(desktop);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    // 150 lines, each on a background colour of its own, scrolled back to the first.
    const QString script = QStringLiteral("i=1; while [ $i -le 150 ]; do printf '\\033[48;5;%dm%-50s\\033[0m\\n' "
                                          "$((16+i)) \"line $i\"; i=$((i+1)); done; sleep 600");
    const QRect client = startXterm(desktop, {"-geometry", "60x30+100+40", "-e", "sh", "-c", script});
    ASSERT_FALSE(client.isEmpty());
    desktop.moveTo(client.center());
    desktop.xdotool({"click", "--repeat", "40", "--delay", "20", "4"});
    Desktop::pause(500);

    // Five lines a click: down 60, up 10, down 15 past where it was, up 5; the last line shown is 95. The
    // card opens near the window's bottom, so its pill lies below the window.
    const QImage page = recordScrolling(desktop, QPoint(client.center().x(), client.bottom() - 10), client.center(),
                                        {3, 3, 3, 3, -2, 3, -1});
    ASSERT_FALSE(page.isNull()) << desktop.appStderr().toStdString();
    page.save(Desktop::shotsDir() + "/scroll-xterm-full.png");
    expectEveryBandOnceInOrder(bandsShown(page, 20, 250, terminalLine), 95);
}

TEST(RealDesktop, ABrowserPageScrolledSmoothlyInBurstsGivesEveryParagraphOnceAndNoHint) {
    QString browser = QStandardPaths::findExecutable("chromium");
    if (browser.isEmpty())
        browser = QStandardPaths::findExecutable("chromium-browser");
    if (browser.isEmpty())
        GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it)";
    Desktop::Options options;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    scrollToolFirst(desktop);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    QString html = QStringLiteral("<!doctype html><html><head><style>body{margin:0}div{height:70px;padding-left:16px;"
                                  "font:20px sans-serif;line-height:70px;color:#fff}</style></head><body>");
    for (int n = 1; n <= 200; ++n)
        html += QStringLiteral("<div style=\"background:%1\">Paragraph %2</div>").arg(paragraphColour(n).name()).arg(n);
    const QString pagePath = desktop.home() + "/page.html";
    QFile file(pagePath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((html + "</body></html>").toUtf8());
    file.close();
    // A window that fills the screen, so the recording's hint has to go over it.
    desktop.start(browser, {"--no-sandbox", "--no-first-run", "--disable-gpu", "--no-default-browser-check",
                            "--password-store=basic", "--enable-smooth-scrolling", "--window-position=0,0",
                            "--window-size=1280,800", QStringLiteral("--user-data-dir=") + desktop.folder("chromium"),
                            QStringLiteral("--app=file://") + pagePath});
    const QRect client = waitForClass(desktop, "chromium", 600, 30000);
    ASSERT_FALSE(client.isEmpty());
    Desktop::pause(3000);

    // Smooth scrolling animates every click; three clicks a burst, then back up and on a little.
    const QImage page = recordScrolling(desktop, QPoint(client.center().x(), client.bottom() - 60),
                                        QPoint(client.center().x(), client.top() + 200), {3, 3, 3, 3, 3, -2, 1});
    ASSERT_FALSE(page.isNull()) << desktop.appStderr().toStdString();
    page.save(Desktop::shotsDir() + "/scroll-browser-full.png");
    // Read across the middle, where the hint sat over the window.
    expectEveryBandOnceInOrder(bandsShown(page, page.width() / 2 - 200, 400, paragraphOf), 30);
}
