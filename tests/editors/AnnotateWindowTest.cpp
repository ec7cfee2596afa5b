// The annotate editor on real files: writing, reopening, its keys and the backdrop hand-off.

#include "editors/AnnotateWindow.h"
#include "EditorFixtures.h"
#include "editors/AnnotateTextField.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "ui/GhostButton.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace EditorFixtures;

namespace {

using Tool = AnnotateCanvas::Tool;

struct Result {
    QUrl url;
    int calls = 0;
};

class AnnotateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(EditStore::dir()).removeRecursively();
        file = written(folder, QStringLiteral("shot.png"), filled(200, 100, Qt::white));
    }

    std::unique_ptr<AnnotateWindow> open(const QUrl& url, Result& result) {
        auto window = std::make_unique<AnnotateWindow>(shotOf(url), [&result](const QUrl& written, const QImage&) {
            result.url = written;
            ++result.calls;
        });
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        return window;
    }

    static void press(QWidget* window, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, QString text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(window, &event);
    }

    MemoryAttributes attributes;
    QTemporaryDir folder;
    QUrl file;
};

Annotation::Shape box(QRectF rect) {
    return {Annotation::Box{rect}, Annotation::palette()[2], 3, false, {}};
}

} // namespace

TEST_F(AnnotateWindowTest, DoneWritesBesideThenReopensAndRewritesInPlace) {
    Result first;
    std::unique_ptr<AnnotateWindow> window = open(file, first);
    EXPECT_FALSE(window->editID);
    window->canvas->shapes.push_back(box({20, 20, 60, 40}));
    window->finish();
    // Neither the mouse on the canvas (a new arrow) nor keys while it writes change anything the written picture
    // does not show.
    for (const auto& [type, at, held] : {std::tuple(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton),
                                         std::tuple(QEvent::MouseMove, QPointF(30, 25), Qt::LeftButton),
                                         std::tuple(QEvent::MouseMove, QPointF(60, 50), Qt::LeftButton),
                                         std::tuple(QEvent::MouseButtonRelease, QPointF(60, 50), Qt::NoButton)}) {
        const QPointF v = window->canvas->toView(at);
        QMouseEvent event(type, v, window->canvas->mapToGlobal(v), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(window->canvas, &event);
    }
    EXPECT_EQ(window->canvas->shapes.size(), 1u);
    window->canvas->selected = 0;
    press(window.get(), Qt::Key_Delete);
    press(window.get(), Qt::Key_Right);
    press(window->canvas, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(window->canvas->shapes.size(), 1u);
    ASSERT_TRUE(writeDone(window.get()));
    ASSERT_EQ(first.calls, 1);
    EXPECT_EQ(first.url.fileName(), QStringLiteral("shot annotated.png"));
    const QImage annotated(first.url.toLocalFile());
    EXPECT_NE(annotated.pixelColor(50, 80), QColor(Qt::white)) << "the box's lower edge (y flips)";
    EXPECT_EQ(annotated.pixelColor(50, 20), QColor(Qt::white));
    EXPECT_FALSE(window->isVisible());

    Result second;
    std::unique_ptr<AnnotateWindow> reopened = open(first.url, second);
    ASSERT_TRUE(reopened->editID);
    ASSERT_EQ(reopened->canvas->shapes.size(), 1u);
    EXPECT_EQ(reopened->canvas->image().pixelColor(50, 80), QColor(Qt::white)) << "drawn on the unannotated base";
    reopened->canvas->selected = 0;
    press(reopened.get(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(std::get<Annotation::Box>(reopened->canvas->shapes[0].kind).rect.topLeft(), QPointF(30, 20));
    QVariant posted;
    QObject owner;
    Notifications::defaultCenter().observe(ShotFiles::changed(), &owner, [&](const QVariant& o) { posted = o; });
    reopened->finish();
    ASSERT_TRUE(writeDone(reopened.get()));
    EXPECT_EQ(second.url, first.url) << "the same file, rewritten";
    EXPECT_EQ(posted.toUrl(), first.url);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("shot annotated 2.png"))));
    EXPECT_EQ(EditStore::load(first.url)->id, *reopened->editID) << "the rewrite keeps the link";

    // A stored edit whose base is of another size is ignored, and Done writes beside the picture.
    ASSERT_TRUE(EditStore::save(std::nullopt, filled(50, 50), {ShapeRecord::of(box({1, 1, 5, 5}))}, file));
    Result third;
    std::unique_ptr<AnnotateWindow> stale = open(file, third);
    EXPECT_FALSE(stale->editID);
    EXPECT_TRUE(stale->canvas->shapes.empty());
    stale->finish();
    ASSERT_TRUE(writeDone(stale.get()));
    EXPECT_EQ(third.url.fileName(), QStringLiteral("shot annotated 2.png"));
}

TEST_F(AnnotateWindowTest, KeysPickToolsNudgeAndEscapeInSteps) {
    Result result;
    std::unique_ptr<AnnotateWindow> window = open(file, result);
    EXPECT_EQ(window->canvas->tool(), Tool::Arrow);
    press(window.get(), Qt::Key_B, Qt::ShiftModifier, QStringLiteral("B"));
    EXPECT_EQ(window->canvas->tool(), Tool::Box);
    press(window.get(), Qt::Key_E, Qt::ControlModifier, QStringLiteral("\x05"));
    press(window.get(), Qt::Key_E, Qt::AltModifier, QStringLiteral("e"));
    EXPECT_EQ(window->canvas->tool(), Tool::Box) << "Ctrl and Alt letters are not tools";
    window->toolButtons[Tool::Box]->click();
    EXPECT_EQ(window->canvas->tool(), Tool::Select) << "the active tool's button turns it off";
    for (const auto& [tool, button] : window->toolButtons)
        EXPECT_FALSE(button->active() && tool != Tool::Select);

    press(window.get(), Qt::Key_Left);
    EXPECT_TRUE(window->isVisible()) << "arrows without a selection do nothing";
    window->canvas->shapes.push_back(box({10, 10, 20, 20}));
    window->canvas->selected = 0;
    press(window.get(), Qt::Key_Up);
    EXPECT_EQ(std::get<Annotation::Box>(window->canvas->shapes[0].kind).rect.topLeft(), QPointF(10, 11));
    press(window.get(), Qt::Key_BracketRight, Qt::NoModifier, QStringLiteral("]"));
    EXPECT_NEAR(window->canvas->shapes[0].width, 3 * 1.15, 1e-9);
    bool cancelled = false;
    window->onCancel = [&] { cancelled = true; };
    press(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->canvas->selected);
    EXPECT_FALSE(cancelled);
    press(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(result.calls, 0);
}

TEST_F(AnnotateWindowTest, TheTextHighlighterTurnsOnlyTheDefaultRedYellow) {
    Result result;
    std::unique_ptr<AnnotateWindow> window = open(file, result);
    window->canvas->shapes.push_back(box({10, 10, 20, 20}));
    window->canvas->selected = 0;
    window->pickTool(Tool::Marker);
    EXPECT_TRUE(Annotation::sameColor(window->canvas->color(), Annotation::palette()[1]));
    EXPECT_EQ(window->canvas->shapes[0].color, Annotation::palette()[2]) << "the selection is let go first";
    EXPECT_EQ(window->colorButton->tint(), Annotation::palette()[1].qcolor());

    window->pickTool(Tool::Pen);
    window->setColor(Qt::blue);
    window->pickTool(Tool::Marker);
    EXPECT_TRUE(Annotation::sameColor(window->canvas->color(), Annotation::Color::from(Qt::blue)));
}

TEST_F(AnnotateWindowTest, BackdropTakesTextStillBeingTyped) {
    int backdrops = 0;
    Result result, none;
    std::unique_ptr<AnnotateWindow> window = open(file, result), plain = open(file, none);
    // The card takes the plain one's backdrop: it stays until the backdrop editor replaces it.
    window->onBackdrop = [&] { return ++backdrops && false; };
    plain->onBackdrop = [&] { return ++backdrops > 0; };
    window->canvas->beginText(QPointF(40, 40), QStringLiteral("Hello"));
    window->backdropTapped();
    EXPECT_EQ(backdrops, 0) << "the backdrop comes once the picture is written";
    ASSERT_TRUE(writeDone(window.get()));
    ASSERT_EQ(result.calls, 1);
    EXPECT_EQ(result.url.fileName(), QStringLiteral("shot annotated.png"));
    const std::optional<EditStore::Edit> edit = EditStore::load(result.url);
    ASSERT_TRUE(edit);
    ASSERT_EQ(edit->shapes.size(), 1u);
    EXPECT_EQ(edit->shapes[0].text, QStringLiteral("Hello"));

    // Nothing drawn: nothing written, the backdrop editor still opens.
    plain->backdropTapped();
    QTest::qWait(20);
    EXPECT_EQ(none.calls, 0);
    EXPECT_EQ(backdrops, 2);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(plain->isVisible());
}

TEST_F(AnnotateWindowTest, AnUnwritableFolderKeepsTheEditorAndItsShapes) {
    Result result;
    std::unique_ptr<AnnotateWindow> window = open(file, result);
    window->canvas->shapes.push_back(box({10, 10, 20, 20}));
    // The picture's folder vanished while the editor was open: nothing can be written beside it.
    QDir(folder.path()).removeRecursively();
    window->finish();
    ASSERT_TRUE(writeDone(window.get()));
    EXPECT_EQ(result.calls, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->canvas->shapes.size(), 1u);
}

TEST_F(AnnotateWindowTest, TheHintShowsOnTheFirstFourOpeningsAndSurvivesAString) {
    Defaults& defaults = Defaults::standard();
    defaults.set(QStringLiteral("picto.annotateHint"), QStringLiteral("junk"));
    for (int opening = 1; opening <= 5; ++opening) {
        Result result;
        EXPECT_EQ(open(file, result)->canvas->hintText.has_value(), opening <= 4) << opening;
    }
    EXPECT_EQ(defaults.integer(QStringLiteral("picto.annotateHint")), 4);
}

// The canvas's rounded corners show the window's dark backing, also around a dark picture.
TEST_F(AnnotateWindowTest, TheCanvasCornersShowTheDarkBacking) {
    const QUrl dark = written(folder, QStringLiteral("dark.png"), filled(400, 300, QColor(20, 20, 24)));
    Result result;
    std::unique_ptr<AnnotateWindow> window = open(dark, result);
    const QImage look = window->grab().toImage();
    const QRect canvas(window->canvasOrigin(), window->canvasSize());
    for (const QPoint corner :
         {canvas.topLeft() + QPoint(2, 2), canvas.bottomRight() - QPoint(2, 2),
          QPoint(canvas.right() - 2, canvas.top() + 2), QPoint(canvas.left() + 2, canvas.bottom() - 2)}) {
        const QColor c = look.pixelColor(corner);
        EXPECT_LT(c.lightness(), 60) << corner.x() << "," << corner.y() << " is " << c.name().toStdString();
    }
}
