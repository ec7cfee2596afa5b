// The drawing canvas driven by synthetic mouse, wheel and key events: drawing, picking, moving,
// resizing, text, word snapping, thickness and undo.

#include "editors/AnnotateCanvas.h"
#include "editors/AnnotateTextField.h"
#include "editors/AnnotationGeometry.h"
#include "ui/UI.h"

#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace Annotation;

namespace {

// A 600 x 300 picture shown at its own size: one stroke unit is 2 pixels, the hit tolerance 12.
class AnnotateCanvasTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UI::registerFonts(); }
    void SetUp() override {
        QImage picture(600, 300, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::white);
        canvas = std::make_unique<AnnotateCanvas>(picture, wordSource());
        canvas->resize(600, 300);
        canvas->show();
        canvas->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(canvas.get()));
    }

    virtual AnnotateCanvas::WordBoxes wordSource() { return {}; }

    void mouse(QEvent::Type type, QPointF picturePoint, Qt::MouseButtons held) {
        const QPointF v = canvas->toView(picturePoint);
        QMouseEvent event(type, v, canvas->mapToGlobal(v), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(canvas.get(), &event);
    }
    void press(QPointF p) { mouse(QEvent::MouseButtonPress, p, Qt::LeftButton); }
    void release(QPointF p) { mouse(QEvent::MouseButtonRelease, p, Qt::NoButton); }
    void click(QPointF p) {
        press(p);
        release(p);
    }
    void drag(QPointF from, QPointF to, int steps = 4) {
        press(from);
        for (int i = 1; i <= steps; ++i)
            mouse(QEvent::MouseMove, from + (to - from) * (double(i) / steps), Qt::LeftButton);
        release(to);
    }
    // How many undo steps the history holds, counted by undoing them all and redoing them.
    int undoSteps() {
        int n = 0;
        while (canvas->history().canUndo()) {
            canvas->undo();
            ++n;
        }
        for (int i = 0; i < n; ++i)
            canvas->redo();
        return n;
    }
    void add(Kind kind, bool filled = false, double width = 4) {
        canvas->shapes.push_back(Shape{std::move(kind), palette()[0], width, filled, {}});
    }

    std::unique_ptr<AnnotateCanvas> canvas;
};

} // namespace

TEST_F(AnnotateCanvasTest, TwoPointToolsNeedARealDrag) {
    canvas->setTool(Tool::Arrow);
    drag({100, 100}, {100, 100});
    drag({100, 100}, {104, 100});
    EXPECT_TRUE(canvas->shapes.empty());
    EXPECT_FALSE(canvas->history().canUndo());
    int drawn = 0;
    canvas->onDrawn = [&] { ++drawn; };
    drag({100, 100}, {105, 100});
    ASSERT_EQ(canvas->shapes.size(), 1u);
    EXPECT_EQ(std::get<Arrow>(canvas->shapes[0].kind).head, QPointF(105, 100));
    EXPECT_EQ(canvas->shapes[0].width, 2) << "one stroke unit";
    canvas->setTool(Tool::Box);
    drag({300, 100}, {400, 103});
    EXPECT_EQ(canvas->shapes.size(), 1u);
    drag({300, 100}, {400, 200});
    ASSERT_EQ(canvas->shapes.size(), 2u);
    EXPECT_EQ(std::get<Box>(canvas->shapes[1].kind).rect, QRectF(300, 100, 100, 100));
    EXPECT_EQ(canvas->selected, 1);
    EXPECT_EQ(drawn, 2);
    EXPECT_EQ(undoSteps(), 2);
}

TEST_F(AnnotateCanvasTest, ClicksPickAndMoveShapesWithOneUndoStepPerGesture) {
    add(Box{QRectF(100, 100, 100, 100)});
    canvas->setTool(Tool::Box);
    // An unfilled box is hit near its outline only; a filled or small one anywhere.
    EXPECT_EQ(canvas->hit({150, 150}), std::nullopt);
    EXPECT_EQ(canvas->hit({111, 150}), 0);
    EXPECT_EQ(canvas->hit({89, 150}), 0);
    EXPECT_EQ(canvas->hit({87, 150}), std::nullopt);
    canvas->shapes[0].filled = true;
    EXPECT_EQ(canvas->hit({150, 150}), 0);
    canvas->shapes[0].filled = false;

    // On the outline, clear of the handles that a selected box shows.
    click({150, 192});
    EXPECT_EQ(canvas->selected, 0);
    EXPECT_FALSE(canvas->history().canUndo());
    drag({150, 192}, {170, 202}, 5);
    EXPECT_EQ(std::get<Box>(canvas->shapes[0].kind).rect, QRectF(120, 110, 100, 100));
    EXPECT_EQ(canvas->shapes.size(), 1u);
    EXPECT_EQ(undoSteps(), 1);
    canvas->undo();
    EXPECT_EQ(std::get<Box>(canvas->shapes[0].kind).rect, QRectF(100, 100, 100, 100));
    EXPECT_EQ(canvas->selected, std::nullopt);
    canvas->redo();
    EXPECT_EQ(std::get<Box>(canvas->shapes[0].kind).rect, QRectF(120, 110, 100, 100));

    // The pen draws over a shape that is not selected.
    canvas->selected.reset();
    canvas->setTool(Tool::Pen);
    drag({120, 150}, {180, 150});
    ASSERT_EQ(canvas->shapes.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<Pen>(canvas->shapes[1].kind));
}

TEST_F(AnnotateCanvasTest, HandlesResizeAndNeverLeaveAnUnusableShape) {
    add(Box{QRectF(100, 100, 200, 100)});
    canvas->selected = 0;
    // Handle box (94, 94)-(306, 206): corners beat edges, and a whole edge grabs its handle.
    EXPECT_EQ(canvas->handleHit({97, 203}), 0);
    EXPECT_EQ(canvas->handleHit({250, 208}), 4);
    EXPECT_EQ(canvas->handleHit({92, 150}), 7);
    EXPECT_EQ(canvas->handleHit({200, 150}), std::nullopt);

    canvas->setTool(Tool::Select);
    // Bottom-right dragged past the top-left flips the box.
    drag({306, 94}, {50, 250});
    EXPECT_EQ(std::get<Box>(canvas->shapes[0].kind).rect, QRectF(56, 212, 32, 32));
    // Squeezed to a sliver: still finite, storable and drawable.
    canvas->selected = 0;
    for (const Kind& kind : {Kind(Box{QRectF(100, 100, 200, 100)}), Kind(Text{QStringLiteral("a\nb"), {100, 200}}),
                             Kind(Signature{QRectF(100, 100, 200, 100)}), Kind(Pen{{{100, 100}, {300, 200}}})}) {
        canvas->shapes = {Shape{kind, palette()[0], 4, false, {}}};
        canvas->selected = 0;
        const QRectF box = AnnotationGeometry::bounds(kind, 4);
        drag({box.right() + 6, box.center().y()}, {box.left() - 5, box.center().y()});
        EXPECT_TRUE(ShapeRecords::encode(canvas->records())) << kind.index();
        EXPECT_NO_THROW(canvas->render());
    }

    // A text grows with its box and keeps its top-left corner.
    canvas->shapes = {Shape{Text{QStringLiteral("Hi"), {100, 200}}, palette()[0], 2, false, {}}};
    canvas->selected = 0;
    const QRectF before = AnnotationGeometry::bounds(canvas->shapes[0].kind, 2);
    drag({before.center().x(), before.bottom() + 6}, {before.center().x(), before.bottom() + 6 + before.height()});
    EXPECT_NEAR(canvas->shapes[0].width, 2 * (before.height() * 2 + 12) / (before.height() + 12), 0.01);
    const QRectF after = AnnotationGeometry::bounds(canvas->shapes[0].kind, canvas->shapes[0].width);
    EXPECT_NEAR(after.left(), before.left(), 0.5);
    EXPECT_GT(after.height(), 1.5 * before.height());
}

TEST_F(AnnotateCanvasTest, NumberedMarkersCountWhatIsThere) {
    canvas->setTool(Tool::Number);
    for (double x : {100.0, 200.0, 300.0})
        click({x, 100});
    EXPECT_EQ(undoSteps(), 3);
    canvas->selected = 1;
    canvas->deleteSelected();
    click({400, 100});
    ASSERT_EQ(canvas->shapes.size(), 3u);
    EXPECT_EQ(std::get<Number>(canvas->shapes[2].kind).n, 3);
}

namespace {

// Three recognised lines of three words each, 20 pixels high, at y = 200, 150 and 100.
class SnappingCanvasTest : public AnnotateCanvasTest {
protected:
    AnnotateCanvas::WordBoxes wordSource() override {
        return [](const QImage&) {
            AnnotateCanvas::WordLines lines;
            for (double y : {200.0, 150.0, 100.0})
                lines.push_back({QRectF(100, y, 60, 20), QRectF(170, y, 60, 20), QRectF(240, y, 60, 20)});
            return lines;
        };
    }
};

} // namespace

TEST_F(SnappingCanvasTest, MarkerStrokesSnapToWordsOnceRecognised) {
    canvas->setTool(Tool::Marker);
    drag({175, 210}, {225, 210});
    ASSERT_EQ(canvas->shapes.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<Highlight>(canvas->shapes[0].kind)); // no words yet

    canvas->prepareWords();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !canvas->wordLines().empty(); }));
    canvas->selected.reset();
    // A perfectly straight stroke along one word covers that word only.
    drag({180, 210}, {220, 210});
    ASSERT_EQ(canvas->shapes.size(), 2u);
    const auto& one = std::get<Marker>(canvas->shapes[1].kind).rects;
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0], QRectF(168, 197.6, 64, 24.8));
    // Down across the three lines: one rectangle per line.
    canvas->selected.reset();
    drag({250, 230}, {250, 95}, 10);
    ASSERT_EQ(canvas->shapes.size(), 3u);
    EXPECT_EQ(std::get<Marker>(canvas->shapes[2].kind).rects.size(), 3);
}

TEST_F(AnnotateCanvasTest, TypingTextGrowsTheFieldAndCommitsTrimmed) {
    canvas->setTool(Tool::Text);
    int drawn = 0;
    canvas->onDrawn = [&] { ++drawn; };
    click({100, 150});
    AnnotateTextField* field = canvas->textField();
    ASSERT_TRUE(field);
    QTest::keyClicks(field, QStringLiteral("  one"));
    const QRect oneLine = field->geometry();
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClicks(field, QStringLiteral("two  "));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->geometry().top(), oneLine.top());
    EXPECT_GT(field->geometry().height(), oneLine.height());
    QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(canvas->textField());
    ASSERT_EQ(canvas->shapes.size(), 1u);
    const auto& text = std::get<Text>(canvas->shapes[0].kind);
    EXPECT_EQ(text.text, QStringLiteral("one\ntwo"));
    EXPECT_EQ(text.anchor, QPointF(100, 150));
    EXPECT_EQ(drawn, 0);
    QTest::qWait(1);
    EXPECT_EQ(drawn, 1);

    // Escape on an empty field adds nothing.
    click({300, 100});
    ASSERT_TRUE(canvas->textField());
    QTest::keyClick(canvas->textField(), Qt::Key_Escape);
    EXPECT_EQ(canvas->shapes.size(), 1u);
    EXPECT_EQ(undoSteps(), 1);
}

TEST_F(AnnotateCanvasTest, ReEditedTextReturnsToItsPlaceAndUndoBringsItBack) {
    add(Box{QRectF(10, 10, 50, 50)});
    add(Text{QStringLiteral("hello"), {200, 150}}, false, 2);
    add(Arrow{{400, 20}, {500, 60}});
    canvas->setTool(Tool::Select);
    const auto reopen = [&] {
        click({210, 150});
        mouse(QEvent::MouseButtonDblClick, {210, 150}, Qt::LeftButton);
        release({210, 150});
        EXPECT_EQ(canvas->shapes.size(), 2u);
        return canvas->textField();
    };
    AnnotateTextField* field = reopen();
    ASSERT_TRUE(field);
    EXPECT_EQ(field->toPlainText(), QStringLiteral("hello"));
    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_EQ(canvas->shapes.size(), 3u);
    EXPECT_EQ(std::get<Text>(canvas->shapes[1].kind).text, QStringLiteral("hello"));
    EXPECT_EQ(canvas->selected, 1);

    field = reopen();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("bye"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(std::get<Text>(canvas->shapes[1].kind).text, QStringLiteral("bye"));
    canvas->undo();
    ASSERT_EQ(canvas->shapes.size(), 3u);
    EXPECT_EQ(std::get<Text>(canvas->shapes[1].kind).text, QStringLiteral("hello"));

    // Emptied, the text is gone; undo brings it back where it stood.
    field = reopen();
    field->clear();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(canvas->shapes.size(), 2u);
    canvas->undo();
    ASSERT_EQ(canvas->shapes.size(), 3u);
    EXPECT_EQ(std::get<Text>(canvas->shapes[1].kind).text, QStringLiteral("hello"));
}

TEST_F(AnnotateCanvasTest, ThicknessByNudgeAndWheelStopsAtItsLimits) {
    const double u = 2;
    add(Arrow{{100, 100}, {200, 100}}, false, 2 * u);
    add(Number{1, {300, 150}}, false, 2 * u);
    canvas->selected = 0;
    canvas->nudgeThickness(1.15);
    EXPECT_NEAR(canvas->shapes[0].width, 2.3 * u, 1e-9);
    EXPECT_EQ(canvas->hintText, QStringLiteral("Thickness 230 %"));
    const auto nudge = [&](double factor) {
        for (int i = 0; i < 40; ++i)
            canvas->nudgeThickness(factor);
    };
    nudge(1.15);
    EXPECT_EQ(canvas->hintText, QStringLiteral("Thickness 1000 %"));
    canvas->selected = 1;
    nudge(1 / 1.15);
    EXPECT_EQ(canvas->hintText, QStringLiteral("Size 25 %"));
    EXPECT_FALSE(canvas->history().canUndo());
    // With nothing selected the tool's own thickness moves.
    canvas->selected.reset();
    canvas->nudgeThickness(1.15);
    EXPECT_EQ(canvas->hintText, QStringLiteral("Thickness 115 %"));
    nudge(1.15);
    EXPECT_EQ(canvas->thickness(), 10);

    canvas->setThickness(1);
    const auto wheel = [&](QPoint pixels, QPoint angle) {
        QWheelEvent event(QPointF(10, 10), canvas->mapToGlobal(QPointF(10, 10)), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas.get(), &event);
    };
    wheel({}, {0, 120});
    EXPECT_NEAR(canvas->thickness(), std::exp(0.06), 1e-9);
    wheel({0, 100}, {0, 120});
    EXPECT_NEAR(canvas->thickness(), std::exp(0.86), 1e-9);
    wheel({5, 0}, {0, 0});
    EXPECT_NEAR(canvas->thickness(), std::exp(0.86), 1e-9);
    // A pinch never more than halves in one event.
    canvas->setThickness(2);
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, QPointF(10, 10),
                              QPointF(10, 10), canvas->mapToGlobal(QPointF(10, 10)), -0.8, QPointF());
    QApplication::sendEvent(canvas.get(), &pinch);
    EXPECT_NEAR(canvas->thickness(), 1, 1e-9);
}

TEST_F(AnnotateCanvasTest, StyleChangesAndUndoKeys) {
    add(Box{QRectF(100, 100, 100, 100)});
    canvas->selected = 0;
    canvas->setColor(palette()[0]);
    EXPECT_FALSE(canvas->history().canUndo());
    canvas->setColor(palette()[2]);
    canvas->setFilled(true);
    canvas->setFilled(true);
    EXPECT_EQ(undoSteps(), 3);

    for (int i = 0; i < 3; ++i)
        QTest::keyClick(canvas.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(canvas->shapes[0].filled);
    EXPECT_EQ(canvas->shapes[0].color, palette()[0]);
    QTest::keyClick(canvas.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(canvas.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(canvas->shapes[0].filled);

    // While text is typed, the keys belong to the field.
    canvas->setTool(Tool::Text);
    click({400, 50});
    ASSERT_TRUE(canvas->textField() && canvas->textField()->hasFocus());
    QTest::keyClick(canvas.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(canvas->shapes[0].filled);
    EXPECT_EQ(canvas->shapes[0].color, palette()[2]);
}

TEST_F(AnnotateCanvasTest, DragFramesLookExactlyLikeAFullRepaint) {
    // One shape of each kind in a grid; each is dragged across its neighbours, and every frame is
    // compared with a canvas that draws the same shapes from scratch.
    canvas->resize(450, 225); // shown at 0.75
    QImage sig(30, 12, QImage::Format_ARGB32_Premultiplied);
    sig.fill(QColor(20, 20, 20, 200));
    const std::vector<Kind> kinds = {
        Arrow{{20, 260}, {120, 220}},
        Line{{170, 260}, {270, 220}},
        Box{QRectF(320, 210, 100, 60)},
        Ellipse{QRectF(470, 210, 100, 60)},
        Pen{{{20, 110}, {60, 180}, {120, 120}}},
        Highlight{{{170, 150}, {270, 150}}},
        Marker{{QRectF(320, 140, 100, 20)}},
        Blur{QRectF(470, 110, 100, 80)},
        Text{QStringLiteral("Ag\nyo"), {20, 80}},
        Number{42, {220, 50}},
        Signature{QRectF(320, 20, 100, 40)},
        Box{QRectF(470, 20, 100, 60)},
    };
    for (size_t i = 0; i < kinds.size(); ++i)
        canvas->shapes.push_back(Shape{kinds[i], palette()[i % 12], 3, true, i == 10 ? sig : QImage()});
    canvas->setTool(Tool::Select);
    const auto expectFresh = [&](const char* when, size_t i) {
        AnnotateCanvas fresh(canvas->image());
        fresh.resize(canvas->size());
        fresh.shapes = canvas->shapes;
        fresh.selected = canvas->selected;
        ASSERT_TRUE(canvas->grab().toImage() == fresh.grab().toImage()) << when << " shape " << i;
    };
    for (size_t i = 0; i < kinds.size(); ++i) {
        const QPointF at = AnnotationGeometry::bounds(canvas->shapes[i].kind, 3).center();
        press(at);
        for (int step = 1; step <= 3; ++step) {
            mouse(QEvent::MouseMove, at + QPointF(50 * step, -30 * step), Qt::LeftButton);
            expectFresh("moving", i);
        }
        release(at + QPointF(150, -90));
        expectFresh("dropped", i);
        canvas->undo();
        expectFresh("undone", i);
    }
}

namespace {

// The box of the pixels of the text colour in a grab of the canvas and its field.
QRect inkBox(QWidget* widget, QColor ink) {
    const QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) + std::abs(c.blue() - ink.blue()) <
                90)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

} // namespace

// What is typed stays where it stood in the field once it becomes a shape, at any size.
TEST_F(AnnotateCanvasTest, CommittedTextStaysWhereItWasTyped) {
    canvas->setTool(Tool::Text);
    const QColor ink = canvas->color().qcolor();
    for (double thickness : {1.0, 2.5, 5.0}) {
        canvas->shapes.clear();
        canvas->selected.reset();
        canvas->setThickness(thickness);
        click({120, 90});
        ASSERT_TRUE(canvas->textField());
        QTest::keyClicks(canvas->textField(), QStringLiteral("Hxg"));
        const QRect typed = inkBox(canvas.get(), ink);
        QTest::keyClick(canvas->textField(), Qt::Key_Escape);
        canvas->selected.reset();
        canvas->update();
        const QRect drawn = inkBox(canvas.get(), ink);
        ASSERT_FALSE(typed.isEmpty());
        EXPECT_LE(std::abs(drawn.left() - typed.left()), 1) << thickness;
        EXPECT_LE(std::abs(drawn.top() - typed.top()), 1) << thickness;
        EXPECT_LE(std::abs(drawn.bottom() - typed.bottom()), 1) << thickness;
    }
}

// Every line of a text shows while typed and when opened again, where it will stand; Tab, and keys that reach the
// canvas while the field is open, stay in the field.
TEST_F(AnnotateCanvasTest, EveryLineShowsWhileTypedAndKeysStayInTheField) {
    const QColor ink = canvas->color().qcolor();
    const std::pair<double, int> cases[] = {{1.75, 2}, {1.0, 4}, {2.5, 3}}; // thickness, lines
    for (const auto& [thickness, lines] : cases) {
        const auto allShown = [&, n = lines] { // the field's ink spans every line's spacing
            return inkBox(canvas->textField(), ink).height() >
                   (n - 1) * canvas->textField()->fontMetrics().lineSpacing();
        };
        SCOPED_TRACE(lines);
        canvas->shapes.clear();
        canvas->selected.reset();
        canvas->setTool(Tool::Text);
        canvas->setThickness(thickness);
        click({60, 270});
        ASSERT_TRUE(canvas->textField());
        for (int i = 0; i < lines; ++i) {
            if (i > 0)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("H"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // in the middle of a word
            ASSERT_TRUE(canvas->textField());
            EXPECT_TRUE(canvas->textField()->hasFocus()) << "Tab took the keys out of the field";
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("xg"));
        }
        const QRect typed = inkBox(canvas.get(), ink);
        EXPECT_TRUE(allShown()) << "lines hidden while typing";
        canvas->setFocus(); // as a menu or a click on the window leaves it
        QTest::keyClicks(canvas.get(), QStringLiteral("a"));
        ASSERT_TRUE(canvas->textField());
        EXPECT_TRUE(canvas->textField()->toPlainText().endsWith(QStringLiteral("Hxga")));
        QTest::keyClick(canvas->textField(), Qt::Key_Backspace);
        QTest::keyClick(canvas->textField(), Qt::Key_Escape);
        ASSERT_EQ(canvas->shapes.size(), 1u);
        EXPECT_EQ(std::get<Text>(canvas->shapes[0].kind).text, QStringList(lines, QStringLiteral("Hxg")).join(u'\n'));
        canvas->selected.reset();
        canvas->update();
        const QRect drawn = inkBox(canvas.get(), ink);
        EXPECT_LE(std::abs(drawn.top() - typed.top()), 1);
        EXPECT_LE(std::abs(drawn.bottom() - typed.bottom()), 1 + lines);

        canvas->setTool(Tool::Select); // opened again
        const QPointF on = canvas->toPicture(QPointF(drawn.left() + 4, drawn.top() + 4));
        click(on);
        mouse(QEvent::MouseButtonDblClick, on, Qt::LeftButton);
        release(on);
        ASSERT_TRUE(canvas->textField());
        EXPECT_TRUE(allShown()) << "lines hidden when opened again";
        EXPECT_LE(std::abs(inkBox(canvas.get(), ink).top() - drawn.top()), 1);
        QTest::keyClick(canvas->textField(), Qt::Key_Escape);
    }
}
