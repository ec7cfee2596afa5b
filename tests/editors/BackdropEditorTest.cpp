// The backdrop editor's preview and drags, its result file, and the style presets of both editors.

#include "EditorFixtures.h"
#include "editors/AnnotateWindow.h"
#include "editors/BackgroundCanvas.h"
#include "editors/BackgroundWindow.h"
#include "editors/CustomColors.h"
#include "editors/NamePrompt.h"
#include "editors/PresetMenu.h"
#include "editors/PresetStore.h"
#include "platform/Defaults.h"
#include "support/NoRoomToWrite.h"
#include "ui/GhostButton.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace EditorFixtures;

namespace {

QImage solid(QSize size) {
    return filled(size.width(), size.height(), QColor(30, 60, 90));
}

class PresetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Defaults::standard().remove(PresetStore::key());
        Defaults::standard().remove(PresetStore::unreadableKey());
        Defaults::standard().remove(QStringLiteral("picto.customColors"));
        file = written(folder, QStringLiteral("shot annotated.png"), solid({200, 100}));
    }
    void TearDown() override { SetUp(); }

    QTemporaryDir folder;
    QUrl file;
};

} // namespace

TEST(BackgroundCanvas, PreviewIsReducedToAtMost1400) {
    EXPECT_EQ(BackgroundCanvas(solid({3000, 2000}), {}).preview.size(), QSize(1400, 933));
    EXPECT_EQ(BackgroundCanvas(solid({1401, 10}), {}).preview.size(), QSize(1400, 9));
}

TEST(BackgroundCanvas, DragsFollowThePointerAndStopAtTheLimits) {
    using G = BackgroundCanvas::Geometry;
    const auto leftBand = [](const G& g) { return QPointF(g.pictureRect.left() + 2, g.pictureRect.center().y()); };
    const auto bottomRight = [](const G& g) { return g.pictureRect.bottomRight() - QPointF(2, 2); };
    const auto handle = [](const G& g) { return g.pictureRect.topLeft() + QPointF(1, 1) * std::max(16.0, g.radius); };
    // 1000 × 600 at the default style renders 1180 × 780: here at half size.
    const struct {
        QSize picture, view;
        std::function<QPointF(const G&)> from;
        QPointF by;
        const char* chip;
    } cases[] = {
        {{1000, 600}, {590, 390}, leftBand, {20, 0}, "Padding 13 %"},
        {{1000, 600}, {590, 390}, leftBand, {-400, 0}, "Padding 2 %"},
        // A band corner moves by the mean of both axes: 10 and 30 inwards make 20.
        {{1000, 600}, {590, 390}, bottomRight, {-10, -30}, "Padding 13 %"},
        // The handle dragged far into the picture stops at the largest radius: 240 px of a 3000-pixel source.
        {{3000, 1800}, {700, 470}, handle, {300, 300}, "Corners 240 px"},
    };
    for (const auto& c : cases) {
        BackgroundCanvas canvas(solid(c.picture), {});
        canvas.resize(c.view);
        const std::optional<G> g = canvas.geometry();
        ASSERT_TRUE(g);
        const QPointF from = c.from(*g);
        mouse(&canvas, QEvent::MouseButtonPress, from);
        mouse(&canvas, QEvent::MouseMove, from + c.by);
        EXPECT_EQ(canvas.chip, QString::fromUtf8(c.chip));
        mouse(&canvas, QEvent::MouseButtonRelease, from + c.by);
        EXPECT_FALSE(canvas.chip);
    }
}

TEST_F(PresetsTest, BackdropEditorWritesStyledBesideAndKeepsOpenOnFailure) {
    written(folder, QStringLiteral("shot annotated styled.png"), solid({10, 10}));
    QUrl result;
    int calls = 0;
    BackgroundWindow window(shotOf(file), [&](const QUrl& url, const QImage&) {
        result = url;
        ++calls;
    });
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.pickCustom(QStringLiteral("#FF0000"));
    window.pickFill(2);
    EXPECT_FALSE(window.style().customHex);
    EXPECT_EQ(window.canvas->style, window.style());
    window.toggleShadow();
    EXPECT_FALSE(window.shadowButton->active());
    // No room to write (a read-only folder, for root as well): a toast, nothing written, nothing handed on.
    QFile picture(file.toLocalFile());
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    const QByteArray original = picture.readAll();
    picture.close();
    {
        const NoRoomToWrite full;
        window.finish();
        EXPECT_TRUE(window.isWriting());
        ASSERT_TRUE(writeDone(&window));
    }
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(toastText(), QStringLiteral("Couldn't write shot annotated styled 2.png"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_EQ(picture.readAll(), original);
    window.finish();
    ASSERT_TRUE(writeDone(&window));
    ASSERT_EQ(calls, 1);
    // The taken name is never overwritten: the next number is used.
    EXPECT_EQ(result.fileName(), QStringLiteral("shot annotated styled 2.png"));
    EXPECT_EQ(QImage(result.toLocalFile()).size(), QSize(236, 136));
    EXPECT_EQ(QImage(folder.filePath(QStringLiteral("shot annotated styled.png"))).size(), QSize(10, 10));

    // The fills menu: 15 fills, then the saved colours under their heading.
    CustomColors::add(QColor(0x12, 0x34, 0x56));
    std::unique_ptr<QMenu> menu(window.fillsMenu(nullptr));
    ASSERT_EQ(menu->actions().size(), 18);
    EXPECT_TRUE(menu->actions()[2]->isChecked());
    EXPECT_EQ(menu->actions()[17]->text(), QStringLiteral("#123456"));
}

TEST_F(PresetsTest, SavedByNameReplacedInPlaceAndListedOnlyByItsEditor) {
    BackgroundWindow window(shotOf(file), {});
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.pickFill(2);
    window.presetMenu->save(QStringLiteral("Blog"));
    window.presetMenu->save(QStringLiteral("Other"));
    const QList<StylePreset> stored = PresetStore::all();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_FALSE(stored[0].annotate);
    ASSERT_TRUE(stored[0].background);
    EXPECT_EQ(stored[0].background->fill, 2);
    const QJsonArray raw = QJsonDocument::fromJson(*Defaults::standard().data(PresetStore::key())).array();
    EXPECT_FALSE(raw[0].toObject().contains(QStringLiteral("annotate")));

    window.pickFill(5);
    window.presetMenu->save(QStringLiteral("blog"));
    const QList<StylePreset> replaced = PresetStore::all();
    ASSERT_EQ(replaced.size(), 2);
    EXPECT_EQ(replaced[0].id, stored[0].id);
    EXPECT_EQ(replaced[0].name, QStringLiteral("blog"));
    EXPECT_EQ(replaced[0].background->fill, 5);

    window.pickFill(0);
    window.presetMenu->applyItem(replaced[0].idString());
    EXPECT_EQ(window.style().fill, 5);

    AnnotateWindow annotate(shotOf(file), {});
    annotate.setAttribute(Qt::WA_DeleteOnClose, false);
    std::unique_ptr<QMenu> mine(annotate.presetMenu->build(nullptr));
    EXPECT_FALSE(mine->actions()[0]->isEnabled()) << "no presets of its own";
    std::unique_ptr<QMenu> theirs(window.presetMenu->build(nullptr));
    EXPECT_EQ(theirs->actions()[0]->text(), QStringLiteral("blog"));

    window.presetMenu->deleteItem(replaced[0].idString());
    ASSERT_EQ(PresetStore::all().size(), 1);
    EXPECT_EQ(PresetStore::all()[0].name, QStringLiteral("Other"));
}

TEST_F(PresetsTest, AnnotateStylesApplyWithinTheirRanges) {
    AnnotateWindow window(shotOf(file), {});
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    const struct {
        AnnotateStyle in;
        int color;
        double thickness;
    } cases[] = {{{99, -5, true}, 11, 0.25},
                 {{-3, 1e308, false}, 0, 10},
                 {{4, std::nullopt, true}, 4, 1},
                 {{2, std::numeric_limits<double>::infinity(), false}, 2, 1}};
    for (const auto& c : cases) {
        window.applyStyle(c.in);
        const AnnotateStyle now = window.currentStyle();
        EXPECT_EQ(now.color, c.color);
        EXPECT_DOUBLE_EQ(*now.thickness, c.thickness);
        EXPECT_EQ(now.filled, c.in.filled);
    }
    window.setColor(QColor(1, 2, 3)); // off the palette
    EXPECT_EQ(window.currentStyle().color, 0);
}

// A preset picked from the menu while a shape is selected sets up the next shape: the selected one keeps
// its width, and the tool takes the preset's thickness.
TEST_F(PresetsTest, APresetSetsTheToolsThicknessNotTheSelectedShapes) {
    PresetStore::setAll(
        {StylePreset{QUuid::createUuid(), QStringLiteral("Thick"), AnnotateStyle{3, 4.0, false}, std::nullopt}});
    AnnotateWindow window(shotOf(file), {});
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.canvas->shapes.push_back({Annotation::Box{{10, 10, 40, 30}}, Annotation::palette()[0], 3, false, {}});
    window.canvas->selected = 0;
    std::unique_ptr<QMenu> menu(window.presetMenu->build(nullptr));
    QAction* thick = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Thick"))
            thick = action;
    ASSERT_NE(thick, nullptr);
    thick->trigger();
    EXPECT_DOUBLE_EQ(window.canvas->thickness(), 4.0);
    EXPECT_DOUBLE_EQ(window.canvas->shapes[0].width, 3) << "the selected shape keeps its width";
    EXPECT_EQ(window.currentStyle().thickness, 4.0);
}

TEST_F(PresetsTest, UnreadableStoreReadsEmptyButIsKeptWhenASaveReplacesIt) {
    Defaults& defaults = Defaults::standard();
    const char* bad[] = {
        R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF"}])",
        R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","name":"x","annotate":{"color":"3","filled":true}}])",
        "not json",
    };
    for (const char* text : bad) {
        defaults.set(PresetStore::key(), QByteArray(text));
        EXPECT_TRUE(PresetStore::all().isEmpty()) << text;
    }
    defaults.set(PresetStore::key(), QStringLiteral("a string, not data"));
    EXPECT_TRUE(PresetStore::all().isEmpty());

    defaults.set(PresetStore::key(), QByteArray(bad[0]));
    PresetMenu menu(PresetMenu::Kind::annotate,
                    [](const QString& name) {
                        return StylePreset{QUuid::createUuid(), name, AnnotateStyle{1, 2.0, false}, std::nullopt};
                    },
                    {});
    menu.save(QStringLiteral("Brand red"));
    EXPECT_EQ(PresetStore::all().size(), 1);
    EXPECT_EQ(defaults.data(PresetStore::unreadableKey()), QByteArray(bad[0]));
    // An id is stored without braces.
    EXPECT_EQ(PresetStore::all()[0].idString().size(), 36);
    EXPECT_TRUE(defaults.data(PresetStore::key())->contains(PresetStore::all()[0].idString().toUtf8()));
}

namespace {

// Answers the next name prompt as the user would, by typing into it once it is up and waiting.
void whenPromptShows(std::function<void(NamePrompt&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        auto* prompt = qobject_cast<NamePrompt*>(QApplication::activeModalWidget());
        if (!prompt || !prompt->isVisible())
            return;
        poll->deleteLater();
        poll->stop();
        answer(*prompt);
    });
    poll->start(10);
}

} // namespace

TEST(NamePrompt, ReturnsTheTrimmedNameOrNothing) {
    EXPECT_FALSE(NamePrompt::answer(true, QStringLiteral("   ")));
    whenPromptShows([](NamePrompt& prompt) {
        QTest::keyClicks(prompt.field, QStringLiteral(" Blog  "));
        QTest::keyClick(prompt.field, Qt::Key_Return);
    });
    EXPECT_EQ(NamePrompt::ask(QStringLiteral("Name this style"), QString(), QStringLiteral("Save")),
              QStringLiteral("Blog"));
    whenPromptShows([](NamePrompt& prompt) { QTest::keyClick(prompt.field, Qt::Key_Escape); });
    EXPECT_FALSE(NamePrompt::ask(QStringLiteral("Name this style"), QString(), QStringLiteral("Save")));
    // Gone with the editor it stood over while it waited: nothing, and no second delete.
    whenPromptShows([](NamePrompt& prompt) { prompt.deleteLater(); });
    EXPECT_FALSE(NamePrompt::ask(QStringLiteral("Name this style"), QString(), QStringLiteral("Save")));
}
