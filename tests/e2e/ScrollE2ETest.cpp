// Recording a scrolling window in the real program: a window capture opens a card, its scroll tool records
// the window while xdotool turns the wheel, and the capture key ends the recording with one tall picture
// beside the capture, which must be the page itself: every row once, in order, nothing missing, and nothing
// painted over, also on real terminal and browser pages whose lines look alike.

#include "Desktop.h"
#include "card/Stitcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace {

// The scroll tool first in the pill, so its button sits at the pill's left end; the one-time toolbar steps are
// marked done so that the stored order survives the launch.
void writeSettings(Desktop& desktop) {
    QJsonObject settings;
    for (const char* flag : {"picto.toolShareSecondLastV6", "picto.toolResizeRotateV5", "picto.toolOrderV2"})
        settings[QLatin1String(flag)] = Desktop::typed("bool", true);
    settings[QStringLiteral("picto.toolOrder")] =
        Desktop::typed("array", QJsonArray{Desktop::typed("string", QStringLiteral("scroll"))});
    settings[QStringLiteral("picto.toolHidden")] = Desktop::typed("array", QJsonArray{});
    const QString folder = desktop.configHome() + QStringLiteral("/Pictolarium");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/org.pictolarium.Pictolarium.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(settings).toJson());
}

QList<quint32> visibleWindows(Desktop& desktop, const QString& pattern) {
    const QString out =
        desktop.run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern});
    QList<quint32> ids;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.append(line.trimmed().toUInt());
    return ids;
}

QList<quint32> visibleCards(Desktop& desktop) {
    return visibleWindows(desktop, QStringLiteral("^Pictolarium Card$"));
}

void pressCaptureKey(Desktop& desktop) {
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("super+shift+d")});
}

// The test's page window, and what it prints.
class LongPage {
public:
    LongPage(Desktop& desktop, const QString& pagePath, QPoint at) {
        process.setProcessEnvironment(desktop.environment());
        process.start(QStringLiteral(LONG_PAGE_BIN), {pagePath, QString::number(at.x()), QString::number(at.y())});
    }
    ~LongPage() {
        if (process.state() == QProcess::Running) {
            ::kill(pid_t(process.processId()), SIGTERM);
            process.waitForFinished(2000);
        }
    }
    bool waitReady() {
        return Desktop::waitUntil([&] { return read().contains(QStringLiteral("ready\n")); }, 10000);
    }
    QString read() {
        output += QString::fromUtf8(process.readAllStandardOutput());
        return output;
    }
    // The page row at the top of the view, as last reported; 0 before the first move.
    int scroll() {
        const QStringList moves =
            read().split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^scroll ")));
        return moves.isEmpty() ? 0 : moves.last().mid(7).toInt();
    }
    QSize viewport() {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("viewport (\\d+) (\\d+)")).match(read());
        return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
    }

    QProcess process;
    QString output;
};

bool sameRow(const QImage& a, int ax, int ay, const QImage& b, int bx, int by, int width) {
    if (ay < 0 || by < 0 || ay >= a.height() || by >= b.height() || ax + width > a.width() || bx + width > b.width())
        return false;
    const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(ay)) + ax;
    const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(by)) + bx;
    for (int i = 0; i < width; ++i)
        if ((pa[i] & 0xffffff) != (pb[i] & 0xffffff))
            return false;
    return true;
}

// Where the page's top-left pixel is in a capture of its window at scroll 0.
std::optional<QPoint> findPage(const QImage& capture, const QImage& page, int width) {
    for (int y = 0; y < std::min(capture.height(), 120); ++y)
        for (int x = 0; x < std::min(capture.width(), 40); ++x)
            if (sameRow(capture, x, y, page, 0, 0, width) && sameRow(capture, x, y + 1, page, 0, 1, width))
                return QPoint(x, y);
    return std::nullopt;
}

QStringList pngs(const Desktop& desktop) {
    return QDir(desktop.shotsFolder()).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
}

// Clicks the card's scroll tool, which leads the pill: the dark run across the card's bottom.
bool clickScrollTool(Desktop& desktop) {
    const QRect card = desktop.clientGeometry(visibleCards(desktop).value(0));
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/scroll-card.png"));
    const int pillY = card.bottom() - 22 - 18;
    for (int x = card.left(); x <= card.right(); ++x)
        if (const QColor c = screen.pixelColor(x, pillY); c.red() + c.green() + c.blue() < 200) {
            desktop.moveTo(QPoint(x + 21, pillY));
            Desktop::pause(300);
            desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
            return true;
        }
    return false;
}

} // namespace

TEST(ScrollE2E, RecordingAScrolledWindowGivesTheWholePageOnce) {
    Desktop::Options options;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#5080c0")});
    writeSettings(desktop);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();

    const QString pagePath = desktop.home() + QStringLiteral("/page.png");
    LongPage window(desktop, pagePath, QPoint(300, 40));
    ASSERT_TRUE(window.waitReady()) << window.output.toStdString();
    const QImage page = QImage(pagePath).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(page.isNull());
    const QSize view = window.viewport();
    ASSERT_TRUE(view.isValid()) << window.output.toStdString();
    const QList<quint32> ids = visibleWindows(desktop, QStringLiteral("^Long Page$"));
    ASSERT_EQ(ids.size(), 1);
    const QRect client = desktop.clientGeometry(ids.first());
    Desktop::pause(300);
    // Another window over the page's corner: what it covers is no part of the page.
    desktop.start("xterm", {"-T", "Cover", "-geometry",
                            QStringLiteral("30x8+%1+%2").arg(client.right() - 120).arg(client.top() - 40), "-e",
                            "sleep", "600"});
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return !visibleWindows(desktop, QStringLiteral("^Cover$")).isEmpty(); }, 10000));
    Desktop::pause(500);

    // A window capture of the page opens its card at the pointer, here near the window's bottom edge, so
    // that the card's pill lies below the window, on the plain background.
    const QPoint inside = client.center();
    desktop.moveTo(QPoint(client.center().x(), client.bottom() - 10));
    Desktop::pause(200);
    pressCaptureKey(desktop);
    ASSERT_TRUE(Desktop::waitUntil([&] { return visibleCards(desktop).size() == 1; }, 10000))
        << desktop.appStderr().toStdString();
    Desktop::pause(400);
    ASSERT_EQ(pngs(desktop).size(), 1);
    const QString captureName = pngs(desktop).first();
    const QImage capture =
        QImage(QDir(desktop.shotsFolder()).filePath(captureName)).convertToFormat(QImage::Format_RGB32);
    const std::optional<QPoint> pageAt = findPage(capture, page, view.width());
    ASSERT_TRUE(pageAt.has_value()) << "the capture does not show the page's top";

    ASSERT_TRUE(clickScrollTool(desktop)) << "no pill on the card";

    // Recording: the card is gone from the screen and the hint shows under the window.
    ASSERT_TRUE(Desktop::waitUntil([&] { return visibleCards(desktop).isEmpty(); }, 5000));
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return !visibleWindows(desktop, QStringLiteral("^Pictolarium Scroll Hint$")).isEmpty(); }, 5000));
    const QRect hint =
        desktop.clientGeometry(visibleWindows(desktop, QStringLiteral("^Pictolarium Scroll Hint$")).first());
    EXPECT_EQ(hint.height(), 34);
    EXPECT_NEAR(hint.center().x(), client.center().x(), 40);
    EXPECT_GT(hint.top(), client.bottom());
    EXPECT_LT(hint.top(), client.bottom() + 40);

    desktop.moveTo(inside);
    Desktop::pause(300);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("8"),
                     QStringLiteral("--delay"), QStringLiteral("250"), QStringLiteral("5")});
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/scroll-recording.png"));
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("8"),
                     QStringLiteral("--delay"), QStringLiteral("250"), QStringLiteral("5")});
    Desktop::pause(600);
    const int scrolled = window.scroll();
    ASSERT_GT(scrolled, 2 * view.height()) << window.output.toStdString();

    pressCaptureKey(desktop);
    QString fullName;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            for (const QString& name : pngs(desktop))
                if (name.endsWith(QStringLiteral(" full.png")))
                    fullName = name;
            return !fullName.isEmpty();
        },
        20000))
        << pngs(desktop).join(QLatin1Char(' ')).toStdString() << desktop.appStderr().toStdString();
    EXPECT_EQ(fullName, QFileInfo(captureName).completeBaseName() + QStringLiteral(" full.png"));
    EXPECT_TRUE(Desktop::waitUntil([&] { return visibleCards(desktop).size() == 1; }, 5000));
    EXPECT_TRUE(visibleWindows(desktop, QStringLiteral("^Pictolarium Scroll Hint$")).isEmpty());
    Desktop::pause(1000);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/scroll-done.png"));

    QImage full;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            full = QImage(QDir(desktop.shotsFolder()).filePath(fullName));
            return !full.isNull();
        },
        5000));
    full = full.convertToFormat(QImage::Format_RGB32);
    full.save(Desktop::shotsDir() + QStringLiteral("/scroll-full.png"));
    std::printf("window capture %dx%d, page at (%d, %d) in it, view %dx%d, scrolled %d rows, full page %dx%d\n",
                capture.width(), capture.height(), pageAt->x(), pageAt->y(), view.width(), view.height(), scrolled,
                full.width(), full.height());
    // One window, and below it every row the page moved by.
    EXPECT_EQ(full.width(), capture.width());
    EXPECT_EQ(full.height(), capture.height() + scrolled);

    // The page from its first row to the last one shown, each row once and in place.
    const int shownRows = scrolled + view.height();
    int wrong = 0, firstWrong = -1;
    for (int y = 0; y < shownRows; ++y)
        if (!sameRow(full, pageAt->x(), pageAt->y() + y, page, 0, y, view.width())) {
            ++wrong;
            if (firstWrong < 0)
                firstWrong = y;
        }
    EXPECT_EQ(wrong, 0) << "page rows wrong in the full page, the first at " << firstWrong;
    // Above the page the window's top as captured; below it the window's bottom edge, once.
    for (int y = 0; y < pageAt->y(); ++y)
        EXPECT_TRUE(sameRow(full, 0, y, capture, 0, y, pageAt->x() + view.width())) << "top row " << y;
    const int below = capture.height() - pageAt->y() - view.height();
    for (int y = 0; y < below; ++y)
        EXPECT_TRUE(sameRow(full, 0, full.height() - below + y, capture, 0, capture.height() - below + y,
                            pageAt->x() + view.width()))
            << "bottom row " << y;
}

namespace {

// A window as the program grabs it: its client area and the window manager's frame around it.
QRect frameOf(Desktop& desktop, quint32 id) {
    const QStringList e =
        desktop.run("xprop", {"-id", QString::number(id), "_NET_FRAME_EXTENTS"}).split(QStringLiteral(", "));
    const QRect client = desktop.clientGeometry(id);
    return e.size() != 4 ? client
                         : client.adjusted(-e[0].section('=', 1).toInt(), -e[2].toInt(), e[1].toInt(), e[3].toInt());
}

QByteArray rowBytes(const QImage& image, int y, int left, int width) {
    return QByteArray(reinterpret_cast<const char*>(image.constScanLine(y)) + 4 * left, 4 * width);
}

} // namespace

// Real pages whose lines look alike: a terminal listing whose permissions, owner and year repeat line after line
// (without and with the terminal's scrollbar at its left), and a browser's log page with a scrollbar at its right.
// Whatever is stitched, every row of the page is a row of a frame that showed it, pixel for pixel; only the
// window's own edges (frame, scrollbar) may differ. The frames are taken here, at rest after each turn of the
// wheel, while the program records the same window: its full page is checked against them, and so is the
// stitcher itself on these very frames.
TEST(ScrollE2E, RealPagesKeepEveryRowOfTheFramesThatShowedThem) {
    Desktop::Options options;
    options.tray = false;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#5080c0")});
    writeSettings(desktop);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();

    // Log lines as a program writes them: all alike but for the batch number.
    QString log = QStringLiteral("<!doctype html><body style=\"margin:0;padding:8px;font:14px/20px monospace\">");
    for (int n = 1; n <= 400; ++n)
        log += QStringLiteral("2026-12-08 07:41:03.512 INFO worker[3] processed batch %1 ============<br>")
                   .arg(122 + n, 6, 10, QLatin1Char('0'));
    QFile logFile(desktop.home() + QStringLiteral("/log.html"));
    ASSERT_TRUE(logFile.open(QIODevice::WriteOnly) && logFile.write(log.toUtf8()) > 0 && logFile.flush());
    const QStringList xterm{"-geometry", "80x30+100+40", "-e", "sh", "-c", "ls -l /usr/bin; sleep 600"};
    const QStringList chromium{"--no-sandbox",
                               "--no-first-run",
                               "--disable-gpu",
                               "--no-default-browser-check",
                               "--password-store=basic",
                               "--window-position=100,40",
                               "--window-size=900,600",
                               "--user-data-dir=" + desktop.folder("chromium"),
                               "--app=file://" + logFile.fileName()};
    const QStringList man{"-geometry", "80x30+100+40", "-e", "man", "bash"};
    struct Case {
        const char* name;
        QString program;
        QStringList args;
        int edgeLeft, edgeRight; // client columns of the window's own parts: a scrollbar
        int ownLines = 0;        // lines of the window's own at its bottom, 30 lines high; scrolled by Down
    } cases[] = {
        {"terminal", "xterm", xterm, 0, 0},
        {"terminal with a scrollbar", "xterm", QStringList{"-sb"} + xterm, 16, 0},
        {"terminal with a log",
         "xterm",
         {"-geometry", "80x30+100+40", "-e", "sh", "-c",
          "seq -f '2026-12-08 07:41:03.512 INFO worker[3] processed batch %06g ============' 123 522; sleep 600"},
         0,
         0},
        // a pager's status line telling the line at the top; an editor's mode line and command line over the cursor
        {"manual page in a pager", "xterm", man, 0, 0, 1},
        {"manual page in a pager, reverse video and another font", "xterm",
         QStringList{"-rv", "-fa", "DejaVu Sans Mono", "-fs", "10"} + man, 0, 0, 1},
        {"editor", "xterm",
         QStringList{"-geometry", "80x30+100+40", "-e", "vim", "-u", "NONE", "-c", "set ruler laststatus=2", "-c",
                     "normal L", "-R", "/usr/share/common-licenses/GPL-3"},
         0, 0, 3},
        {"browser", QStandardPaths::findExecutable("chromium"), chromium, 0, 16},
        // each turn of the wheel moves the page by whole lines at once
        {"browser without smooth scrolling", QStandardPaths::findExecutable("chromium"),
         QStringList{"--disable-smooth-scrolling"} + chromium, 0, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int found = 0; // a slim system has no manual pages
        if (c.ownLines > 0)
            desktop.run(c.args.contains("man") ? "man" : "vim",
                        c.args.contains("man") ? QStringList{"-w", "bash"} : QStringList{"--version"}, &found);
        if (c.program.isEmpty() || found != 0) {
            std::printf("%s: not installed, skipped\n", c.name);
            continue;
        }
        const QString windowClass = QFileInfo(c.program).fileName();
        QProcess* program = desktop.start(c.program, c.args);
        quint32 id = 0;
        ASSERT_TRUE(Desktop::waitUntil(
            [&] {
                for (const QString& line : desktop.run("xdotool", {"search", "--onlyvisible", "--class", windowClass})
                                               .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                    if (desktop.clientGeometry(line.toUInt()).width() > 400)
                        id = line.toUInt();
                return id != 0;
            },
            30000));
        Desktop::pause(windowClass == QLatin1String("chromium") ? 3000 : 800);
        const QRect client = desktop.clientGeometry(id), frame = frameOf(desktop, id);
        desktop.moveTo(client.center());
        if (c.ownLines == 0)
            desktop.xdotool({"click", "--repeat", "40", "--delay", "20", "4"}); // a terminal shows its end
        else
            desktop.xdotool({"windowfocus", "--sync", QString::number(id)});
        desktop.moveTo(QPoint(client.center().x(), client.bottom() - 10));
        Desktop::pause(500);
        pressCaptureKey(desktop);
        ASSERT_TRUE(Desktop::waitUntil([&] { return visibleCards(desktop).size() == 1; }, 10000));
        Desktop::pause(400);
        ASSERT_TRUE(clickScrollTool(desktop));
        ASSERT_TRUE(
            Desktop::waitUntil([&] { return !visibleWindows(desktop, "^Pictolarium Scroll Hint$").isEmpty(); }, 5000));
        desktop.moveTo(client.center());
        Desktop::pause(500);
        QList<QImage> frames;
        for (int turn = 0; turn <= 4; ++turn) {
            if (turn > 0 && c.ownLines == 0)
                desktop.xdotool({"click", "--repeat", "2", "--delay", "40", "5"});
            else if (turn > 0) // a burst, as a key held down gives
                desktop.xdotool({"key", "--repeat", QString::number(3 + 2 * turn), "--delay", "60", "Down"});
            Desktop::pause(turn > 0 ? 700 : 0);
            frames.append(desktop.screenshot().copy(frame).convertToFormat(QImage::Format_RGB32));
        }
        const QStringList before = pngs(desktop);
        pressCaptureKey(desktop);
        QStringList made;
        ASSERT_TRUE(Desktop::waitUntil(
            [&] {
                made = pngs(desktop).filter(QStringLiteral(" full.png"));
                return made.size() > before.filter(QStringLiteral(" full.png")).size();
            },
            20000))
            << desktop.appStderr().toStdString();
        Desktop::pause(500);
        for (const QString& name : before)
            made.removeAll(name);
        const QImage full =
            QImage(QDir(desktop.shotsFolder()).filePath(made.value(0))).convertToFormat(QImage::Format_RGB32);
        ::kill(pid_t(program->processId()), SIGTERM);
        full.save(Desktop::shotsDir() + QStringLiteral("/scroll-real-%1.png").arg(windowClass));
        ASSERT_EQ(full.width(), frame.width());

        // The page's columns: the client area without the window's own parts at its sides.
        const int left = client.left() - frame.left() + c.edgeLeft;
        const int width = client.width() - c.edgeLeft - c.edgeRight;
        QSet<QByteArray> shown;
        for (const QImage& f : frames)
            for (int y = 0; y < f.height(); ++y)
                shown.insert(rowBytes(f, y, left, width));
        int foreign = 0, firstForeign = -1;
        for (int y = 0; y < full.height(); ++y)
            if (!shown.contains(rowBytes(full, y, left, width)) && foreign++ == 0)
                firstForeign = y;
        EXPECT_EQ(foreign, 0) << "rows of the full page no frame showed, the first at " << firstForeign;

        // How far the page moved between frames: every line on these pages is a line of its own, so only the true
        // shift shows the rows that changed where the earlier frame showed them, all but the few under the shadow of
        // a bar over the page. Rows that stand still (a terminal's padding, a browser's notice bar) are passed over.
        // A terminal's lines lie inside a border of 2 rows; the window's own lines are the last ones.
        const int own = c.ownLines * (client.height() - 4) / 30 + (c.ownLines ? 2 : 0);
        const int clientTop = client.top() - frame.top(), clientBottom = client.bottom() - frame.top() - own;
        auto moved = [&](const QImage& a, const QImage& b) {
            int best = -1, fewest = 9;
            for (int s = 0; s < clientBottom - clientTop - 20; ++s) {
                int misses = 0, shown = 0;
                for (int r = clientTop; r + s <= clientBottom; ++r) {
                    const QByteArray row = rowBytes(b, r, left, width);
                    if (s > 0 && row == rowBytes(a, r, left, width))
                        continue;
                    ++(row == rowBytes(a, r + s, left, width) ? shown : misses);
                }
                if (s == 0 && misses == 0)
                    return 0;
                if (s > 0 && shown >= 40 && misses < fewest)
                    best = s, fewest = misses;
            }
            return best;
        };
        // The stitcher on these frames: each offset is how far the page moved, every row its frame's row.
        QList<int> offsets, truth;
        for (qsizetype i = 1; i < frames.size(); ++i) {
            offsets.append(Stitcher::newRows(frames[i - 1], frames[i]).value_or(-1));
            truth.append(moved(frames[i - 1], frames[i]));
        }
        const int scrolled = std::accumulate(truth.begin(), truth.end(), 0);
        std::printf("%s: frames of %dx%d scrolled %d rows, full page %dx%d\n", c.name, frame.width(), frame.height(),
                    scrolled, full.width(), full.height());
        ASSERT_FALSE(truth.contains(-1));
        ASSERT_EQ(offsets, truth);
        EXPECT_EQ(full.height(), frame.height() + scrolled) << "lines repeated or lost in the full page";
        const QImage stitched = Stitcher::stitch(frames, offsets).convertToFormat(QImage::Format_RGB32);
        int y = 0, wrong = 0;
        for (qsizetype i = 0; i < frames.size(); ++i)
            for (int r = i == 0 ? 0 : frame.height() - offsets[i - 1]; r < frame.height(); ++r, ++y)
                wrong += r >= clientTop && r <= clientBottom &&
                         rowBytes(stitched, y, left, width) != rowBytes(frames[i], r, left, width);
        EXPECT_EQ(wrong, 0) << "stitched rows that differ from their frame's";

        // The page's lines once and in order, then the window's own lines once, as the last frame shows them.
        if (c.ownLines > 0) {
            const int pageEnd = clientBottom + 1;
            int misplaced = 0, k = clientTop;
            for (qsizetype i = 0; i < frames.size(); ++i)
                for (int r = i == 0 ? clientTop : pageEnd - truth[i - 1]; r < pageEnd; ++r)
                    misplaced += rowBytes(full, k++, left, width) != rowBytes(frames[i], r, left, width);
            for (int r = pageEnd; r < frame.height(); ++r)
                misplaced += rowBytes(full, full.height() - frame.height() + r, left, width) !=
                             rowBytes(frames.back(), r, left, width);
            EXPECT_EQ(misplaced, 0) << "rows out of place in the full page";
        }
        desktop.moveTo(QPoint(5, 5)); // the full page's card goes before the next window is captured
        Desktop::waitUntil([&] { return visibleCards(desktop).isEmpty(); }, 10000);
    }
}
