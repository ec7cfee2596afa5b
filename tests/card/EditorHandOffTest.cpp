// The card and its editors, with editors of the test's own: one at a time, the pill docked under the open one,
// the hold, the result taken back, and the backdrop detour.

#include "CardFixtures.h"
#include "editors/AnnotateWindow.h"
#include "editors/EditStore.h"
#include "editors/EditorCanvasMarker.h"
#include "editors/EditorWindow.h"
#include "editors/RotateCanvas.h"
#include "editors/RotateWindow.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"

#include <QApplication>
#include <QDir>

using namespace CardFixtures;

namespace {

using Hooks = ThumbnailView::EditorHooks;

class Canvas : public QWidget, public EditorCanvasMarker {
public:
    using QWidget::QWidget;
};

// An editor that does nothing but hand back what the test tells it.
class FakeEditor : public EditorWindow {
public:
    FakeEditor(const Shot& shot, Hooks given, const QString& tool)
        : EditorWindow(shot, 100, false, tool), hooks(std::move(given)), forced(forcedCanvas) {
        (new Canvas(this))->setGeometry(QRect(QPoint(20, 20), canvasSize()));
        addToolbar({});
    }
    void finish() override {}
    Hooks hooks;
    std::optional<QSizeF> forced; // what the card had set while making it
};

// A grey 800 × 500 "shot.png" on a card whose editors are fakes.
struct EditorCard : QTemporaryDir, Card {
    EditorCard() : Card(greyFile(*this, QStringLiteral("shot.png"), QSize(800, 500))) {
        for (const char* tool : {"crop", "rotate", "annotate", "background"})
            view()->editorMakers.insert(QString::fromLatin1(tool), [this, tool](const Shot& shot, const Hooks& hooks) {
                ++made;
                return editor = new FakeEditor(shot, hooks, QString::fromLatin1(tool));
            });
    }
    bool held() const { return Card::held(Hold::Editor); }
    bool tinted(const char* tool) const { return view()->tools.value(QString::fromLatin1(tool))->active(); }
    QString tool() const { return view()->currentTool.value_or(QString()); }

    QPointer<FakeEditor> editor;
    int made = 0;
};

void settle() {
    for (int i = 0; i < 3; ++i) // queued blocks start their own timers
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

TEST(EditorHandOff, ToolsToggleAndSwitchEditorsOneAtATime) {
    EditorCard card;
    // The picture is read while the card goes on answering, under the busy cursor; a second tap meanwhile
    // opens no second editor and does not close the first.
    card.view()->triggerTool(QStringLiteral("crop"));
    EXPECT_EQ(card.made, 0) << "made before its picture was read";
    EXPECT_FALSE(card.view()->isPillOnly());
    EXPECT_TRUE(card.held());
    EXPECT_EQ(card.view()->cursor().shape(), Qt::BusyCursor);
    card.tap("crop");
    EXPECT_EQ(card.made, 1);
    EXPECT_EQ(card.view()->cursor().shape(), Qt::ArrowCursor);
    QPointer<FakeEditor> crop = card.editor;
    ASSERT_TRUE(crop && crop->isVisible());
    EXPECT_FALSE(crop->forced) << "outside the large review the editor sizes itself";
    EXPECT_FALSE(EditorWindow::forcedCanvas);
    EXPECT_TRUE(card.view()->isPillOnly());
    EXPECT_TRUE(card.held());
    EXPECT_TRUE(card.tinted("crop"));
    // Docked: the pill's top 32 below the canvas, centred under it.
    const QRect canvas = crop->canvasFrame();
    const QRect pill = card.view()->pill->geometry().translated(card.panel->pos());
    EXPECT_EQ(pill.top(), canvas.bottom() + 1 + 32);
    EXPECT_NEAR(pill.center().x(), canvas.center().x(), 1);
    // The pill follows the open editor, and no other window.
    const QPoint docked = card.panel->pos();
    FakeEditor other(card.view()->shot(), {}, QStringLiteral("other"));
    other.show();
    other.move(other.pos() + QPoint(50, 50));
    crop->move(crop->pos() + QPoint(-30, 20));
    settle();
    EXPECT_EQ(card.panel->pos(), docked + QPoint(-30, 20));
    crop->move(crop->pos() - QPoint(-30, 20));
    settle();

    // Rotate replaces crop, growing from its canvas; the card never grows back in between.
    card.tap("rotate");
    settle();
    EXPECT_FALSE(crop);
    EXPECT_EQ(card.tool(), QStringLiteral("rotate"));
    EXPECT_EQ(card.editor->canvasFrame().center(), canvas.center());
    EXPECT_TRUE(card.view()->isPillOnly());
    EXPECT_TRUE(card.held());
    EXPECT_TRUE(!card.tinted("crop") && card.tinted("rotate"));

    // The same tool again closes it: the card grows back on the canvas and runs again.
    card.view()->triggerTool(QStringLiteral("rotate"));
    EXPECT_FALSE(card.view()->isPillOnly() || card.held() || card.tinted("rotate"));
    const QRectF image = card.view()->imageRect().translated(card.panel->pos());
    EXPECT_NEAR(image.center().x(), canvas.center().x(), 1);
    EXPECT_NEAR(image.center().y(), canvas.center().y(), 1);
    EXPECT_TRUE(EditorWindow::open().isEmpty());

    // Another tool asked for while one is read: only the last opens. A tool of the card itself, or the card
    // closing, drops the one being read.
    card.view()->triggerTool(QStringLiteral("crop"));
    card.tap("annotate");
    EXPECT_EQ(card.made, 3);
    EXPECT_EQ(card.tool(), QStringLiteral("annotate"));
    card.view()->triggerTool(QStringLiteral("annotate"));
    card.view()->triggerTool(QStringLiteral("crop"));
    card.view()->triggerTool(QStringLiteral("redact"));
    EXPECT_FALSE(card.held());
    EXPECT_EQ(card.view()->cursor().shape(), Qt::ArrowCursor);
    card.view()->triggerTool(QStringLiteral("rotate"));
    card.panel->close();
    QTest::qWait(300);
    EXPECT_EQ(card.made, 3);
    EXPECT_TRUE(EditorWindow::open().isEmpty());
}

TEST(EditorHandOff, ResultsBecomeTheCardsPicture) {
    EditorCard card;
    card.tap("crop");
    QImage smaller(300, 200, QImage::Format_RGB32);
    smaller.fill(Qt::red);
    const QString written = card.filePath(QStringLiteral("shot crop.png"));
    smaller.save(written);
    card.editor->hooks.done(QUrl::fromLocalFile(written), QStringLiteral("Cropped"));
    card.editor->close();
    // Read off the thread that answers the user; no editor opens on the old file meanwhile.
    EXPECT_TRUE(card.view()->isBusy());
    const int made = card.made;
    card.tap("rotate");
    EXPECT_EQ(card.made, made);
    card.settle();
    settle();
    EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("shot crop.png"));
    EXPECT_EQ(card.view()->shot().image.size(), QSize(300, 200)) << "read back from the file";
    EXPECT_EQ(toastText(), QStringLiteral("Cropped"));
    EXPECT_FALSE(card.held());

    // A file that can't be read: the URL is taken, the picture stays.
    card.tap("rotate");
    card.editor->hooks.done(QUrl::fromLocalFile(card.filePath(QStringLiteral("gone.png"))), QStringLiteral("Rotated"));
    card.settle();
    EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("gone.png"));
    EXPECT_EQ(card.view()->shot().image.size(), QSize(300, 200));

    // A tool of the card itself closes the editor the ordinary way.
    card.view()->triggerTool(QStringLiteral("redact"));
    EXPECT_FALSE(card.editor->isVisible());
    EXPECT_FALSE(card.view()->isPillOnly());
    EXPECT_FALSE(card.held());

    // An editor on a file that can't be read edits the picture the card holds.
    card.tap("crop");
    EXPECT_EQ(card.editor->image().size(), QSize(300, 200));

    // An editor that can't be made, replacing an open one: the card comes back whole and says why.
    card.view()->editorMakers.insert(QStringLiteral("rotate"), [](const Shot&, const Hooks&) -> EditorWindow* {
        throw ConvertError(QStringLiteral("Can't read shot.png"));
    });
    card.tap("rotate");
    EXPECT_EQ(toastText(), QStringLiteral("Can't read shot.png"));
    EXPECT_FALSE(EditorWindow::forcedCanvas);
    EXPECT_FALSE(card.view()->currentEditor);
    EXPECT_FALSE(card.view()->isPillOnly());
    EXPECT_FALSE(card.held());
}

TEST(EditorHandOff, TheBackdropDetourReturnsToAnnotateUnlessAnotherToolWasChosen) {
    EditorCard card;
    const auto annotateThenBackdrop = [&] {
        card.tap("annotate");
        // As the annotate editor does it: its result, then the backdrop while it still shows.
        QPointer<FakeEditor> annotate = card.editor;
        annotate->hooks.rendered(card.view()->shot().fileURL, card.view()->shot().image);
        // Making a backdrop of a large picture takes seconds: a window of ours stands meanwhile.
        bool shownWhileMade = false;
        card.view()->editorMakers.insert(QStringLiteral("background"), [&](const Shot& shot, const Hooks& hooks) {
            ++card.made;
            shownWhileMade = annotate && annotate->isVisible();
            return card.editor = new FakeEditor(shot, hooks, QStringLiteral("background"));
        });
        annotate->hooks.backdrop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !card.view()->loadingTool; }, 10000));
        EXPECT_TRUE(shownWhileMade);
        EXPECT_FALSE(annotate && annotate->isVisible()) << "closed once the backdrop editor is up";
        settle();
        EXPECT_EQ(toastText(), QStringLiteral("Annotated"));
        EXPECT_EQ(card.tool(), QStringLiteral("background"));
    };
    annotateThenBackdrop();
    card.editor->hooks.rendered(card.view()->shot().fileURL, card.view()->shot().image);
    card.editor->close();
    settle();
    EXPECT_EQ(toastText(), QStringLiteral("Background added"));
    const auto annotating = [&] {
        return QTest::qWaitFor([&] { return card.tool() == QStringLiteral("annotate"); }, 10000);
    };
    EXPECT_TRUE(annotating()) << "back to annotate once the backdrop is done";

    card.view()->triggerTool(QStringLiteral("annotate"));
    annotateThenBackdrop();
    card.editor->cancel();
    settle();
    EXPECT_TRUE(annotating()) << "and when it was cancelled";

    card.view()->triggerTool(QStringLiteral("annotate"));
    annotateThenBackdrop();
    card.tap("crop");
    settle();
    EXPECT_EQ(card.tool(), QStringLiteral("crop")) << "not when another tool replaced the backdrop editor";

    // A backdrop asked for after the card closed opens nothing.
    card.tap("annotate");
    const std::function<void()> backdrop = card.editor->hooks.backdrop;
    card.panel->close();
    const int made = card.made;
    backdrop();
    settle();
    EXPECT_EQ(card.made, made);
    EXPECT_TRUE(EditorWindow::open().isEmpty());
}

// A very large picture takes seconds to open in an editor and to write: the busy cursor shows for both. The
// writing runs while the program goes on answering, the editor busy and deaf to a second Return or an Escape,
// and the result reaches the card once it is written.
TEST(EditorHandOff, TheBusyCursorShowsWhileAnEditorOpensAndWhileItWrites) {
    QTemporaryDir dir;
    Card card(greyFile(dir, QStringLiteral("shot.png"), QSize(800, 500)));
    const auto busy = [] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor && cursor->shape() == Qt::WaitCursor;
    };
    bool busyOpening = false;
    int written = 0;
    const ThumbnailView::EditorMaker rotate = card.view()->editorMakers.value(QStringLiteral("rotate"));
    card.view()->editorMakers.insert(QStringLiteral("rotate"), [&](const Shot& shot, const Hooks& hooks) {
        busyOpening = busy();
        Hooks watched = hooks;
        watched.done = [&, done = hooks.done](const QUrl& url, const QString& message) {
            ++written;
            done(url, message);
        };
        return rotate(shot, watched);
    });
    card.tap("rotate");
    QPointer<RotateWindow> editor = qobject_cast<RotateWindow*>(card.view()->currentEditor.data());
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(busyOpening);
    EXPECT_FALSE(QGuiApplication::overrideCursor());
    editor->canvas->turns = 1;
    editor->finish();
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->isWriting());
    EXPECT_EQ(editor->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(written, 0) << "written on the thread that answers the user";
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape})
        QTest::keyClick(editor, key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !editor; }, 10000));
    EXPECT_EQ(written, 1);
    EXPECT_FALSE(QGuiApplication::overrideCursor());
    card.settle();
    EXPECT_EQ(card.view()->shot().image.size(), QSize(500, 800));
    settle();
}

// An annotated picture reopens from the card with its shapes editable on the unannotated base, read with the
// picture before the editor is made; a stored edit of another size is the picture's no longer. The picture the
// canvas draws on is handed over ready, made beside the reading: converting a large one held the user's thread.
TEST(EditorHandOff, AnAnnotatedPictureReopensWithItsShapes) {
    for (const QSize baseSize : {QSize(80, 50), QSize(81, 50)}) {
        const bool fits = baseSize == QSize(80, 50);
        SCOPED_TRACE(fits ? "a base that fits" : "a base of another size");
        QTemporaryDir dir;
        Card card(greyFile(dir, QStringLiteral("shot.png"), QSize(80, 50)));
        QImage base(baseSize, QImage::Format_RGB32);
        base.fill(Qt::white);
        const std::vector<ShapeRecord> shapes{
            ShapeRecord::of({Annotation::Box{{5, 5, 20, 10}}, Annotation::palette()[0], 4, false, {}})};
        ASSERT_TRUE(EditStore::save(std::nullopt, base, shapes, card.view()->shot().fileURL));
        QImage handed;
        const ThumbnailView::EditorMaker make = card.view()->editorMakers.value(QStringLiteral("annotate"));
        card.view()->editorMakers.insert(QStringLiteral("annotate"), [&](const Shot& shot, const Hooks& hooks) {
            handed = hooks.drawable;
            return make(shot, hooks);
        });
        card.tap("annotate");
        auto* editor = qobject_cast<AnnotateWindow*>(card.view()->currentEditor.data());
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(bool(editor->editID), fits);
        EXPECT_EQ(editor->canvas->shapes.size(), fits ? 1u : 0u);
        const QColor shown = fits ? QColor(Qt::white) : card.view()->shot().image.pixelColor(1, 1);
        EXPECT_EQ(editor->canvas->image().pixelColor(1, 1), shown);
        EXPECT_EQ(handed.format(), AnnotateCanvas::drawingFormat);
        EXPECT_EQ(handed.size(), QSize(80, 50));
        EXPECT_EQ(handed.pixelColor(1, 1), shown);
        EXPECT_EQ(editor->canvas->render().pixelColor(1, 1), shown);
        editor->close();
        settle();
    }
}
