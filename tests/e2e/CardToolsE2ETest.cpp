// The card's copy-text, cut-out, rename and pin tools in the real program: what lands on the clipboard and in
// the folder, where the rename box and the pin open, and how a pin moves, resizes, zooms and turns back.

#include "Desktop.h"
#include "text/CutoutFixtures.h"
#include "text/TextFixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class CardTools : public ::testing::Test {
protected:
    void SetUp() override {
        Desktop::Options o;
        o.tray = false;
        desktop = std::make_unique<Desktop>(o);
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        // Chrome factor 1 and a pill of text, pin, cut-out and rename, the format button and share.
        QJsonObject settings;
        settings[QStringLiteral("picto.sizeScale")] = Desktop::typed("double", 1.0);
        for (const char* flag :
             {"picto.toolShareSecondLastV6", "picto.toolResizeRotateV5", "picto.toolOrderV2", "onboardingSeen"})
            settings[QLatin1String(flag)] = Desktop::typed("bool", true);
        QJsonArray hidden;
        for (const char* id :
             {"annotate", "crop", "resize", "rotate", "translate", "redact", "scroll", "compress", "library"})
            hidden.append(Desktop::typed("string", QString::fromLatin1(id)));
        settings[QStringLiteral("picto.toolHidden")] = Desktop::typed("array", hidden);
        QDir().mkpath(desktop->configHome() + QStringLiteral("/Pictolarium"));
        QFile file(desktop->configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(settings).toJson());
        file.close();
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }

    QString home(const QString& name) const { return desktop->home() + QLatin1Char('/') + name; }
    // An opened picture is copied into the screenshot folder, and the card works on that copy.
    QString shots(const QString& name) const {
        QDir().mkpath(desktop->shotsFolder());
        return desktop->shotsFolder() + QLatin1Char('/') + name;
    }
    static QString shot(const QString& name) { return Desktop::shotsDir() + QStringLiteral("/tools-%1.png").arg(name); }
    quint32 visible(const QString& title) {
        const QString out =
            desktop->run(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title});
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).trimmed().toUInt();
    }
    quint32 waitVisible(const QString& title, bool shown = true, int timeoutMs = 5000) {
        quint32 id = 0;
        Desktop::waitUntil([&] { return ((id = visible(title)) != 0) == shown; }, timeoutMs, 100);
        Desktop::pause(300);
        return id;
    }
    // Opens the picture as a card at the middle of the screen; its picture's rectangle on screen.
    QRect openCard(const QString& path, QSize picture) {
        desktop->moveTo(QPoint(640, 400));
        desktop->run(QStringLiteral(PICTOLARIUM_BIN), {path});
        // The card before may still be fading out.
        const quint32 before = card;
        Desktop::waitUntil(
            [&] {
                card = visible(QStringLiteral("^Pictolarium Card$"));
                return card != 0 && card != before;
            },
            5000, 100);
        Desktop::pause(300);
        EXPECT_NE(card, 0u) << desktop->appStderr().toStdString();
        const QRect frame = desktop->clientGeometry(card);
        return QRect(frame.x() + 70, frame.y() + 22, picture.width(), picture.height());
    }
    void click(QPoint at, int count = 1) {
        desktop->moveTo(at);
        Desktop::pause(150);
        desktop->xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(count),
                          QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
    }
    void drag(QPoint from, QPoint to) {
        desktop->moveTo(from);
        Desktop::pause(100);
        desktop->xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        for (int step = 1; step <= 8; ++step) {
            desktop->moveTo(from + (to - from) * step / 8);
            Desktop::pause(15);
        }
        desktop->xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        Desktop::pause(300);
    }
    // text, pin, cut-out and rename from the left of the pill (30 wide, 2 apart), then a divider, the format
    // button, another divider and share.
    QPoint tool(int index) {
        const QRect frame = desktop->clientGeometry(card);
        const int pillWidth = 4 * 30 + 3 * 2 + 5 + 64 + 5 + 30 + 16;
        const int left = frame.center().x() - pillWidth / 2 + 8;
        const int x = index < 4 ? left + index * 32 + 15 : left + 4 * 32 - 2 + 5 + 64 + 5 + 15;
        return QPoint(x, frame.bottom() - 22 - 18);
    }

    std::unique_ptr<Desktop> desktop;
    quint32 card = 0;
};

} // namespace

TEST_F(CardTools, CopyTextPutsTextAndBothCodesOnTheClipboard) {
    ASSERT_TRUE(TextFixtures::registerInter());
    TextFixtures::Canvas canvas(QSize(1600, 1000), Qt::white);
    canvas.line(120, 80, QStringLiteral("Your invoice number twelve"), TextFixtures::inter(56), Qt::black);
    canvas.image(QRect(150, 400, 400, 400), TextFixtures::qrCode(QStringLiteral("first payload"), 400));
    canvas.image(QRect(1000, 400, 400, 400), TextFixtures::qrCode(QStringLiteral("second payload"), 400));
    canvas.picture.save(home(QStringLiteral("text.png")));
    openCard(home(QStringLiteral("text.png")), QSize(400, 250));
    ASSERT_NE(card, 0u);
    click(tool(0));
    QString clipboard;
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            clipboard = desktop->run(QStringLiteral(CLIPBOARD_PROBE_BIN), {});
            return clipboard.contains(QStringLiteral("payload"));
        },
        20000, 500));
    desktop->screenshot(shot(QStringLiteral("copy-text")));
    // The text first (what recognition makes of the codes' patterns may join it), then each payload after a
    // blank line.
    EXPECT_TRUE(clipboard.contains(QStringLiteral("invoice number twelve"))) << clipboard.toStdString();
    EXPECT_TRUE(clipboard.endsWith(QStringLiteral("\n\nfirst payload\n\nsecond payload"))) << clipboard.toStdString();
}

TEST_F(CardTools, CutOutWritesATransparentCopyAndAPlainPictureNone) {
    cutoutScene(QSize(1600, 1000)).picture.save(home(QStringLiteral("scene.png")));
    openCard(home(QStringLiteral("scene.png")), QSize(400, 250));
    ASSERT_NE(card, 0u);
    click(tool(2));
    const QString cut = shots(QStringLiteral("scene cutout.png"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFile::exists(cut); }, 30000, 200));
    Desktop::pause(1000);
    desktop->screenshot(shot(QStringLiteral("cutout")));
    const QImage result(cut);
    EXPECT_EQ(result.size(), QSize(1600, 1000));
    for (const QPoint corner : {QPoint(0, 0), QPoint(1599, 0), QPoint(0, 999), QPoint(1599, 999)})
        EXPECT_EQ(qAlpha(result.pixel(corner)), 0);
    EXPECT_EQ(qAlpha(result.pixel(1600 * 73 / 100, 1000 * 52 / 100)), 255);

    QImage plain(1600, 1000, QImage::Format_RGB32);
    plain.fill(QColor(90, 140, 200));
    plain.save(home(QStringLiteral("plain.png")));
    openCard(home(QStringLiteral("plain.png")), QSize(400, 250));
    Desktop::pause(500);
    click(tool(2));
    Desktop::pause(800);
    desktop->screenshot(shot(QStringLiteral("cutout-plain")));
    Desktop::pause(3000);
    EXPECT_FALSE(QFile::exists(shots(QStringLiteral("plain cutout.png"))));
}

TEST_F(CardTools, RenameTakesTheNextFreeNumberAndAClickElsewhereGivesUp) {
    QImage picture(1600, 1000, QImage::Format_RGB32);
    picture.fill(QColor(128, 128, 128));
    for (const char* name : {"Report.png", "Report 2.png"})
        picture.save(shots(QString::fromLatin1(name)));
    picture.save(home(QStringLiteral("Shot.png")));
    openCard(home(QStringLiteral("Shot.png")), QSize(400, 250));
    ASSERT_NE(card, 0u);
    const QRect cardFrame = desktop->clientGeometry(card);
    click(tool(3));
    const quint32 box = waitVisible(QStringLiteral("^Rename$"), true, 15000);
    ASSERT_NE(box, 0u) << desktop->appStderr().toStdString();
    const QRect boxFrame = desktop->clientGeometry(box);
    EXPECT_NEAR(boxFrame.center().x(), cardFrame.center().x(), 2);
    EXPECT_EQ(boxFrame.bottom() + 1, cardFrame.y() + 22 - 12) << "12 above the top of the picture";
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop->activeWindow() == box; }, 3000));
    desktop->screenshot(shot(QStringLiteral("rename-box")));
    desktop->xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")});
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Report")});
    desktop->xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("renamed")));
    EXPECT_TRUE(Desktop::waitUntil([&] { return QFile::exists(shots(QStringLiteral("Report 3.png"))); }, 5000));
    EXPECT_FALSE(QFile::exists(shots(QStringLiteral("Shot.png"))));

    // The share menu holds the card while it is up; Escape closes it and the card fades on its own.
    click(tool(4));
    Desktop::pause(600);
    desktop->screenshot(shot(QStringLiteral("share-menu")));
    desktop->xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    Desktop::pause(300);
    desktop->moveTo(QPoint(1200, 700));
    EXPECT_TRUE(Desktop::waitUntil([&] { return visible(QStringLiteral("^Pictolarium Card$")) == 0; }, 8000, 200));

    // Again from a new card, then a click on the desktop: the box goes, the card is let go and fades.
    picture.save(home(QStringLiteral("Second.png")));
    openCard(home(QStringLiteral("Second.png")), QSize(400, 250));
    click(tool(3));
    ASSERT_NE(waitVisible(QStringLiteral("^Rename$"), true, 15000), 0u);
    click(QPoint(1200, 80));
    EXPECT_EQ(waitVisible(QStringLiteral("^Rename$"), false), 0u);
    desktop->moveTo(QPoint(1200, 700));
    EXPECT_TRUE(Desktop::waitUntil([&] { return visible(QStringLiteral("^Pictolarium Card$")) == 0; }, 8000, 200));
    EXPECT_TRUE(QFile::exists(shots(QStringLiteral("Report 3.png"))));
}

TEST_F(CardTools, PinMovesResizesZoomsAndTurnsBackIntoACard) {
    QImage picture(1600, 1000, QImage::Format_RGB32);
    picture.fill(QColor(40, 120, 90));
    picture.save(home(QStringLiteral("pin.png")));
    const QRect image = openCard(home(QStringLiteral("pin.png")), QSize(400, 250));
    ASSERT_NE(card, 0u);
    click(tool(1));
    const quint32 pin = waitVisible(QStringLiteral("^Pinned picture$"));
    ASSERT_NE(pin, 0u) << desktop->appStderr().toStdString();
    EXPECT_EQ(waitVisible(QStringLiteral("^Pictolarium Card$"), false), 0u);
    QRect frame = desktop->clientGeometry(pin);
    EXPECT_NEAR(frame.x(), image.x(), 1);
    EXPECT_NEAR(frame.y(), image.y(), 1);
    EXPECT_NEAR(frame.width(), image.width(), 1);
    EXPECT_NEAR(frame.height(), image.height(), 1);
    desktop->moveTo(frame.center());
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("pin-hover")));

    // The middle moves it.
    drag(frame.center(), frame.center() + QPoint(-100, -50));
    const QRect moved = desktop->clientGeometry(pin);
    EXPECT_EQ(moved, frame.translated(-100, -50));
    // The left edge: the right edge stays, the height follows about the middle.
    drag(QPoint(moved.x() + 5, moved.center().y()), QPoint(moved.x() - 95, moved.center().y()));
    const QRect wider = desktop->clientGeometry(pin);
    EXPECT_NEAR(wider.right(), moved.right(), 1);
    EXPECT_NEAR(wider.width(), 500, 1);
    EXPECT_NEAR(wider.height(), 313, 1);
    EXPECT_NEAR(wider.center().y(), moved.center().y(), 1);
    // The bottom-right corner: the top-left stays.
    drag(wider.bottomRight() - QPoint(4, 4), wider.bottomRight() + QPoint(96, 0));
    const QRect corner = desktop->clientGeometry(pin);
    EXPECT_EQ(corner.topLeft(), wider.topLeft());
    EXPECT_NEAR(corner.width(), 600, 1);

    // Ctrl and a wheel step up: e^0.05 larger about the centre.
    desktop->moveTo(corner.center());
    desktop->xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl")});
    desktop->xdotool({QStringLiteral("click"), QStringLiteral("4")});
    desktop->xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl")});
    Desktop::pause(300);
    const QRect zoomed = desktop->clientGeometry(pin);
    EXPECT_NEAR(zoomed.width(), corner.width() * std::exp(0.05), 1);
    EXPECT_NEAR(zoomed.center().x(), corner.center().x(), 1);

    // A double-click gives the card back and the pin goes.
    click(zoomed.center(), 2);
    EXPECT_NE(waitVisible(QStringLiteral("^Pictolarium Card$")), 0u);
    EXPECT_EQ(waitVisible(QStringLiteral("^Pinned picture$"), false), 0u);
    desktop->screenshot(shot(QStringLiteral("pin-back")));
}
