// The card's copy-text, cut-out, rename and pin tools in the real program: what lands on the clipboard and in
// the folder, where the rename box and the pin open, and how a pin moves, resizes, zooms and turns back.

#include "Desktop.h"
#include "text/CutoutFixtures.h"
#include "text/TextFixtures.h"

#include <QDir>
#include <QFile>
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
        // A pill of text, pin, cut-out and rename, the format button and share.
        ASSERT_TRUE(desktop->writeCardSettings(
            {"annotate", "crop", "resize", "rotate", "translate", "redact", "scroll", "compress", "library"}));
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }

    QString home(const QString& name) const { return desktop->home() + QLatin1Char('/') + name; }
    // An opened picture is copied into the screenshot folder, and the card works on that copy.
    QString shots(const QString& name) const {
        QDir().mkpath(desktop->shotsFolder());
        return desktop->shotsFolder() + QLatin1Char('/') + name;
    }
    // A plain 1600 × 1000 picture in the home folder.
    QString plainPicture(const QString& name, QColor colour) const {
        QImage picture(1600, 1000, QImage::Format_RGB32);
        picture.fill(colour);
        picture.save(home(name));
        return home(name);
    }
    static QString shot(const QString& name) { return Desktop::shotsDir() + QStringLiteral("/tools-%1.png").arg(name); }
    // Opens the picture as a card; its 400 × 250 picture's rectangle on screen.
    QRect openCard(const QString& path) {
        card = desktop->openCard(path, card);
        EXPECT_NE(card, 0u) << desktop->appStderr().toStdString();
        const QRect frame = desktop->clientGeometry(card);
        return QRect(frame.x() + 70, frame.y() + 22, 400, 250);
    }
    // text, pin, cut-out, rename, then the format button (4) and share (5).
    QPoint tool(int index) { return desktop->pillButton(card, 4, true, index < 4 ? index : 5); }
    bool cardGone() {
        desktop->moveTo(QPoint(1200, 700));
        return Desktop::waitUntil([&] { return desktop->visibleWindow(QStringLiteral("^Pictolarium Card$")) == 0; },
                                  8000, 200);
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
    openCard(home(QStringLiteral("text.png")));
    ASSERT_NE(card, 0u);
    desktop->click(tool(0));
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
    openCard(home(QStringLiteral("scene.png")));
    ASSERT_NE(card, 0u);
    desktop->click(tool(2));
    const QString cut = shots(QStringLiteral("scene cutout.png"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFile::exists(cut); }, 30000, 200));
    Desktop::pause(1000);
    desktop->screenshot(shot(QStringLiteral("cutout")));
    const QImage result(cut);
    EXPECT_EQ(result.size(), QSize(1600, 1000));
    for (const QPoint corner : {QPoint(0, 0), QPoint(1599, 0), QPoint(0, 999), QPoint(1599, 999)})
        EXPECT_EQ(qAlpha(result.pixel(corner)), 0);
    EXPECT_EQ(qAlpha(result.pixel(1600 * 73 / 100, 1000 * 52 / 100)), 255);

    openCard(plainPicture(QStringLiteral("plain.png"), QColor(90, 140, 200)));
    Desktop::pause(500);
    desktop->click(tool(2));
    Desktop::pause(800);
    desktop->screenshot(shot(QStringLiteral("cutout-plain")));
    Desktop::pause(3000);
    EXPECT_FALSE(QFile::exists(shots(QStringLiteral("plain cutout.png"))));
}

TEST_F(CardTools, RenameTakesTheNextFreeNumberAndAClickElsewhereGivesUp) {
    const QString picture = plainPicture(QStringLiteral("Shot.png"), QColor(128, 128, 128));
    for (const char* name : {"Report.png", "Report 2.png"})
        QFile::copy(picture, shots(QString::fromLatin1(name)));
    openCard(picture);
    ASSERT_NE(card, 0u);
    const QRect cardFrame = desktop->clientGeometry(card);
    desktop->click(tool(3));
    const quint32 box = desktop->waitVisible(QStringLiteral("^Rename$"), true, 15000);
    ASSERT_NE(box, 0u) << desktop->appStderr().toStdString();
    const QRect boxFrame = desktop->clientGeometry(box);
    EXPECT_NEAR(boxFrame.center().x(), cardFrame.center().x(), 2);
    EXPECT_EQ(boxFrame.bottom() + 1, cardFrame.y() + 22 - 12) << "12 above the top of the picture";
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop->activeWindow() == box; }, 3000));
    desktop->screenshot(shot(QStringLiteral("rename-box")));
    desktop->key("ctrl+a");
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Report")});
    desktop->key("Return");
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("renamed")));
    EXPECT_TRUE(Desktop::waitUntil([&] { return QFile::exists(shots(QStringLiteral("Report 3.png"))); }, 5000));
    EXPECT_FALSE(QFile::exists(shots(QStringLiteral("Shot.png"))));

    // The share menu holds the card while it is up; Escape closes it and the card fades on its own.
    desktop->click(tool(4));
    Desktop::pause(600);
    desktop->screenshot(shot(QStringLiteral("share-menu")));
    desktop->key("Escape");
    Desktop::pause(300);
    EXPECT_TRUE(cardGone());

    // Again from a new card, then a click on the desktop: the box goes, the card is let go and fades.
    openCard(plainPicture(QStringLiteral("Second.png"), QColor(128, 128, 128)));
    desktop->click(tool(3));
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Rename$"), true, 15000), 0u);
    desktop->click(QPoint(1200, 80));
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Rename$"), false), 0u);
    EXPECT_TRUE(cardGone());
    EXPECT_TRUE(QFile::exists(shots(QStringLiteral("Report 3.png"))));
}

TEST_F(CardTools, PinMovesResizesZoomsAndTurnsBackIntoACard) {
    const QRect image = openCard(plainPicture(QStringLiteral("pin.png"), QColor(40, 120, 90)));
    ASSERT_NE(card, 0u);
    desktop->click(tool(1));
    const quint32 pin = desktop->waitVisible(QStringLiteral("^Pinned picture$"));
    ASSERT_NE(pin, 0u) << desktop->appStderr().toStdString();
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Card$"), false), 0u);
    QRect frame = desktop->clientGeometry(pin);
    EXPECT_NEAR(frame.x(), image.x(), 1);
    EXPECT_NEAR(frame.y(), image.y(), 1);
    EXPECT_NEAR(frame.width(), image.width(), 1);
    EXPECT_NEAR(frame.height(), image.height(), 1);
    desktop->moveTo(frame.center());
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("pin-hover")));

    // The middle moves it.
    desktop->drag({frame.center(), frame.center() + QPoint(-100, -50)}, 8);
    Desktop::pause(100);
    const QRect moved = desktop->clientGeometry(pin);
    EXPECT_EQ(moved, frame.translated(-100, -50));
    // The left edge: the right edge stays, the height follows about the middle.
    desktop->drag({QPoint(moved.x() + 5, moved.center().y()), QPoint(moved.x() - 95, moved.center().y())}, 8);
    Desktop::pause(100);
    const QRect wider = desktop->clientGeometry(pin);
    EXPECT_NEAR(wider.right(), moved.right(), 1);
    EXPECT_NEAR(wider.width(), 500, 1);
    EXPECT_NEAR(wider.height(), 313, 1);
    EXPECT_NEAR(wider.center().y(), moved.center().y(), 1);
    // The bottom-right corner: the top-left stays.
    desktop->drag({wider.bottomRight() - QPoint(4, 4), wider.bottomRight() + QPoint(96, 0)}, 8);
    Desktop::pause(100);
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
    desktop->click(zoomed.center(), 2);
    EXPECT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 0u);
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pinned picture$"), false), 0u);
    desktop->screenshot(shot(QStringLiteral("pin-back")));
}
