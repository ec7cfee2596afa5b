// The capture card in the real program on a virtual desktop: where it appears and how big, what it shows,
// how long it stays, Escape and the close button, replacement, drag-out and a file tool.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <unistd.h>

namespace {

const QString cardTitle = QStringLiteral("Pictolarium Card");
const QColor rootColour(80, 128, 192);

QJsonObject stringArray(const QStringList& items) {
    QJsonArray array;
    for (const QString& item : items)
        array.append(Desktop::typed("string", item));
    return Desktop::typed("array", array);
}

// The settings file as the program keeps it; the one-time toolbar steps are marked done so that a stored
// order survives the launch.
void writeSettings(Desktop& desktop, double sizeScale, const QStringList& order = {}, const QStringList& hidden = {}) {
    QJsonObject settings;
    if (sizeScale != 0)
        settings[QStringLiteral("picto.sizeScale")] = Desktop::typed("double", sizeScale);
    for (const char* flag :
         {"picto.toolShareSecondLastV6", "picto.toolResizeRotateV5", "picto.toolOrderV2", "onboardingSeen"})
        settings[QLatin1String(flag)] = Desktop::typed("bool", true);
    if (!order.isEmpty())
        settings[QStringLiteral("picto.toolOrder")] = stringArray(order);
    settings[QStringLiteral("picto.toolHidden")] = stringArray(hidden);
    const QString folder = desktop.configHome() + QStringLiteral("/Pictolarium");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/org.pictolarium.Pictolarium.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(settings).toJson());
}

// An 800 × 500 picture in four coloured quarters, so a screenshot shows which part of it is where.
QString makePicture(Desktop& desktop, const QString& name) {
    QImage image(800, 500, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 400, 250, QColor(220, 40, 40));
    painter.fillRect(400, 0, 400, 250, QColor(40, 200, 60));
    painter.fillRect(0, 250, 400, 250, QColor(240, 220, 40));
    painter.fillRect(400, 250, 400, 250, QColor(240, 240, 240));
    painter.end();
    // A little grain, as a photo has: compress keeps a picture a JPEG would not make smaller.
    quint32 seed = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const QRgb c = image.pixel(x, y);
            image.setPixel(x, y,
                           qRgb(qBound(0, qRed(c) + grain, 255), qBound(0, qGreen(c) + grain, 255),
                                qBound(0, qBlue(c) + grain, 255)));
        }
    const QString path = desktop.home() + QLatin1Char('/') + name;
    image.save(path);
    return path;
}

QList<quint32> visibleCards(Desktop& desktop) {
    const QString out =
        desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                QStringLiteral("--name"), QStringLiteral("^Pictolarium Card$")});
    QList<quint32> ids;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.append(line.trimmed().toUInt());
    return ids;
}

bool waitForCards(Desktop& desktop, int count, int timeoutMs = 8000) {
    return Desktop::waitUntil([&] { return visibleCards(desktop).size() == count; }, timeoutMs, 100);
}


bool near(QColor a, QColor b, int tolerance = 40) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerance;
}

// The dark run of the pill along a row of the screen, as [left, right).
std::pair<int, int> darkRun(const QImage& screen, int y, int fromX, int toX) {
    int left = -1, right = -1;
    for (int x = fromX; x < toX; ++x) {
        const QColor c = screen.pixelColor(x, y);
        if (c.red() + c.green() + c.blue() < 200) {
            if (left < 0)
                left = x;
            right = x + 1;
        }
    }
    return {left, right};
}

// The shown sizes of one card for an 800 × 500 picture: its window, its picture and its pill.
struct Expected {
    double sizeScale;
    QSize window;
    QSize picture;
    double pillHeight;
    int pillWidth; // all 14 tools, the format button and two dividers
};

class CardApp {
public:
    explicit CardApp(bool composited, double sizeScale = 0, QStringList order = {}, QStringList hidden = {})
        : desktop(options(composited)) {
        if (!desktop.ok())
            return;
        desktop.run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), rootColour.name()});
        writeSettings(desktop, sizeScale, order, hidden);
        picture = makePicture(desktop, QStringLiteral("Sample.png"));
        desktop.startApp();
        ready = desktop.waitForApp();
    }

    static Desktop::Options options(bool composited) {
        Desktop::Options o;
        o.tray = false;
        o.compositor = composited;
        return o;
    }

    // Opens the picture as a card through a second launch, with the pointer at `at`; the card's id.
    quint32 openCard(QPoint at, const QString& file = {}) {
        desktop.moveTo(at);
        const QList<quint32> before = visibleCards(desktop);
        desktop.run(QStringLiteral(PICTOLARIUM_BIN), {file.isEmpty() ? picture : file});
        quint32 id = 0;
        // The file is decoded first, so the card on screen stays until the new one replaces it.
        Desktop::waitUntil(
            [&] {
                const QList<quint32> ids = visibleCards(desktop);
                if (ids.size() != 1 || before.contains(ids.last()))
                    return false;
                id = ids.last();
                return true;
            },
            8000, 100);
        // Past the fade-in.
        Desktop::pause(400);
        return id;
    }

    Desktop desktop;
    QString picture;
    bool ready = false;
};

class CardDesktop : public ::testing::TestWithParam<bool> {
protected:
    QString mode() const { return GetParam() ? QStringLiteral("composited") : QStringLiteral("plain"); }
};

} // namespace

TEST_P(CardDesktop, AppearsAtThePointerLivesFadesAndCloses) {
    CardApp app(GetParam());
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready) << app.desktop.appStderr().toStdString();
    Desktop& desktop = app.desktop;

    // Unset size setting: the picture fits 320 × 208, the chrome factor is 0.87.
    const QPoint pointer(400, 300);
    const quint32 card = app.openCard(pointer);
    ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
    const QRect frame = desktop.clientGeometry(card);
    EXPECT_EQ(frame.size(), QSize(540, 302));
    // Centred on the pointer.
    EXPECT_EQ(frame.topLeft(), QPoint(130, 149));
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-%1.png").arg(mode()));
    // The picture: 320 × 200, its left edge at the content's left, 22 below the card's top.
    const QRect image(frame.x() + 110, frame.y() + 22, 320, 200);
    EXPECT_TRUE(near(screen.pixelColor(image.x() + 80, image.y() + 50), QColor(220, 40, 40)));
    EXPECT_TRUE(near(screen.pixelColor(image.right() - 80, image.y() + 50), QColor(40, 200, 60)));
    EXPECT_TRUE(near(screen.pixelColor(image.x() + 80, image.bottom() - 50), QColor(240, 220, 40)));
    // The margins let the desktop through: painted translucency or the window's shape.
    EXPECT_TRUE(near(screen.pixelColor(frame.x() + 4, frame.y() + 4), screen.pixelColor(5, 5)));
    // The pill: 31.32 high, centred under the picture, 22 above the card's bottom.
    const int pillMiddle = frame.bottom() - 22 - 15;
    const auto [pillLeft, pillRight] = darkRun(screen, pillMiddle, frame.x(), frame.right());
    EXPECT_NEAR(pillRight - pillLeft, 470, 2);
    EXPECT_NEAR((pillLeft + pillRight) / 2.0, frame.center().x() + 0.5, 2);

    // With the pointer away the card lives 4 s and fades.
    desktop.moveTo(QPoint(1000, 700));
    Desktop::pause(2500);
    EXPECT_EQ(visibleCards(desktop).size(), 1) << "gone before its lifetime";
    EXPECT_TRUE(waitForCards(desktop, 0, 5000)) << "still there long after its lifetime";

    // While hovered it stays, however long.
    ASSERT_NE(app.openCard(pointer), 0u);
    desktop.moveTo(image.center() + QPoint(0, 60) - QPoint(0, 0));
    desktop.moveTo(QPoint(frame.x() + 200, frame.y() + 100));
    Desktop::pause(6000);
    EXPECT_EQ(visibleCards(desktop).size(), 1) << "faded while hovered";
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-hovered-%1.png").arg(mode()));

    // Escape with the pointer over it closes it, though it never had the focus.
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(waitForCards(desktop, 0, 3000)) << "Escape did not close the card";

    // The close button on the picture's top-right corner.
    ASSERT_NE(app.openCard(pointer), 0u);
    desktop.moveTo(QPoint(frame.x() + 200, frame.y() + 100));
    Desktop::pause(300);
    desktop.moveTo(QPoint(image.right() - 1, image.top() + 1));
    Desktop::pause(300);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitForCards(desktop, 0, 3000)) << "the close button did not close the card";

    // A new card replaces the one on screen.
    const quint32 first = app.openCard(pointer);
    ASSERT_NE(first, 0u);
    const quint32 second = app.openCard(QPoint(700, 450));
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(visibleCards(desktop), QList<quint32>{second});
    EXPECT_EQ(desktop.clientGeometry(second).topLeft(), QPoint(700 - 270, 450 - 151));
}

TEST_P(CardDesktop, DraggingTheCardDropsItsFileAndClosesIt) {
    CardApp app(GetParam());
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    Desktop& desktop = app.desktop;

    QProcess target;
    target.setProcessEnvironment(desktop.environment());
    target.start(QStringLiteral(DROP_TARGET_BIN),
                 {QStringLiteral("800"), QStringLiteral("120"), QStringLiteral("360"), QStringLiteral("260")});
    ASSERT_TRUE(target.waitForStarted(5000));
    QString output;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            output += QString::fromUtf8(target.readAllStandardOutput());
            return output.contains(QStringLiteral("ready"));
        },
        8000));
    Desktop::pause(500);

    const quint32 card = app.openCard(QPoint(350, 400));
    ASSERT_NE(card, 0u);
    const QRect frame = desktop.clientGeometry(card);
    const QStringList names = QDir(desktop.shotsFolder()).entryList(QDir::Files);
    ASSERT_EQ(names.size(), 1);
    const QString file = QDir(desktop.shotsFolder()).filePath(names.first());

    const QPoint from(frame.x() + 200, frame.y() + 100), to(980, 250);
    desktop.moveTo(from);
    Desktop::pause(200);
    desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 1; step <= 20; ++step) {
        desktop.moveTo(from + (to - from) * step / 20);
        Desktop::pause(40);
    }
    Desktop::pause(300);
    desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});

    Desktop::waitUntil(
        [&] {
            output += QString::fromUtf8(target.readAllStandardOutput());
            return output.contains(QStringLiteral("dropped"));
        },
        5000);
    const QStringList urls = output.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^url ")));
    EXPECT_EQ(urls, QStringList{QStringLiteral("url ") + QUrl::fromLocalFile(file).toString()}) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("offered copy\n"))) << output.toStdString();
    EXPECT_TRUE(waitForCards(desktop, 0, 3000)) << "the card stayed after a completed drop";
    ::kill(pid_t(target.processId()), SIGTERM);
    target.waitForFinished(2000);
}

TEST_P(CardDesktop, CompressRunsInTheBackgroundWithItsToasts) {
    CardApp app(GetParam(), 1.0);
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    Desktop& desktop = app.desktop;

    const quint32 card = app.openCard(QPoint(500, 400));
    ASSERT_NE(card, 0u);
    const QRect frame = desktop.clientGeometry(card);
    // Size setting 1: the picture fits 400 × 260, the chrome factor is 1.
    EXPECT_EQ(frame.size(), QSize(540, 356));
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-scale1-%1.png").arg(mode()));
    const auto [pillLeft, pillRight] = darkRun(screen, frame.bottom() - 22 - 18, frame.x(), frame.right() + 1);
    EXPECT_NEAR(pillRight - pillLeft, 534, 2);

    // In the pill: 14 tools of 30 with 2 between; compress is the 12th, after the format button.
    const int rowLeft = pillLeft + 8;
    const QPoint compress(rowLeft + 11 * 32 + 1 + 2 + 64 + 2 + 15 + 2, frame.bottom() - 22 - 18);
    desktop.moveTo(QPoint(frame.x() + 200, frame.y() + 100));
    desktop.moveTo(compress);
    Desktop::pause(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-hover-compress-%1.png").arg(mode()));
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    QStringList toasts;
    Desktop::waitUntil(
        [&] {
            const bool done = QDir(desktop.shotsFolder()).entryList({QStringLiteral("*.jpg")}, QDir::Files).size() >= 1;
            if (!desktop.windowsByName(QStringLiteral("^Pictolarium Toast$")).isEmpty())
                toasts.append(QStringLiteral("seen"));
            return done;
        },
        8000, 20);
    Desktop::pause(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-compressed-%1.png").arg(mode()));
    const QStringList files = QDir(desktop.shotsFolder()).entryList(QDir::Files);
    // One compressed copy in the place of the original, however often the button was pressed.
    EXPECT_EQ(files, QStringList{QStringLiteral("Sample.jpg")});
    EXPECT_FALSE(toasts.isEmpty());
    EXPECT_EQ(visibleCards(desktop).size(), 1);

    // The format button's menu, worked with the keyboard it grabs: the first entry is PNG.
    const QPoint formatButton(rowLeft + 11 * 32 + 3 + 32, compress.y());
    desktop.moveTo(formatButton);
    Desktop::pause(200);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    Desktop::pause(500);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-format-menu-%1.png").arg(mode()));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Down")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return QDir(desktop.shotsFolder()).entryList(QDir::Files) == QStringList{QStringLiteral("Sample.png")}; },
        8000))
        << QDir(desktop.shotsFolder()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString();
    Desktop::pause(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-converted-%1.png").arg(mode()));
    EXPECT_EQ(visibleCards(desktop).size(), 1);
}

TEST(CardSizes, SmallSizeSettingAndTheUsersToolOrder) {
    const QStringList order = {QStringLiteral("share"), QStringLiteral("crop"), QStringLiteral("annotate")};
    const QStringList hidden = {QStringLiteral("resize"),   QStringLiteral("rotate"),    QStringLiteral("text"),
                                QStringLiteral("pin"),      QStringLiteral("translate"), QStringLiteral("redact"),
                                QStringLiteral("cutout"),   QStringLiteral("scroll"),    QStringLiteral("rename"),
                                QStringLiteral("compress"), QStringLiteral("library")};
    CardApp app(false, 0.5, order, hidden);
    ASSERT_TRUE(app.desktop.ok()) << app.desktop.error().toStdString();
    ASSERT_TRUE(app.ready);
    Desktop& desktop = app.desktop;
    const quint32 card = app.openCard(QPoint(500, 400));
    ASSERT_NE(card, 0u);
    const QRect frame = desktop.clientGeometry(card);
    // Size setting 0.5: the picture fits 200 × 130, the chrome factor is 0.675.
    EXPECT_EQ(frame.size(), QSize(540, 220));
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/card-small-order.png"));
    const QRect image(frame.x() + 170, frame.y() + 22, 200, 125);
    EXPECT_TRUE(near(screen.pixelColor(image.x() + 50, image.y() + 30), QColor(220, 40, 40)));
    EXPECT_TRUE(near(screen.pixelColor(image.right() - 50, image.bottom() - 30), QColor(240, 240, 240)));
    // crop and annotate (20 each), a divider, the format button (43), a divider and share: 5 gaps of 2.
    const auto [pillLeft, pillRight] = darkRun(screen, frame.bottom() - 22 - 12, frame.x(), frame.right() + 1);
    EXPECT_NEAR(pillRight - pillLeft, 20 + 20 + 1 + 43 + 1 + 20 + 5 * 2 + 16, 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, CardDesktop, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? std::string("Composited") : std::string("Plain");
});
