// The capture engine and pictolarium-screencapture on a real X desktop: the window under the
// pointer with its frame, whole screens, dragged slices, and the in-process window grab.

#include "Desktop.h"
#include "capture/Capture.h"
#include "imaging/ShotFiles.h"
#include "platform/x11/X11WindowList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <signal.h>

namespace {

QString stampPattern(const char* word) {
    return QStringLiteral("^%1 \\d{4}-\\d\\d-\\d\\d at \\d\\d\\.\\d\\d\\.\\d\\d\\.png$").arg(QLatin1String(word));
}

// Points this process (and the tools it starts) at the test desktop.
class CaptureOn {
public:
    explicit CaptureOn(Desktop& desktop) : list(desktop.display()) {
        qputenv("DISPLAY", desktop.display().toUtf8());
        qputenv("HOME", desktop.home().toUtf8());
        Capture::setWindowList(&list);
        Capture::setTool(QStringLiteral(SCREENCAPTURE_BIN));
    }
    ~CaptureOn() {
        Capture::setWindowList(nullptr);
        Capture::setTool({});
    }
    X11WindowList list;
};

std::optional<Capture::WindowInfo> waitForApp(const QString& app) {
    std::optional<Capture::WindowInfo> found;
    Desktop::waitUntil(
        [&] {
            for (const Capture::WindowInfo& w : Capture::windows())
                if (w.app == app)
                    found = w;
            return found.has_value();
        },
        10000);
    return found;
}

// Lets time pass with the event loop running, so queued completions are delivered meanwhile.
// Waits for the slice overlay to be up and holding the pointer.
bool waitForOverlay(Desktop& desktop) {
    const bool up = Desktop::waitUntil(
        [&] { return !desktop.windowsByName(QStringLiteral("^pictolarium-screencapture$")).isEmpty(); }, 10000);
    Desktop::pause(200);
    return up;
}

// Pixel for pixel, whatever the formats and colour spaces the files declared.
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

// A screenshot once the screen has stopped changing (a shell still printing its prompt, say), so
// that a capture taken next must show the same pixels.
QImage settledScreen(Desktop& desktop, const QString& savePath = {}) {
    QImage last = desktop.screenshot();
    Desktop::waitUntil(
        [&] {
            const QImage next = desktop.screenshot(savePath);
            const bool same = differentPixels(next, last) == 0;
            last = next;
            return same;
        },
        5000, 100);
    return last;
}

QStringList shots() {
    return QDir(ShotFiles::shotsFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A slice of the screen, and what its completion was handed.
struct SliceResult {
    int calls = 0;
    std::optional<Shot> shot;

    void start() {
        Capture::region([this](std::optional<Shot> got) {
            ++calls;
            shot = std::move(got);
        });
    }
};

} // namespace

TEST(CaptureE2E, WindowUnderThePointerIsCapturedWithItsFrame) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("70x20+160+120")});
    const auto listed = waitForApp(QStringLiteral("XTerm"));
    ASSERT_TRUE(listed.has_value());
    const QRect client = desktop.clientGeometry(listed->id);
    ASSERT_FALSE(client.isEmpty());
    // The frame holds the client and a title bar above it.
    EXPECT_TRUE(listed->bounds.contains(client));
    EXPECT_GT(listed->bounds.height(), client.height() + 10);

    desktop.xdotool(
        {QStringLiteral("mousemove"), QString::number(client.center().x()), QString::number(client.center().y())});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::mouseCG() == client.center(); }, 3000));
    const auto under = Capture::windowUnderCursor();
    ASSERT_TRUE(under.has_value());
    EXPECT_EQ(under->id, listed->id);

    const QImage screen = settledScreen(desktop, Desktop::shotsDir() + QStringLiteral("/capture-window-desktop.png"));
    const Shot shot = Capture::capture(*under);
    const QString name = shot.fileURL.fileName();
    EXPECT_TRUE(QRegularExpression(stampPattern("XTerm")).match(name).hasMatch()) << name.toStdString();
    EXPECT_EQ(shot.appName, QStringLiteral("XTerm"));
    EXPECT_EQ(shot.image.size(), under->bounds.size());
    EXPECT_EQ(QImage(shot.fileURL.toLocalFile()).size(), under->bounds.size());
    // The file holds exactly what the screen shows there.
    EXPECT_EQ(differentPixels(shot.image, screen.copy(under->bounds)), 0);
    shot.image.save(Desktop::shotsDir() + QStringLiteral("/capture-window.png"));

    // The in-process grab sees the same pixels without a file.
    const QImage grabbed = Capture::captureWindowModern(under->id);
    EXPECT_EQ(grabbed.size(), under->bounds.size());
    EXPECT_EQ(differentPixels(grabbed, shot.image), 0);
    EXPECT_EQ(shots().size(), 1);

    // Once the window is gone, the grab says so.
    desktop.run(QStringLiteral("xdotool"), {QStringLiteral("windowkill"), QString::number(under->id)});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::windows().isEmpty(); }, 5000));
    try {
        Capture::captureWindowModern(under->id);
        ADD_FAILURE() << "grabbed a window that is gone";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.message, QStringLiteral("Window is gone"));
    }
    // A window capture of it says so in our words, not the tool's.
    try {
        Capture::capture(*under);
        ADD_FAILURE() << "captured a window that is gone";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.message, QStringLiteral("The window was gone before it could be captured."));
    }
}

TEST(CaptureE2E, WithACompositorAWindowIsCapturedAloneWhereOthersCoverIt) {
    Desktop::Options options;
    options.compositor = true;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("70x20+100+100"),
                                            QStringLiteral("-title"), QStringLiteral("back")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::windows().size() == 1; }, 10000));
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("40x10+300+200"),
                                            QStringLiteral("-title"), QStringLiteral("front")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::windows().size() == 2; }, 10000));
    const QList<Capture::WindowInfo> listed = Capture::windows();
    const Capture::WindowInfo front = listed.at(0), back = listed.at(1);
    ASSERT_TRUE(back.bounds.intersects(front.bounds));
    const QImage screen =
        settledScreen(desktop, Desktop::shotsDir() + QStringLiteral("/capture-composited-desktop.png"));

    desktop.xdotool({QStringLiteral("mousemove"), QString::number(back.bounds.left() + 20),
                     QString::number(back.bounds.top() + 60)});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::mouseCG() == back.bounds.topLeft() + QPoint(20, 60); }, 3000));
    const auto under = Capture::windowUnderCursor();
    ASSERT_TRUE(under.has_value());
    ASSERT_EQ(under->id, back.id);
    const Shot shot = Capture::capture(*under);
    shot.image.save(Desktop::shotsDir() + QStringLiteral("/capture-composited-window.png"));
    ASSERT_EQ(shot.image.size(), back.bounds.size());

    // Outside the front window the picture is the screen; inside it, the back window's own pixels.
    const QRect covered = back.bounds.intersected(front.bounds).translated(-back.bounds.topLeft());
    const QImage seen = screen.copy(back.bounds);
    int outsideDiffer = 0, insideDiffer = 0;
    for (int y = 0; y < seen.height(); ++y)
        for (int x = 0; x < seen.width(); ++x) {
            const bool differ = (seen.pixel(x, y) & 0xffffff) != (shot.image.pixel(x, y) & 0xffffff);
            (covered.contains(x, y) ? insideDiffer : outsideDiffer) += differ ? 1 : 0;
        }
    EXPECT_EQ(outsideDiffer, 0);
    EXPECT_GT(insideDiffer, covered.width() * 20) << "the front window's title bar should not be in the picture";
}

TEST(CaptureE2E, WithoutACompositorACoveredWindowHoldsNoneOfTheWindowInFront) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    ASSERT_FALSE(desktop.selectionOwned(QStringLiteral("_NET_WM_CM_S0")));
    CaptureOn on(desktop);
    // A toolkit window paints nothing of its own until asked (no server background), as browsers do.
    QProcess* back = desktop.start(QStringLiteral(WIDGET_PROBE_BIN));
    back->write("target 120 100 400 300\n");
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::windows().size() == 1; }, 10000));
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-bg"), QStringLiteral("#ff00ff"),
                                            QStringLiteral("-geometry"), QStringLiteral("40x12+320+240")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::windows().size() == 2; }, 10000));
    const Capture::WindowInfo front = Capture::windows().at(0), covered = Capture::windows().at(1);
    const QRect client = desktop.clientGeometry(covered.id);
    ASSERT_TRUE(client.intersects(front.bounds));
    const QImage screen = settledScreen(desktop, Desktop::shotsDir() + QStringLiteral("/capture-covered-desktop.png"));
    const QRgb own = screen.pixel(client.topLeft() + QPoint(10, 10));
    const QRect hidden = client.intersected(front.bounds).translated(-covered.bounds.topLeft());

    auto magenta = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c.red() > 200 && c.green() < 80 && c.blue() > 200 ? 1 : 0;
            }
        return count;
    };
    const Shot shot = Capture::capture(covered);
    shot.image.save(Desktop::shotsDir() + QStringLiteral("/capture-covered-window.png"));
    ASSERT_EQ(shot.image.size(), covered.bounds.size());
    EXPECT_EQ(magenta(shot.image), 0);
    // Where the terminal lies over it, the picture holds the window's own colour.
    int ownColour = 0;
    for (int y = hidden.top(); y <= hidden.bottom(); ++y)
        for (int x = hidden.left(); x <= hidden.right(); ++x)
            ownColour += (shot.image.pixel(x, y) & 0xffffff) == (own & 0xffffff) ? 1 : 0;
    EXPECT_EQ(ownColour, hidden.width() * hidden.height());
    // The rest is what the screen shows; and the screen itself is left as it was.
    int outsideDiffer = 0;
    for (int y = 0; y < shot.image.height(); ++y)
        for (int x = 0; x < shot.image.width(); ++x)
            if (!front.bounds.contains(covered.bounds.topLeft() + QPoint(x, y)))
                outsideDiffer += (shot.image.pixel(x, y) & 0xffffff) !=
                                         (screen.pixel(covered.bounds.topLeft() + QPoint(x, y)) & 0xffffff)
                                     ? 1
                                     : 0;
    EXPECT_EQ(outsideDiffer, 0);
    EXPECT_EQ(differentPixels(desktop.screenshot(), screen), 0);

    // A window whose program does not paint keeps blank parts, never the other window's.
    ::kill(pid_t(back->processId()), SIGSTOP);
    const Shot stalled = Capture::capture(covered);
    ::kill(pid_t(back->processId()), SIGCONT);
    stalled.image.save(Desktop::shotsDir() + QStringLiteral("/capture-covered-stalled.png"));
    EXPECT_EQ(magenta(stalled.image), 0);

    // A window whose program answers late, a fifth of a second after being asked (busy, or on a loaded
    // machine), longer than the quiet spell the tool allows after the last paint: its parts are still its own.
    ::kill(pid_t(back->processId()), SIGSTOP);
    std::thread wake([pid = back->processId()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ::kill(pid_t(pid), SIGCONT);
    });
    const Shot late = Capture::capture(covered);
    wake.join();
    late.image.save(Desktop::shotsDir() + QStringLiteral("/capture-covered-late.png"));
    int lateOwn = 0;
    for (int y = hidden.top(); y <= hidden.bottom(); ++y)
        for (int x = hidden.left(); x <= hidden.right(); ++x)
            lateOwn += (late.image.pixel(x, y) & 0xffffff) == (own & 0xffffff) ? 1 : 0;
    EXPECT_EQ(lateOwn, hidden.width() * hidden.height());
}

TEST(CaptureE2E, ScreenCapturesAreWholeAndThreeInASecondAreNumbered) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("60x10+40+40")});
    ASSERT_TRUE(waitForApp(QStringLiteral("XTerm")).has_value());

    // The tool reads a screen in bands of rows and compresses them as they come: every row must land in its
    // place, the ones with the terminal and the plain ones below it alike.
    const QImage screen = settledScreen(desktop);
    const Shot one = Capture::screenUnderCursor();
    EXPECT_TRUE(QRegularExpression(stampPattern("Screen")).match(one.fileURL.fileName()).hasMatch())
        << one.fileURL.fileName().toStdString();
    EXPECT_EQ(one.image.size(), QSize(1280, 800));
    EXPECT_EQ(differentPixels(one.image, screen), 0);
    EXPECT_FALSE(one.window.has_value());
    one.image.save(Desktop::shotsDir() + QStringLiteral("/capture-screen.png"));

    // Three captures inside one second; a second boundary in between spoils a round, so try again.
    bool sameSecond = false;
    for (int round = 0; round < 5 && !sameSecond; ++round) {
        QDir(ShotFiles::shotsFolder()).removeRecursively();
        QStringList names;
        for (int i = 0; i < 3; ++i)
            names.append(Capture::screenUnderCursor().fileURL.fileName());
        const QString base = names.first().chopped(4);
        sameSecond = names.at(1).startsWith(base) && names.at(2).startsWith(base);
        if (sameSecond) {
            EXPECT_EQ(names, (QStringList{base + QStringLiteral(".png"), base + QStringLiteral(" 2.png"),
                                          base + QStringLiteral(" 3.png")}));
        }
    }
    EXPECT_TRUE(sameSecond);
    EXPECT_EQ(shots().size(), 3) << shots().join(QLatin1Char('|')).toStdString();
}

TEST(CaptureE2E, ScreenCaptureTakesTheMonitorUnderThePointer) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("100x20+400+200")});
    ASSERT_TRUE(waitForApp(QStringLiteral("XTerm")).has_value());
    // Two monitors side by side on the one virtual screen.
    for (const char* monitor : {"left 640/169x800/211+0+0", "right 640/169x800/211+640+0"}) {
        const QStringList words = QString::fromLatin1(monitor).split(QLatin1Char(' '));
        int code = -1;
        desktop.run(QStringLiteral("xrandr"),
                    {QStringLiteral("--setmonitor"), words[0], words[1], QStringLiteral("none")}, &code);
        ASSERT_EQ(code, 0);
    }
    const QImage screen = settledScreen(desktop);
    const struct {
        QPoint mouse;
        QRect monitor;
    } cases[] = {{{900, 400}, QRect(640, 0, 640, 800)}, {{100, 700}, QRect(0, 0, 640, 800)}};
    for (const auto& c : cases) {
        desktop.xdotool({QStringLiteral("mousemove"), QString::number(c.mouse.x()), QString::number(c.mouse.y())});
        ASSERT_TRUE(Desktop::waitUntil([&] { return Capture::mouseCG() == c.mouse; }, 3000));
        const Shot shot = Capture::screenUnderCursor();
        EXPECT_EQ(shot.image.size(), c.monitor.size());
        EXPECT_EQ(differentPixels(shot.image, screen.copy(c.monitor)), 0) << c.mouse.x();
    }
}

TEST(CaptureE2E, DraggedSliceIsWrittenAndEscapeWritesNothing) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("70x20+160+120")});
    ASSERT_TRUE(waitForApp(QStringLiteral("XTerm")).has_value());
    const QImage before = settledScreen(desktop);

    // The capture key may still be down: someone else holds the keyboard when the slice starts.
    xcb_connection_t* holder = xcb_connect(desktop.display().toUtf8().constData(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(holder));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(holder)).data->root;
    std::free(xcb_grab_keyboard_reply(
        holder, xcb_grab_keyboard(holder, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));

    SliceResult slice;
    slice.start();
    ASSERT_TRUE(waitForOverlay(desktop));
    Desktop::pause(300);
    xcb_ungrab_keyboard(holder, XCB_CURRENT_TIME);
    xcb_flush(holder);
    Desktop::pause(200);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/capture-slice-overlay.png"));
    desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("100"),
                     QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
                     QStringLiteral("250"), QStringLiteral("180"), QStringLiteral("mousemove"), QStringLiteral("400"),
                     QStringLiteral("300")});
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/capture-slice-dragging.png"));
    desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return slice.calls > 0; }, 10000));
    xcb_disconnect(holder);
    ASSERT_TRUE(slice.shot.has_value());
    EXPECT_EQ(slice.shot->appName, QStringLiteral("Slice"));
    EXPECT_TRUE(QRegularExpression(stampPattern("Slice")).match(slice.shot->fileURL.fileName()).hasMatch());
    EXPECT_EQ(slice.shot->image.size(), QSize(300, 200));
    // The frozen screen, not the overlay's outline.
    EXPECT_EQ(differentPixels(slice.shot->image, before.copy(100, 100, 300, 200)), 0);
    slice.shot->image.save(Desktop::shotsDir() + QStringLiteral("/capture-slice.png"));

    // Escape, and a click that does not drag: the completion runs once, with nothing, and no file.
    const QStringList cancels[] = {{QStringLiteral("key"), QStringLiteral("Escape")},
                                   {QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("300"),
                                    QStringLiteral("click"), QStringLiteral("1")}};
    for (const QStringList& cancel : cancels) {
        QDir(ShotFiles::shotsFolder()).removeRecursively();
        SliceResult cancelled;
        cancelled.start();
        ASSERT_TRUE(waitForOverlay(desktop));
        desktop.xdotool(cancel);
        ASSERT_TRUE(Desktop::waitUntil([&] { return cancelled.calls > 0; }, 10000)) << cancel.first().toStdString();
        Desktop::pause(200);
        EXPECT_EQ(cancelled.calls, 1);
        EXPECT_FALSE(cancelled.shot.has_value());
        EXPECT_TRUE(shots().isEmpty()) << shots().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(desktop.windowsByName(QStringLiteral("^pictolarium-screencapture$")).isEmpty());
    }
}

TEST(CaptureE2E, WithoutAWorkingWindowManagerTheWindowTreeIsRead) {
    Desktop::Options options;
    options.windowManager = false;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    CaptureOn on(desktop);
    QProcess* manager = desktop.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.selectionOwned(QStringLiteral("WM_S0")); }, 10000));
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("70x20+160+120")});
    const auto framed = waitForApp(QStringLiteral("XTerm"));
    ASSERT_TRUE(framed.has_value());

    // A manager that dies leaves its lists on the root; they no longer describe the screen.
    manager->kill();
    manager->waitForFinished(3000);
    std::optional<Capture::WindowInfo> bare;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            bare = waitForApp(QStringLiteral("XTerm"));
            return bare && bare->bounds != framed->bounds;
        },
        5000));
    EXPECT_EQ(bare->bounds, desktop.clientGeometry(bare->id));
    desktop.xdotool({QStringLiteral("mousemove"), QString::number(bare->bounds.center().x()),
                     QString::number(bare->bounds.center().y())});
    Desktop::waitUntil([&] { return Capture::mouseCG() == bare->bounds.center(); }, 3000);
    const auto under = Capture::windowUnderCursor();
    ASSERT_TRUE(under.has_value());
    const Shot shot = Capture::capture(*under);
    EXPECT_EQ(shot.image.size(), bare->bounds.size());
}

// The capture tool killed at random moments of its write, 50 times: it leaves a whole picture or nothing, never a
// name holding part of one, as another program's reader judges.
TEST(CaptureE2E, AToolKilledWhileWritingLeavesAWholePictureOrNothing) {
    Desktop::Options options;
    // A large screen of speckles, which take a while to write.
    options.size = QSize(3000, 2000);
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    QByteArray bitmap = "#define s_width 512\n#define s_height 512\nstatic char s_bits[] = {\n";
    quint32 seed = 12345;
    for (int i = 0; i < 512 * 512 / 8; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bitmap += (i ? "," : "") + QByteArray("0x") + QByteArray::number(seed >> 24, 16);
    }
    const QString speckles = desktop.folder("in") + "/speckles.xbm";
    {
        QFile file(speckles);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bitmap + "};\n");
    }
    int code = -1;
    desktop.run("xsetroot", {"-bitmap", speckles, "-fg", "#3060c0", "-bg", "#f0e0a0"}, &code, 60000);
    ASSERT_EQ(code, 0);
    const QString folder = desktop.folder("shots");
    const auto capture = [&] {
        auto* tool = new QProcess;
        tool->setProcessEnvironment(desktop.environment());
        tool->start(SCREENCAPTURE_BIN, {"-D", "1", folder + "/Screen.png"});
        return std::unique_ptr<QProcess>(tool);
    };
    QElapsedTimer clock;
    clock.start();
    {
        const auto tool = capture();
        ASSERT_TRUE(tool->waitForFinished(30000));
        ASSERT_EQ(tool->exitCode(), 0) << tool->readAllStandardError().toStdString();
    }
    const qint64 writeMs = clock.elapsed();
    int cutShort = 0;
    for (int i = 0; i < 50; ++i) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        const auto tool = capture();
        const qint64 at = QRandomGenerator::global()->bounded(writeMs + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(at));
        cutShort += tool->state() != QProcess::NotRunning;
        ::kill(pid_t(tool->processId()), SIGKILL);
        tool->waitForFinished(10000);
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            const QString judged = desktop.run("identify", {"-regard-warnings", folder + '/' + name}, &code, 30000);
            EXPECT_EQ(code, 0) << "killed after " << at << " of " << writeMs << " ms: " << name.toStdString() << " "
                               << judged.toStdString();
        }
    }
    EXPECT_GT(cutShort, 25) << "the kills came after the writes";
}
