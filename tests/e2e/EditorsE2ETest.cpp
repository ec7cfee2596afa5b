// The crop, resize and rotate editors opened from a card of the real program: where they open, the pill
// docked under them, what they write, and the card taking the result back.

#include "Desktop.h"
#include "support/ManyPictures.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const QColor red(220, 30, 30);

bool near(QColor a, QColor b, int tolerance = 60) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerance;
}

class EditorApp : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Desktop::Options o;
        o.tray = false;
        o.compositor = GetParam();
        desktop = std::make_unique<Desktop>(o);
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        // Size setting 1 (chrome factor 1) and a pill of crop, resize and rotate alone.
        ASSERT_TRUE(desktop->writeCardSettings({"annotate", "text", "pin", "translate", "redact", "cutout", "scroll",
                                                "rename", "compress", "share", "library"}));
        // Grey, with a red mark in the top-left corner to follow through the turns.
        QImage picture(1600, 1000, QImage::Format_RGB32);
        picture.fill(QColor(128, 128, 128));
        QPainter(&picture).fillRect(0, 0, 200, 200, red);
        picture.save(desktop->home() + QStringLiteral("/shot.png"));
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }

    QString shotPath(const QString& name) const { return desktop->shotsFolder() + QLatin1Char('/') + name; }
    QString shot(const QString& name) const {
        return Desktop::shotsDir() + QStringLiteral("/editor-%1-%2.png").arg(name, GetParam() ? "composited" : "plain");
    }
    // The tool buttons of the card: crop, resize, rotate from the left of its pill (all 30 wide, 2 apart).
    QPoint tool(int index) {
        return desktop->pillButton(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 3, false, index);
    }
    // Opens the editor of the card's tool `index`, with this title.
    quint32 openEditor(int index, const char* title) {
        desktop->click(tool(index));
        return desktop->waitVisible(QStringLiteral("^Pictolarium %1$").arg(QLatin1String(title)));
    }
    // An editor's canvas: centred across the window, 58 below its top (the pill and the gaps above it).
    static QRect canvasOf(const QRect& window, QSize canvas) {
        return QRect(window.x() + (window.width() - canvas.width()) / 2, window.y() + 58, canvas.width(),
                     canvas.height());
    }

    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_P(EditorApp, CropResizeAndRotateFromTheCard) {
    const quint32 card = desktop->openCard(desktop->home() + QStringLiteral("/shot.png"));
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    const QRect cardFrame = desktop->clientGeometry(card);
    const QRect picture(cardFrame.x() + 70, cardFrame.y() + 22, 400, 250);

    // Crop opens active, its 634 × 396 canvas centred on the card's picture, the pill docked under it.
    quint32 editor = openEditor(0, "Crop");
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop->activeWindow() == editor; }, 3000));
    QRect window = desktop->clientGeometry(editor);
    QRect canvas = canvasOf(window, QSize(634, 396));
    EXPECT_NEAR(canvas.center().x(), picture.center().x(), 2);
    EXPECT_NEAR(canvas.center().y(), picture.center().y(), 2);
    QRect docked = desktop->clientGeometry(card);
    EXPECT_NEAR(docked.center().x(), canvas.center().x(), 2);
    EXPECT_NEAR(docked.top() + 22, canvas.bottom() + 1 + 32, 2) << "the pill sits 32 below the canvas";
    desktop->screenshot(shot(QStringLiteral("crop-open")));

    // Dragging the editor by its pill drags the card's pill along.
    const QPoint grip(window.center().x(), window.y() + 10 + 18); // on the hint in the pill
    desktop->drag({grip, grip + QPoint(-60, -40)}, 8);
    Desktop::pause(400);
    const QRect moved = desktop->clientGeometry(editor);
    EXPECT_EQ(moved.topLeft() - window.topLeft(), QPoint(-60, -40));
    EXPECT_EQ(desktop->clientGeometry(card).topLeft() - docked.topLeft(), QPoint(-60, -40));

    // Escape writes nothing, and the card grows back with its picture on the canvas.
    desktop->key("Escape");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Crop$"), false), 0u);
    const QRect back = desktop->clientGeometry(card);
    const QRect landed = canvasOf(moved, QSize(634, 396));
    EXPECT_EQ(back.height(), cardFrame.height());
    EXPECT_NEAR(back.center().x(), landed.center().x(), 2);
    EXPECT_NEAR(back.y() + 22 + 125, landed.center().y(), 2);
    EXPECT_EQ(QDir(desktop->shotsFolder()).entryList(QDir::Files), QStringList{QStringLiteral("shot.png")});

    // Resize to the width 800: the proportions follow, the file takes the old one's place, which goes to the Trash.
    ASSERT_NE(editor = openEditor(1, "Resize"), 0u);
    window = desktop->clientGeometry(editor);
    desktop->click(QPoint((window.width() - 256) / 2 + window.x() + 12 + 32, window.y() + 28));
    desktop->key("ctrl+a");
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("800")});
    desktop->key("Return");
    Desktop::pause(200);
    desktop->screenshot(shot(QStringLiteral("resize")));
    desktop->key("Return");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Resize$"), false), 0u);
    EXPECT_EQ(QImage(shotPath(QStringLiteral("shot.png"))).size(), QSize(800, 500));
    EXPECT_EQ(QDir(desktop->environment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Trash/files"))
                  .entryList(QDir::Files),
              QStringList{QStringLiteral("shot.png")});

    // Rotate right: 500 × 800, the red corner now top right.
    ASSERT_NE(editor = openEditor(2, "Rotate"), 0u);
    window = desktop->clientGeometry(editor);
    desktop->click(QPoint(window.x() + (window.width() - 220) / 2 + 12 + 32 + 15, window.y() + 28));
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("rotate")));
    desktop->key("Return");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Rotate$"), false), 0u);
    const QImage turned(shotPath(QStringLiteral("shot.png")));
    EXPECT_EQ(turned.size(), QSize(500, 800));
    EXPECT_TRUE(near(turned.pixelColor(450, 50), red));
    EXPECT_FALSE(near(turned.pixelColor(50, 50), red));

    // A dragged rectangle and Return: "shot crop.png" of the dragged size, and the toast.
    ASSERT_NE(editor = openEditor(0, "Crop"), 0u);
    canvas = canvasOf(desktop->clientGeometry(editor), QSize(248, 396));
    desktop->drag({canvas.topLeft() + QPoint(40, 60), canvas.topLeft() + QPoint(190, 260)}, 8);
    desktop->screenshot(shot(QStringLiteral("crop-rect")));
    desktop->key("Return");
    EXPECT_TRUE(desktop->waitToast());
    const QImage piece(shotPath(QStringLiteral("shot crop.png")));
    EXPECT_NEAR(piece.width(), 150 * 500 / 248.0, 1.5);
    EXPECT_NEAR(piece.height(), 200 * 800 / 396.0, 1.5);
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("cropped")));

    // A lasso diamond on the cropped picture leaves its corners transparent.
    ASSERT_NE(editor = openEditor(0, "Crop"), 0u);
    const QRect cropWindow = desktop->clientGeometry(editor);
    desktop->key("l");
    const QPoint middle(cropWindow.center().x(), cropWindow.y() + 58 + 150);
    desktop->drag({middle + QPoint(0, -100), middle + QPoint(100, 0), middle + QPoint(0, 100), middle + QPoint(-100, 0),
                   middle + QPoint(0, -100)},
                  8);
    desktop->screenshot(shot(QStringLiteral("crop-lasso")));
    desktop->key("Return");
    QImage lasso;
    Desktop::waitUntil([&] { return !(lasso = QImage(shotPath(QStringLiteral("shot crop crop.png")))).isNull(); },
                       3000);
    ASSERT_FALSE(lasso.isNull());
    EXPECT_EQ(lasso.pixelColor(1, 1).alpha(), 0);
    EXPECT_EQ(lasso.pixelColor(lasso.width() / 2, lasso.height() / 2).alpha(), 255);
}

// A picture large enough to take seconds to turn and write (54 megapixels): the program answers meanwhile (the basket's
// key shows the basket), and the file is turned once the editor has gone. An editor opens on a picture that takes
// most of a second to read (126 megapixels) without the program stopping to answer.
class LargeEditorApp : public EditorApp {};

TEST_P(LargeEditorApp, RotatingALargePictureLeavesTheProgramAnswering) {
    const QString large = desktop->home() + QStringLiteral("/large.jpg");
    {
        QImage picture(9000, 6000, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                line[x] = qRgb(x * 255 / 9000, y * 255 / 6000, (x ^ y) & 255);
        }
        QPainter(&picture).fillRect(0, 0, 600, 600, red);
        ASSERT_TRUE(picture.save(large, "JPEG", 90));
    }
    const quint32 card = desktop->openCard(large);
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    const quint32 editor = openEditor(2, "Rotate");
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    const QRect window = desktop->clientGeometry(editor);
    desktop->click(QPoint(window.x() + (window.width() - 220) / 2 + 12 + 32 + 15, window.y() + 28));
    desktop->key("Return");
    desktop->key("super+shift+s");
    EXPECT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Basket$"), true, 1000), 0u)
        << "the program stopped answering";
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Rotate$"), false, 20000), 0u);
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return QImageReader(shotPath(QStringLiteral("large.jpg"))).size() == QSize(6000, 9000); }, 20000));

    const QString wide = desktop->home() + QStringLiteral("/wide.webp");
    {
        QFile file(wide);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ManyPictures::oneColourWebp(14000, 9000));
    }
    const quint32 wideCard = desktop->openCard(wide, card);
    ASSERT_NE(wideCard, 0u) << desktop->appStderr().toStdString();
    desktop->click(desktop->pillButton(wideCard, 3, false, 0));
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Crop$"), true, 20000), 0u)
        << desktop->appStderr().toStdString();
    desktop->key("Escape");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Crop$"), false, 5000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Plain, LargeEditorApp, ::testing::Values(false));

INSTANTIATE_TEST_SUITE_P(Modes, EditorApp, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? std::string("Composited") : std::string("Plain");
});
