// The annotate editor opened from a card of the real program: shapes drawn with the mouse and keys, the
// annotated file with its stored edit, reopening it editable, and "Add a backdrop" taking typed text along.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <sys/xattr.h>

namespace {

class AnnotateApp : public ::testing::Test {
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
    QString editsDir() const {
        return desktop->environment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Pictolarium/Edits");
    }
    static QString shot(const QString& name) {
        return Desktop::shotsDir() + QStringLiteral("/annotate-%1.png").arg(name);
    }
    bool toastShows() {
        return Desktop::waitUntil(
            [&] { return !desktop->windowsByName(QStringLiteral("^Pictolarium Toast$")).isEmpty(); }, 3000, 50);
    }
    // The card's one tool, annotate, at the left of its pill.
    QPoint annotateTool() {
        const QRect card = desktop->clientGeometry(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")));
        const int pillWidth = 30 + 2 + 1 + 2 + 64 + 16;
        return QPoint(card.center().x() - pillWidth / 2 + 8 + 15, card.bottom() - 22 - 18);
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

    // The right bar's buttons, from the window's middle: fill, colour, size, signature, backdrop, presets.
    QPoint barButton(quint32 editor, int index) {
        const QRect window = desktop->clientGeometry(editor);
        return QPoint(window.x() + window.width() - 40, window.y() + window.height() / 2 - 91 + 30 * index);
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
    // Our 22 × 22 icon docked in the tray at the bottom of the screen.
    QPoint trayIcon() {
        QPoint at;
        Desktop::waitUntil(
            [&] {
                const QString out =
                    desktop->run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--classname"),
                                                             QStringLiteral("pictolarium")});
                for (const QString& id : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                    if (const QRect r = desktop->windowGeometry(id.toUInt()); r.width() <= 32 && r.top() > 700)
                        at = r.center();
                return !at.isNull();
            },
            8000, 200);
        return at;
    }

    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_F(AnnotateApp, DrawWriteReopenAndMove) {
    desktop->moveTo(QPoint(640, 400));
    desktop->run(QStringLiteral(PICTOLARIUM_BIN), {desktop->home() + QStringLiteral("/shot.png")});
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 0u) << desktop->appStderr().toStdString();
    desktop->click(annotateTool());
    quint32 editor = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
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
    EXPECT_TRUE(toastShows());
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"), false), 0u);

    const QString written = shotPath(QStringLiteral("shot annotated.png"));
    const QImage annotated(written);
    ASSERT_FALSE(annotated.isNull());
    const QPoint boxEdge = pixel(canvas, canvas.topLeft() + QPoint(330, 60));
    EXPECT_NE(annotated.pixelColor(boxEdge), QColor(235, 235, 235)) << "the box's top edge";
    const QString id = link(written);
    EXPECT_EQ(id.size(), 36);
    EXPECT_TRUE(QFile::exists(editsDir() + QLatin1Char('/') + id + QStringLiteral(".json")));
    EXPECT_TRUE(QFile::exists(editsDir() + QLatin1Char('/') + id + QStringLiteral(".png")));
    Desktop::pause(400);
    desktop->screenshot(shot(QStringLiteral("annotated-card")));

    // Again: the shapes come back as objects; the arrow moved by a drag on its middle, then Done.
    desktop->click(annotateTool());
    editor = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
    ASSERT_NE(editor, 0u);
    EXPECT_TRUE(toastShows()) << "Reopened with editable objects";
    desktop->screenshot(shot(QStringLiteral("reopened")));
    canvas = canvasOf(editor);
    const QPoint middle = canvas.topLeft() + QPoint(120, 80);
    desktop->drag({middle, middle + QPoint(0, 150)});
    desktop->screenshot(shot(QStringLiteral("moved")));
    desktop->key("Return");
    EXPECT_EQ(desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"), false), 0u);
    EXPECT_FALSE(QFile::exists(shotPath(QStringLiteral("shot annotated 2.png"))));
    const QImage rewritten(written);
    EXPECT_EQ(rewritten.pixelColor(pixel(canvas, middle)), QColor(235, 235, 235)) << "the arrow left";
    EXPECT_NE(rewritten.pixelColor(pixel(canvas, middle + QPoint(0, 150))), QColor(235, 235, 235));
    EXPECT_EQ(link(written), id);
}

TEST_F(AnnotateApp, CustomColourSignatureAndBackdrop) {
    desktop->moveTo(QPoint(640, 400));
    desktop->run(QStringLiteral(PICTOLARIUM_BIN), {desktop->home() + QStringLiteral("/shot.png")});
    ASSERT_NE(desktop->waitVisible(QStringLiteral("^Pictolarium Card$")), 0u) << desktop->appStderr().toStdString();
    desktop->click(annotateTool());
    const quint32 editor = desktop->waitVisible(QStringLiteral("^Pictolarium Annotate$"));
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
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            return setting("picto.customColors").toArray().first().toObject().value(QStringLiteral("v")).toString() ==
                   QStringLiteral("#3366CC");
        },
        3000));
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
    const QString signatures =
        desktop->environment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Pictolarium/Signatures");
    const QStringList stored = QDir(signatures).entryList({QStringLiteral("sig-*.png")}, QDir::Files);
    EXPECT_EQ(stored.size(), 1);
    Desktop::pause(300);
    const QImage placed = desktop->screenshot(shot(QStringLiteral("signature-placed")));
    EXPECT_NE(placed.pixelColor(canvas.center()), QColor(235, 235, 235)) << "ink in the middle of the picture";
    desktop->key("ctrl+z");
    Desktop::pause(300);
    EXPECT_EQ(desktop->screenshot().pixelColor(canvas.center()), QColor(235, 235, 235)) << "undone";

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
            ink += written.pixelColor(x, y) != QColor(235, 235, 235);
    EXPECT_GT(ink, 100) << "the typed text";

    // The saved colour is listed in the panel menu and removed from there.
    const QPoint icon = trayIcon();
    ASSERT_FALSE(icon.isNull());
    desktop->click(icon);
    Desktop::pause(500);
    for (const char* step : {"Up", "Up", "Up", "Up", "Up", "Right"})
        desktop->xdotool(
            {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QString::fromLatin1(step)});
    Desktop::pause(300);
    desktop->screenshot(shot(QStringLiteral("panel-colours")));
    desktop->key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return setting("picto.customColors").toArray().isEmpty(); }, 3000));
}
