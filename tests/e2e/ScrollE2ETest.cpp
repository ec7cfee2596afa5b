// Recording a scrolling window in the real program: a window capture opens a card, its scroll tool records
// the window while xdotool turns the wheel, and the capture key ends the recording with one tall picture
// beside the capture, which must be the page itself: every row once, in order, nothing missing.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

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
