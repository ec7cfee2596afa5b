// The annotate and backdrop editors opened from a card of the real program: shapes drawn with the mouse and
// keys, the annotated file with its stored edit, reopening it editable, "Add a backdrop" taking typed text along;
// in the backdrop editor a fill picked, the shadow switched, the padding dragged, the styled file written and
// annotate back again, and a preset saved and listed.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <sys/xattr.h>

namespace {

const QColor grey(235, 235, 235);

class AnnotateApp : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_unique<Desktop>(Desktop::Options{});
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        ASSERT_TRUE(desktop->writeCardSettings({"crop", "resize", "rotate", "text", "pin", "translate", "redact",
                                                "cutout", "scroll", "rename", "compress", "share", "library"}));
        QImage picture(1600, 1000, QImage::Format_RGB32);
        picture.fill(grey);
        picture.save(desktop->home() + QStringLiteral("/shot.png"));
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }

    QString shotPath(const QString& name) const { return desktop->shotsFolder() + QLatin1Char('/') + name; }
    QString dataHome() const { return desktop->environment().value(QStringLiteral("XDG_DATA_HOME")); }
    static QString shot(const QString& name) {
        return Desktop::shotsDir() + QStringLiteral("/annotate-%1.png").arg(name);
    }
    // The card's one tool, annotate, once the card shows.
    QPoint annotateTool() {
        return desktop->pillButton(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 1, false, 0);
    }
    // A card of "shot.png" and the annotate editor opened from it.
    quint32 openAnnotate() {
        if (!desktop->openCard(desktop->home() + QStringLiteral("/shot.png")))
            return 0;
        desktop->click(annotateTool());
        return desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    }
    // The canvas of the 1600 × 1000 picture between the two 40 wide bars, 32 from each, centred down.
    QRect canvasOf(quint32 editor) {
        const QRect window = desktop->clientGeometry(editor);
        const int width = window.width() - 2 * 40 - 64;
        const int height = int(std::lround(width * 1000 / 1600.0));
        return QRect(window.x() + 72, window.y() + (window.height() - height) / 2, width, height);
    }
    // Picture pixels of a canvas point.
    static QPoint pixel(const QRect& canvas, QPoint at) {
        return QPoint((at.x() - canvas.x()) * 1600 / canvas.width(), (at.y() - canvas.y()) * 1600 / canvas.width());
    }
    QString link(const QString& path) {
        char buffer[64] = {};
        const ssize_t got =
            ::getxattr(QFile::encodeName(path).constData(), "user.com.quillmerette.picto.edit", buffer, sizeof buffer);
        return got > 0 ? QString::fromUtf8(buffer, int(got)) : QString();
    }
    // The annotate editor's right bar, from the window's middle: fill, colour, size, signature, backdrop, presets.
    QPoint barButton(quint32 editor, int index) {
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
    QJsonArray presets() {
        return QJsonDocument::fromJson(
                   QByteArray::fromBase64(desktop->setting(QStringLiteral("picto.stylePresets")).toString().toLatin1()))
            .array();
    }
    // "Add a backdrop" from the annotate editor once it shows; the backdrop editor.
    quint32 openBackdrop() {
        const quint32 annotate = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
        if (!annotate)
            return 0;
        Desktop::pause(300);
        desktop->click(barButton(annotate, 4));
        return desktop->waitVisible(QStringLiteral("^Pictolarium Backdrop$"));
    }

    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_F(AnnotateApp, DrawWriteReopenAndMove) {
    quint32 editor = openAnnotate();
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    QRect canvas = canvasOf(editor);

    // An arrow (the tool the editor opens with), a box and a text.
    const QPoint tail = canvas.topLeft() + QPoint(40, 40), head = canvas.topLeft() + QPoint(200, 120);
    desktop->drag({tail, head});
    desktop->key("b");
    desktop->drag({canvas.topLeft() + QPoint(260, 60), canvas.topLeft() + QPoint(400, 160)});
    desktop->key("t");
    desktop->click(canvas.topLeft() + QPoint(80, 250));
    Desktop::pause(200);
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Hello")});
    desktop->key("Escape"); // ends the typing, keeping the text
    Desktop::pause(200);
    desktop->screenshot(shot(QStringLiteral("drawn")));
    desktop->key("Return");
    EXPECT_TRUE(desktop->waitToast());
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"), false), 0u);

    const QString written = shotPath(QStringLiteral("shot annotated.png"));
    const QImage annotated(written);
    ASSERT_FALSE(annotated.isNull());
    const QPoint boxEdge = pixel(canvas, canvas.topLeft() + QPoint(330, 60));
    EXPECT_NE(annotated.pixelColor(boxEdge), grey) << "the box's top edge";
    const QString id = link(written);
    EXPECT_EQ(id.size(), 36);
    for (const char* kind : {".json", ".png"})
        EXPECT_TRUE(QFile::exists(dataHome() + QStringLiteral("/Pictolarium/Edits/") + id + QLatin1String(kind)));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("annotated-card")));

    // Again: the shapes come back as objects; the arrow moved by a drag on its middle, then Done.
    desktop->click(annotateTool());
    editor = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    ASSERT_NE(editor, 0u);
    EXPECT_TRUE(desktop->waitToast()) << "Reopened with editable objects";
    desktop->screenshot(shot(QStringLiteral("reopened")));
    canvas = canvasOf(editor);
    const QPoint middle = canvas.topLeft() + QPoint(120, 80);
    desktop->drag({middle, middle + QPoint(0, 150)});
    desktop->screenshot(shot(QStringLiteral("moved")));
    desktop->key("Return");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"), false), 0u);
    EXPECT_FALSE(QFile::exists(shotPath(QStringLiteral("shot annotated 2.png"))));
    const QImage rewritten(written);
    EXPECT_EQ(rewritten.pixelColor(pixel(canvas, middle)), grey) << "the arrow left";
    EXPECT_NE(rewritten.pixelColor(pixel(canvas, middle + QPoint(0, 150))), grey);
    EXPECT_EQ(link(written), id);
}

TEST_F(AnnotateApp, CustomColourSignatureAndBackdrop) {
    const quint32 editor = openAnnotate();
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    const QRect canvas = canvasOf(editor);

    // The colour menu's "+" opens the colour dialog; a typed colour and Return close it and save the colour.
    const QPoint colour = barButton(editor, 1);
    Desktop::pause(500);
    desktop->click(colour);
    Desktop::pause(600);
    desktop->screenshot(shot(QStringLiteral("colour-menu")));
    desktop->click(colour + QPoint(-15 + 23 + 2, 14 + 6 + 89 + 2));
    const quint32 dialog = desktop->waitVisible(QStringLiteral("^Select Colou?r$"));
    ASSERT_NE(dialog, 0u);
    desktop->key("alt+h");
    desktop->key("ctrl+a");
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("#3366cc")});
    Desktop::pause(200);
    desktop->screenshot(shot(QStringLiteral("colour-dialog")));
    desktop->key("Return");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Select Colou?r$"), false), 0u);
    EXPECT_NE(desktop->visibleWindow(QStringLiteral("^Pictolarium Annotate$")), 0u)
        << "Return in the dialog does not commit";
    const auto firstColour = [&] {
        return desktop->setting(QStringLiteral("picto.customColors"))[0][QStringLiteral("v")];
    };
    EXPECT_TRUE(Desktop::waitUntil([&] { return firstColour() == QJsonValue(QStringLiteral("#3366CC")); }, 3000));
    desktop->click(colour);
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("colour-saved")));
    desktop->key("Escape");

    // "Create signature…": drawn on the pad, saved, placed on the picture; undo takes it off again.
    desktop->click(barButton(editor, 3));
    Desktop::pause(400);
    desktop->key("Down");
    desktop->key("Return");
    const quint32 pad = desktop->waitVisible(QStringLiteral("^Create signature$"));
    ASSERT_NE(pad, 0u);
    const QRect padWindow = desktop->clientGeometry(pad);
    desktop->drag({padWindow.topLeft() + QPoint(60, 120), padWindow.topLeft() + QPoint(380, 90)});
    desktop->screenshot(shot(QStringLiteral("signature-pad")));
    desktop->click(padWindow.topLeft() + QPoint(400, 220));
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Create signature$"), false), 0u);
    EXPECT_EQ(QDir(dataHome() + QStringLiteral("/Pictolarium/Signatures"))
                  .entryList({QStringLiteral("sig-*.png")}, QDir::Files)
                  .size(),
              1);
    Desktop::pause(300);
    const QImage placed = desktop->screenshot(shot(QStringLiteral("signature-placed")));
    EXPECT_NE(placed.pixelColor(canvas.center()), grey) << "ink in the middle of the picture";
    desktop->key("ctrl+z");
    Desktop::pause(300);
    EXPECT_EQ(desktop->screenshot().pixelColor(canvas.center()), grey) << "undone";

    // Text still being typed when "Add a backdrop" is pressed goes into the written picture.
    desktop->key("t");
    desktop->click(canvas.topLeft() + QPoint(80, 80));
    Desktop::pause(200);
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Typed")});
    Desktop::pause(200);
    desktop->click(barButton(editor, 4));
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"), false), 0u);
    const QImage written(shotPath(QStringLiteral("shot annotated.png")));
    ASSERT_FALSE(written.isNull());
    int ink = 0;
    const QRect around(pixel(canvas, canvas.topLeft() + QPoint(70, 60)), QSize(200, 80));
    for (int y = around.top(); y <= around.bottom(); ++y)
        for (int x = around.left(); x <= around.right(); ++x)
            ink += written.pixelColor(x, y) != grey;
    EXPECT_GT(ink, 100) << "the typed text";

    // The saved colour is listed in the panel menu and removed from there.
    const QPoint icon = desktop->trayIcon();
    ASSERT_FALSE(icon.isNull());
    desktop->click(icon);
    Desktop::pause(500);
    desktop->xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Up"),
                      QStringLiteral("Up"), QStringLiteral("Up"), QStringLiteral("Up"), QStringLiteral("Up"),
                      QStringLiteral("Right")});
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("panel-colours")));
    desktop->key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return firstColour().isUndefined(); }, 3000));
}

TEST_F(AnnotateApp, BackdropFromAnnotateStyledWrittenAndAnnotateBack) {
    const quint32 annotate0 = openAnnotate();
    ASSERT_NE(annotate0, 0u) << desktop->appStderr().toStdString();
    // An arrow drawn across the middle, so that annotate writes its file before the hand-over.
    const QPoint middle = desktop->clientGeometry(annotate0).center();
    desktop->drag({middle - QPoint(100, 50), middle + QPoint(100, 50)});
    quint32 editor = openBackdrop();
    ASSERT_NE(editor, 0u) << desktop->appStderr().toStdString();
    EXPECT_TRUE(QFile::exists(shotPath(QStringLiteral("shot annotated.png"))));
    desktop->screenshot(shot(QStringLiteral("backdrop-opened")));

    // "Ocean" is the fourth fill of the menu.
    desktop->click(toolbar(editor, 0));
    Desktop::pause(500);
    desktop->screenshot(shot(QStringLiteral("backdrop-fills")));
    desktop->xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Down"),
                      QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
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
    const QImage dragging = desktop->screenshot(shot(QStringLiteral("backdrop-dragging")));
    desktop->xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    // The chip: a dark pill near the canvas's top edge, over the Ocean backdrop.
    const QColor chip = dragging.pixelColor(int(canvas.center().x()), int(canvas.top() + 16 + 4));
    EXPECT_LT(chip.lightness(), 60) << "no chip while dragging";
    const int pad = int(std::lround((144 + 30 / scale) / 1600 * 1600));

    desktop->click(toolbar(editor, 3));
    EXPECT_TRUE(desktop->waitToast());
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
    desktop->screenshot(shot(QStringLiteral("backdrop-again")));
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
    desktop->screenshot(shot(QStringLiteral("backdrop-presets-empty")));
    desktop->key("Down");
    desktop->key("Return");
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Name this style$")), 0u);
    desktop->xdotool({QStringLiteral("type"), QStringLiteral("Blog")});
    desktop->screenshot(shot(QStringLiteral("backdrop-prompt")));
    desktop->key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return presets().size() == 1; }, 3000));
    const QJsonObject blog = presets().first().toObject();
    EXPECT_EQ(blog.value(QStringLiteral("name")).toString(), QStringLiteral("Blog"));
    EXPECT_TRUE(blog.contains(QStringLiteral("background")));
    EXPECT_FALSE(blog.contains(QStringLiteral("annotate")));
    desktop->click(toolbar(editor, 2));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("backdrop-presets-blog")));
    desktop->key("Escape");
    desktop->key("Escape");
    const quint32 annotate = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    ASSERT_NE(annotate, 0u);
    desktop->click(barButton(annotate, 5));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("backdrop-annotate-presets")));
    desktop->key("Escape");
}
