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

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

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

    const quint32 card = visibleCards(desktop).first();
    const QRect cardFrame = desktop.clientGeometry(card);
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/scroll-card.png"));
    // The scroll tool leads the pill, which is the dark run across the card's bottom.
    const int pillY = cardFrame.bottom() - 22 - 18;
    int pillLeft = -1;
    for (int x = cardFrame.left(); x <= cardFrame.right() && pillLeft < 0; ++x) {
        const QColor c = screen.pixelColor(x, pillY);
        if (c.red() + c.green() + c.blue() < 200)
            pillLeft = x;
    }
    ASSERT_GE(pillLeft, 0) << "no pill on the card";
    const QPoint scrollTool(pillLeft + 21, pillY);
    desktop.moveTo(scrollTool);
    Desktop::pause(300);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});

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
    const QRect client = desktop.clientGeometry(id);
    const QStringList e =
        desktop.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id), "_NET_FRAME_EXTENTS"})
            .section(QLatin1Char('='), 1)
            .split(QLatin1Char(','));
    if (e.size() != 4)
        return client;
    return client.adjusted(-e[0].toInt(), -e[2].toInt(), e[1].toInt(), e[3].toInt());
}

// Starts the card's scroll tool on the window under cardAt: a window capture, then the pill's first button.
bool startRecording(Desktop& desktop, QPoint cardAt) {
    desktop.moveTo(cardAt);
    Desktop::pause(200);
    const qsizetype before = pngs(desktop).size();
    pressCaptureKey(desktop);
    if (!Desktop::waitUntil([&] { return pngs(desktop).size() > before && visibleCards(desktop).size() == 1; }, 10000))
        return false;
    Desktop::pause(400);
    const QRect card = desktop.clientGeometry(visibleCards(desktop).first());
    const QImage screen = desktop.screenshot();
    const int pillY = card.bottom() - 22 - 18;
    for (int x = card.left(); x <= card.right(); ++x)
        if (const QColor c = screen.pixelColor(x, pillY); c.red() + c.green() + c.blue() < 200) {
            desktop.click(QPoint(x + 21, pillY));
            return Desktop::waitUntil(
                [&] { return !visibleWindows(desktop, QStringLiteral("^Pictolarium Scroll Hint$")).isEmpty(); }, 5000);
        }
    return false;
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

    QString log = QStringLiteral("<!doctype html><body style=\"margin:0;padding:8px;font:14px/20px monospace\">");
    for (int n = 1; n <= 400; ++n)
        log += QStringLiteral("2024-05-01 12:00:0%1 INFO worker-1 request %2 %3 %4<br>")
                   .arg(n % 10)
                   .arg(n)
                   .arg(QString(n * 7 % 37, QLatin1Char('=')))
                   .arg(QString::number(quint64(n) * 2654435761u, 36).repeated(1 + n % 3));
    const QString logPath = desktop.home() + QStringLiteral("/log.html");
    QFile logFile(logPath);
    ASSERT_TRUE(logFile.open(QIODevice::WriteOnly));
    logFile.write(log.toUtf8());
    logFile.close();
    QString browser = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    const QString listing = QStringLiteral("ls -l /usr/bin; sleep 600");
    struct Case {
        const char* name;
        QString program;
        QStringList args;
        QString windowClass;
        int edgeLeft, edgeRight; // client columns of the window's own parts: a scrollbar
    } cases[] = {
        {"terminal", "xterm", {"-geometry", "80x30+100+40", "-e", "sh", "-c", listing}, "xterm", 0, 0},
        {"terminal with a scrollbar",
         "xterm",
         {"-sb", "-geometry", "80x30+100+40", "-e", "sh", "-c", listing},
         "xterm",
         16,
         0},
        {"browser",
         browser,
         {"--no-sandbox", "--no-first-run", "--disable-gpu", "--no-default-browser-check", "--password-store=basic",
          "--window-position=100,40", "--window-size=900,600",
          "--user-data-dir=" + desktop.folder(QStringLiteral("chromium")), "--app=file://" + logPath},
         "chromium",
         0,
         16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.program.isEmpty()) {
            std::printf("%s: not installed, skipped\n", c.name);
            continue;
        }
        QProcess* program = desktop.start(c.program, c.args);
        quint32 id = 0;
        ASSERT_TRUE(Desktop::waitUntil(
            [&] {
                const QStringList found = desktop.run("xdotool", {"search", "--onlyvisible", "--class", c.windowClass})
                                              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                for (const QString& line : found)
                    if (desktop.clientGeometry(line.trimmed().toUInt()).width() > 400)
                        id = line.trimmed().toUInt();
                return id != 0;
            },
            30000));
        Desktop::pause(c.windowClass == QLatin1String("chromium") ? 3000 : 800);
        const QRect client = desktop.clientGeometry(id), frame = frameOf(desktop, id);
        desktop.moveTo(client.center());
        desktop.xdotool({"click", "--repeat", "40", "--delay", "20", "4"}); // a terminal shows its end
        Desktop::pause(500);

        ASSERT_TRUE(startRecording(desktop, QPoint(client.center().x(), client.bottom() - 10)))
            << desktop.appStderr().toStdString();
        desktop.moveTo(client.center());
        Desktop::pause(500);
        QList<QImage> frames;
        for (int turn = 0; turn <= 4; ++turn) {
            if (turn > 0) {
                desktop.xdotool({"click", "--repeat", "2", "--delay", "40", "5"});
                Desktop::pause(700);
            }
            frames.append(desktop.screenshot().copy(frame).convertToFormat(QImage::Format_RGB32));
        }
        const QStringList before = pngs(desktop);
        pressCaptureKey(desktop);
        QString fullName;
        ASSERT_TRUE(Desktop::waitUntil(
            [&] {
                for (const QString& name : pngs(desktop))
                    if (name.endsWith(QStringLiteral(" full.png")) && !before.contains(name))
                        fullName = name;
                return !fullName.isEmpty();
            },
            20000))
            << desktop.appStderr().toStdString();
        Desktop::pause(500);
        const QImage full =
            QImage(QDir(desktop.shotsFolder()).filePath(fullName)).convertToFormat(QImage::Format_RGB32);
        ::kill(pid_t(program->processId()), SIGTERM);
        full.save(Desktop::shotsDir() + QStringLiteral("/scroll-real-%1.png").arg(c.windowClass));
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

        QList<int> offsets;
        int scrolled = 0;
        for (qsizetype i = 1; i < frames.size(); ++i) {
            const std::optional<int> rows = Stitcher::newRows(frames[i - 1], frames[i]);
            ASSERT_TRUE(rows.has_value()) << "frame " << i;
            offsets.append(*rows);
            scrolled += *rows;
        }
        std::printf("%s: frames of %dx%d scrolled %d rows, full page %dx%d\n", c.name, frame.width(), frame.height(),
                    scrolled, full.width(), full.height());
        EXPECT_GT(scrolled, frame.height() / 2);
        EXPECT_EQ(full.height(), frame.height() + scrolled);
        const QImage stitched = Stitcher::stitch(frames, offsets).convertToFormat(QImage::Format_RGB32);
        // Rows of the client area only: the window manager's frame above and below it is the window's own too.
        const int clientTop = client.top() - frame.top(), clientBottom = client.bottom() - frame.top();
        int y = 0, wrong = 0;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const int rows = i == 0 ? frames[0].height() : offsets[i - 1];
            for (int r = frames[i].height() - rows; r < frames[i].height(); ++r, ++y)
                wrong += r >= clientTop && r <= clientBottom &&
                         rowBytes(stitched, y, left, width) != rowBytes(frames[i], r, left, width);
        }
        EXPECT_EQ(wrong, 0) << "stitched rows that differ from their frame's";
        // The card of the full page goes before the next window is captured.
        desktop.moveTo(QPoint(5, 5));
        Desktop::waitUntil([&] { return visibleCards(desktop).isEmpty(); }, 10000);
    }
}
