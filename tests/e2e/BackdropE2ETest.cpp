// The backdrop editor from a card of the real program: reached through annotate, a fill picked, the shadow
// switched, the padding dragged, the styled file written and annotate back again; a preset saved and listed.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

class BackdropApp : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_unique<Desktop>(Desktop::Options{});
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        ASSERT_TRUE(desktop->writeCardSettings({"crop", "resize", "rotate", "text", "pin", "translate", "redact",
                                                "cutout", "scroll", "rename", "compress", "share", "library"}));
        QImage picture(1600, 1000, QImage::Format_RGB32);
        picture.fill(QColor(235, 235, 235));
        picture.save(desktop->home() + QStringLiteral("/shot.png"));
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }

    QString shotPath(const QString& name) const { return desktop->shotsFolder() + QLatin1Char('/') + name; }
    static QString shot(const QString& name) {
        return Desktop::shotsDir() + QStringLiteral("/backdrop-%1.png").arg(name);
    }
    QPoint annotateTool() {
        const QRect card = desktop->clientGeometry(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")));
        const int pillWidth = 30 + 2 + 1 + 2 + 64 + 16;
        return QPoint(card.center().x() - pillWidth / 2 + 8 + 15, card.bottom() - 22 - 18);
    }
    // The annotate editor's right bar: index 4 "Add a backdrop", 5 "Style presets".
    QPoint annotateBar(quint32 editor, int index) {
        const QRect window = desktop->clientGeometry(editor);
        return QPoint(window.x() + window.width() - 40, window.y() + window.height() / 2 - 91 + 30 * index);
    }
    // The backdrop toolbar, left to right: fill, shadow, presets, done; a 224 wide pill centred 10 down.
    QPoint toolbar(quint32 editor, int index) {
        const QRect window = desktop->clientGeometry(editor);
        const int left = window.x() + (window.width() - 224) / 2 + 12;
        const int centres[] = {15, 32 + 33, 100 + 15, 135 + 15};
        return QPoint(left + centres[index], window.y() + 28);
    }
    QJsonValue setting(const char* key) {
        QFile file(desktop->configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll())
            .object()
            .value(QLatin1String(key))
            .toObject()
            .value(QStringLiteral("v"));
    }
    QJsonArray presets() {
        return QJsonDocument::fromJson(QByteArray::fromBase64(setting("picto.stylePresets").toString().toLatin1()))
            .array();
    }
    bool toastSays() {
        return Desktop::waitUntil(
            [&] { return !desktop->windowsByName(QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 3000, 50);
    }
    quint32 openBackdrop() {
        const quint32 annotate = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
        if (!annotate)
            return 0;
        Desktop::pause(300);
        desktop->click(annotateBar(annotate, 4));
        return desktop->waitVisible(QStringLiteral("^Pictolarium Backdrop$"));
    }

    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_F(BackdropApp, FromAnnotateStyledWrittenAndAnnotateBack) {
    desktop->moveTo(QPoint(640, 400));
    desktop->run(QStringLiteral(PICTOLARIUM_BIN), {desktop->home() + QStringLiteral("/shot.png")});
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 0u) << desktop->appStderr().toStdString();
    desktop->click(annotateTool());
    // An arrow drawn across the middle, so that annotate writes its file before the hand-over.
    const quint32 annotate0 = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    ASSERT_NE(annotate0, 0u);
    const QPoint middle = desktop->clientGeometry(annotate0).center();
    desktop->moveTo(middle - QPoint(100, 50));
    Desktop::pause(150);
    desktop->xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 1; step <= 10; ++step) {
        desktop->moveTo(middle - QPoint(100, 50) + QPoint(20, 10) * step);
        Desktop::pause(15);
    }
    desktop->xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    Desktop::pause(300);
    quint32 editor = openBackdrop();
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    EXPECT_TRUE(QFile::exists(shotPath(QStringLiteral("shot annotated.png"))));
    desktop->screenshot(shot(QStringLiteral("opened")));

    // "Ocean" is the fourth fill of the menu.
    desktop->click(toolbar(editor, 0));
    Desktop::pause(500);
    desktop->screenshot(shot(QStringLiteral("fills")));
    for (const char* step : {"Down", "Down", "Down", "Return"})
        desktop->xdotool(
            {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QString::fromLatin1(step)});
    Desktop::pause(300);
    desktop->click(toolbar(editor, 1));
    Desktop::pause(300);

    // The left band dragged 30 px inwards, its chip shown meanwhile. The canvas sits 58 down, centred.
    const QRect window = desktop->clientGeometry(editor);
    const int canvasHeight = window.height() - 78;
    const int canvasWidth = int(std::lround(canvasHeight * 1600 / 1000.0));
    const QRectF canvas(window.x() + (window.width() - canvasWidth) / 2.0, window.y() + 58, canvasWidth, canvasHeight);
    const double scale = std::min(canvas.width() / 1888, canvas.height() / 1288);
    const double left = canvas.center().x() - 1888 * scale / 2 + 144 * scale;
    const QPoint from(int(left + 2), int(canvas.center().y()));
    desktop->moveTo(from);
    Desktop::pause(200);
    desktop->xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 1; step <= 10; ++step) {
        desktop->moveTo(from + QPoint(3 * step, 0));
        Desktop::pause(20);
    }
    Desktop::pause(300);
    const QImage dragging = desktop->screenshot(shot(QStringLiteral("dragging")));
    desktop->xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    // The chip: a dark pill near the canvas's top edge, over the Ocean backdrop.
    const QColor chip = dragging.pixelColor(int(canvas.center().x()), int(canvas.top() + 16 + 4));
    EXPECT_LT(chip.lightness(), 60) << "no chip while dragging";
    const int pad = int(std::lround((144 + 30 / scale) / 1600 * 1600));

    desktop->click(toolbar(editor, 3));
    EXPECT_TRUE(toastSays());
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Backdrop$"), false), 0u);
    const QImage styled(shotPath(QStringLiteral("shot annotated styled.png")));
    ASSERT_FALSE(styled.isNull());
    EXPECT_NEAR(styled.width(), 1600 + 2 * pad, 4);
    EXPECT_NEAR(styled.height(), 1000 + 2 * pad, 4);
    // Ocean's first stop at the top left; no shadow under the picture, only the gradient.
    const QColor corner = styled.pixelColor(0, 0);
    EXPECT_NEAR(corner.red(), 0x74, 3);
    EXPECT_NEAR(corner.green(), 0xEB, 3);
    EXPECT_NEAR(corner.blue(), 0xD5, 3);

    // Annotate comes back after Done, and again after Escape, where nothing is written.
    editor = openBackdrop();
    ASSERT_NE(editor, 0u) << "annotate did not come back after Done";
    desktop->screenshot(shot(QStringLiteral("again")));
    desktop->key("Escape");
    EXPECT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$")), 0u)
        << "annotate did not come back after Escape";
    EXPECT_FALSE(QFile::exists(shotPath(QStringLiteral("shot annotated styled styled.png"))));
    EXPECT_FALSE(QFile::exists(shotPath(QStringLiteral("shot annotated styled annotated styled.png"))));

    // A preset saved in the backdrop editor: stored with its backdrop only, and not listed by annotate.
    editor = openBackdrop();
    ASSERT_NE(editor, 0u);
    desktop->click(toolbar(editor, 2));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("presets-empty")));
    desktop->key("Down");
    desktop->key("Return");
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Name this style$")), 0u);
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Blog")});
    desktop->screenshot(shot(QStringLiteral("prompt")));
    desktop->key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return presets().size() == 1; }, 3000));
    const QJsonObject blog = presets().first().toObject();
    EXPECT_EQ(blog.value(QStringLiteral("name")).toString(), QStringLiteral("Blog"));
    EXPECT_TRUE(blog.contains(QStringLiteral("background")));
    EXPECT_FALSE(blog.contains(QStringLiteral("annotate")));
    desktop->click(toolbar(editor, 2));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("presets-blog")));
    desktop->key("Escape");
    desktop->key("Escape");
    const quint32 annotate = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    ASSERT_NE(annotate, 0u);
    desktop->click(annotateBar(annotate, 5));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("annotate-presets")));
    desktop->key("Escape");
}
