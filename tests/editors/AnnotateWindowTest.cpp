// The annotate editor on real files: writing, reopening, its keys and the backdrop hand-off.

#include "editors/AnnotateWindow.h"
#include "editors/AnnotateTextField.h"
#include "editors/EditStore.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "ui/GhostButton.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Tool = AnnotateCanvas::Tool;

struct Result {
    QUrl url;
    QImage image;
    int calls = 0;
};

class AnnotateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(EditStore::dir()).removeRecursively();
        // The test folder's file system may not keep user attributes: keep them in memory.
        EditStore::attributes().read = [this](const QString& path) -> std::optional<QByteArray> {
            return links.contains(path) ? std::optional<QByteArray>(links.value(path)) : std::nullopt;
        };
        EditStore::attributes().write = [this](const QString& path, const QByteArray& value) {
            links.insert(path, value);
            return true;
        };
        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot.png")));
        ShotFiles::write(image, file);
    }
    void TearDown() override { EditStore::attributes() = EditStore::systemAttributes(); }

    AnnotateWindow* open(const QUrl& url, Result& result) {
        Shot shot{url, QImage(), QStringLiteral("Test"), std::nullopt};
        auto* window = new AnnotateWindow(shot, [&result](const QUrl& written, const QImage& image) {
            result.url = written;
            result.image = image;
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

    QTemporaryDir folder;
    QUrl file;
    QHash<QString, QByteArray> links;
};

Annotation::Shape box(QRectF rect) {
    return {Annotation::Box{rect}, Annotation::palette()[2], 3, false, {}};
}

} // namespace

TEST_F(AnnotateWindowTest, DoneWritesBesideThenReopensAndRewritesInPlace) {
    Result first;
    std::unique_ptr<AnnotateWindow> window(open(file, first));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pictolarium Annotate"));
    EXPECT_FALSE(window->editID);
    window->canvas->shapes.push_back(box({20, 20, 60, 40}));
    window->finish();
    ASSERT_EQ(first.calls, 1);
    EXPECT_EQ(first.url.fileName(), QStringLiteral("shot annotated.png"));
    const QImage written(first.url.toLocalFile());
    EXPECT_NE(written.pixelColor(50, 80), QColor(Qt::white)) << "the box's lower edge (y flips)";
    EXPECT_EQ(written.pixelColor(50, 20), QColor(Qt::white));
    EXPECT_FALSE(window->isVisible());

    Result second;
    std::unique_ptr<AnnotateWindow> reopened(open(first.url, second));
    ASSERT_TRUE(reopened->editID);
    ASSERT_EQ(reopened->canvas->shapes.size(), 1u);
    EXPECT_EQ(reopened->canvas->image().pixelColor(50, 80), QColor(Qt::white)) << "drawn on the unannotated base";
    reopened->canvas->selected = 0;
    press(reopened.get(), Qt::Key_Right, Qt::ShiftModifier);
    const auto* moved = std::get_if<Annotation::Box>(&reopened->canvas->shapes[0].kind);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->rect.topLeft(), QPointF(30, 20));
    QVariant posted;
    QObject owner;
    Notifications::defaultCenter().observe(ShotFiles::changed(), &owner, [&](const QVariant& o) { posted = o; });
    reopened->finish();
    EXPECT_EQ(second.url, first.url) << "the same file, rewritten";
    EXPECT_EQ(posted.toUrl(), first.url);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("shot annotated 2.png"))));
    EXPECT_EQ(EditStore::load(first.url)->id, *reopened->editID) << "the rewrite keeps the link";
}

TEST_F(AnnotateWindowTest, AStoredEditOfAnotherSizeIsIgnored) {
    Result result;
    QImage small(50, 50, QImage::Format_RGB32);
    small.fill(Qt::black);
    ASSERT_TRUE(EditStore::save(std::nullopt, small, {ShapeRecord::of(box({1, 1, 5, 5}))}, file));
    std::unique_ptr<AnnotateWindow> window(open(file, result));
    EXPECT_FALSE(window->editID);
    EXPECT_TRUE(window->canvas->shapes.empty());
    window->finish();
    EXPECT_EQ(result.url.fileName(), QStringLiteral("shot annotated.png"));
}

TEST_F(AnnotateWindowTest, KeysPickToolsNudgeAndEscapeInSteps) {
    Result result;
    std::unique_ptr<AnnotateWindow> window(open(file, result));
    EXPECT_EQ(window->canvas->tool(), Tool::Arrow);
    EXPECT_TRUE(window->toolButtons[Tool::Arrow]->active());
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
    const double width = window->canvas->shapes[0].width;
    press(window.get(), Qt::Key_BracketRight, Qt::NoModifier, QStringLiteral("]"));
    EXPECT_NEAR(window->canvas->shapes[0].width, width * 1.15, 1e-9);
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
    std::unique_ptr<AnnotateWindow> window(open(file, result));
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
    Result result;
    std::unique_ptr<AnnotateWindow> window(open(file, result));
    int backdrops = 0;
    window->onBackdrop = [&] { ++backdrops; };
    window->canvas->beginText(QPointF(40, 40), QStringLiteral("Hello"));
    window->backdropTapped();
    ASSERT_EQ(result.calls, 1);
    EXPECT_EQ(result.url.fileName(), QStringLiteral("shot annotated.png"));
    const std::optional<EditStore::Edit> edit = EditStore::load(result.url);
    ASSERT_TRUE(edit);
    ASSERT_EQ(edit->shapes.size(), 1u);
    EXPECT_EQ(edit->shapes[0].text, QStringLiteral("Hello"));
    QTest::qWait(20);
    EXPECT_EQ(backdrops, 1);

    // Nothing drawn: nothing written, the backdrop editor still opens.
    Result none;
    std::unique_ptr<AnnotateWindow> plain(open(file, none));
    plain->onBackdrop = [&] { ++backdrops; };
    plain->backdropTapped();
    QTest::qWait(20);
    EXPECT_EQ(none.calls, 0);
    EXPECT_EQ(backdrops, 2);
}

TEST_F(AnnotateWindowTest, AnUnwritableFolderKeepsTheEditorAndItsShapes) {
    Result result;
    std::unique_ptr<AnnotateWindow> window(open(file, result));
    window->canvas->shapes.push_back(box({10, 10, 20, 20}));
    // The picture's folder vanished while the editor was open: nothing can be written beside it.
    QDir(folder.path()).removeRecursively();
    window->finish();
    EXPECT_EQ(result.calls, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->canvas->shapes.size(), 1u);
}

TEST_F(AnnotateWindowTest, TheHintShowsOnTheFirstFourOpeningsAndSurvivesAString) {
    Defaults& defaults = Defaults::standard();
    defaults.set(QStringLiteral("picto.annotateHint"), QStringLiteral("junk"));
    for (int opening = 1; opening <= 5; ++opening) {
        Result result;
        std::unique_ptr<AnnotateWindow> window(open(file, result));
        EXPECT_EQ(window->canvas->hintText.has_value(), opening <= 4) << opening;
    }
    EXPECT_EQ(defaults.integer(QStringLiteral("picto.annotateHint")), 4);
}
