// The backdrop editor's preview and drags, its result file, and the style presets of both editors.

#include "editors/AnnotateWindow.h"
#include "editors/BackgroundCanvas.h"
#include "editors/BackgroundWindow.h"
#include "editors/CustomColors.h"
#include "editors/NamePrompt.h"
#include "editors/PresetMenu.h"
#include "editors/PresetStore.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "support/NoRoomToWrite.h"
#include "ui/GhostButton.h"
#include "ui/Toast.h"

#include <QLineEdit>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QImage solid(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(30, 60, 90));
    return image;
}

void mouse(QWidget* target, QEvent::Type type, QPointF at) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Drags from `from` by `by` in one move and returns the chip shown during the drag.
QString dragChip(BackgroundCanvas& canvas, QPointF from, QPointF by) {
    mouse(&canvas, QEvent::MouseButtonPress, from);
    mouse(&canvas, QEvent::MouseMove, from + by);
    const QString chip = canvas.chip.value_or(QString());
    mouse(&canvas, QEvent::MouseButtonRelease, from + by);
    return chip;
}

class PresetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Defaults::standard().remove(PresetStore::key());
        Defaults::standard().remove(PresetStore::unreadableKey());
        Defaults::standard().remove(QStringLiteral("picto.customColors"));
    }
    void TearDown() override { SetUp(); }
};

} // namespace

TEST(BackgroundCanvas, PreviewIsReducedToAtMost1400) {
    EXPECT_EQ(BackgroundCanvas(solid(3000, 2000), {}).preview.size(), QSize(1400, 933));
    EXPECT_EQ(BackgroundCanvas(solid(1400, 800), {}).preview.size(), QSize(1400, 800));
    EXPECT_EQ(BackgroundCanvas(solid(1401, 10), {}).preview.size(), QSize(1400, 9));
}

TEST(BackgroundCanvas, DragsFollowThePointerAndStopAtTheLimits) {
    // 1000 × 600 at the default style renders 1180 × 780; at half size the picture starts 45 in.
    BackgroundCanvas canvas(solid(1000, 600), {});
    canvas.resize(590, 390);
    const auto g = canvas.geometry();
    ASSERT_TRUE(g);
    EXPECT_DOUBLE_EQ(g->scale, 0.5);
    const QPointF leftBand(g->pictureRect.left() + 2, g->pictureRect.center().y());
    EXPECT_EQ(canvas.zone(leftBand, *g), (BackgroundCanvas::Zone{BackgroundCanvas::Zone::Kind::padding, -1, 0}));
    EXPECT_EQ(dragChip(canvas, leftBand, {20, 0}), QStringLiteral("Padding 13 %"));
    EXPECT_NEAR(canvas.style.padding, 0.13, 1e-9);

    BackgroundCanvas other(solid(1000, 600), {});
    other.resize(590, 390);
    const auto g2 = *other.geometry();
    EXPECT_EQ(dragChip(other, QPointF(g2.pictureRect.left() + 2, 195), {-400, 0}), QStringLiteral("Padding 2 %"));
    // A band corner moves by the mean of both axes: 10 and 30 inwards make 20.
    BackgroundCanvas corner(solid(1000, 600), {});
    corner.resize(590, 390);
    const auto g3 = *corner.geometry();
    const QPointF bottomRight(g3.pictureRect.right() - 2, g3.pictureRect.bottom() - 2);
    EXPECT_EQ(dragChip(corner, bottomRight, {-10, -30}), QStringLiteral("Padding 13 %"));

    // The handle dragged far into the picture stops at the largest radius: 240 px of a 3000-pixel source.
    BackgroundCanvas big(solid(3000, 1800), {});
    big.resize(700, 470);
    const auto g4 = *big.geometry();
    const double k = std::max(16.0, g4.radius);
    const QPointF handle(g4.pictureRect.left() + k, g4.pictureRect.top() + k);
    EXPECT_EQ(big.zone(handle, g4).kind, BackgroundCanvas::Zone::Kind::corner);
    EXPECT_EQ(dragChip(big, handle, {300, 300}), QStringLiteral("Corners 240 px"));
    EXPECT_DOUBLE_EQ(big.style.corners, 0.08);
    EXPECT_FALSE(big.chip);
}

TEST_F(PresetsTest, BackdropEditorWritesStyledBesideAndKeepsOpenOnFailure) {
    QTemporaryDir folder;
    const QUrl file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot annotated.png")));
    ShotFiles::write(solid(200, 100), file);
    ShotFiles::write(solid(10, 10), QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot annotated styled.png"))));
    QUrl written;
    QImage result;
    int calls = 0;
    BackgroundWindow window(Shot{file, QImage(), QStringLiteral("Test"), std::nullopt},
                            [&](const QUrl& url, const QImage& image) {
                                written = url;
                                result = image;
                                ++calls;
                            });
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pictolarium Backdrop"));
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
    }
    EXPECT_EQ(calls, 0);
    QLabel* toast = Toast::current() ? Toast::current()->findChild<QLabel*>() : nullptr;
    EXPECT_EQ(toast ? toast->text() : QString(), QStringLiteral("Couldn't write shot annotated styled 2.png"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_EQ(picture.readAll(), original);
    picture.close();
    window.finish();
    ASSERT_EQ(calls, 1);
    // The taken name is never overwritten: the next number is used.
    EXPECT_EQ(QFileInfo(written.toLocalFile()).fileName(), QStringLiteral("shot annotated styled 2.png"));
    EXPECT_EQ(QImage(written.toLocalFile()).size(), QSize(236, 136));
    EXPECT_EQ(QImage(folder.filePath(QStringLiteral("shot annotated styled.png"))).size(), QSize(10, 10));

    // The fills menu: 15 fills alone, then the saved colours under their heading.
    std::unique_ptr<QMenu> menu(window.fillsMenu(nullptr));
    EXPECT_EQ(menu->actions().size(), 15);
    EXPECT_TRUE(menu->actions()[2]->isChecked());
    CustomColors::add(QColor(0x12, 0x34, 0x56));
    menu.reset(window.fillsMenu(nullptr));
    ASSERT_EQ(menu->actions().size(), 18);
    EXPECT_EQ(menu->actions()[16]->text(), QStringLiteral("Saved colours"));
    EXPECT_EQ(menu->actions()[17]->text(), QStringLiteral("#123456"));
}

TEST_F(PresetsTest, SavedByNameReplacedInPlaceAndListedOnlyByItsEditor) {
    QTemporaryDir folder;
    const QUrl file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot.png")));
    ShotFiles::write(solid(200, 100), file);
    BackgroundWindow window(Shot{file, QImage(), QStringLiteral("Test"), std::nullopt}, {});
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

    AnnotateWindow annotate(Shot{file, QImage(), QStringLiteral("Test"), std::nullopt}, {});
    annotate.setAttribute(Qt::WA_DeleteOnClose, false);
    std::unique_ptr<QMenu> mine(annotate.presetMenu->build(nullptr));
    EXPECT_EQ(mine->actions()[0]->text(), QStringLiteral("No presets yet"));
    EXPECT_FALSE(mine->actions()[0]->isEnabled());
    EXPECT_EQ(mine->actions().size(), 3);
    std::unique_ptr<QMenu> theirs(window.presetMenu->build(nullptr));
    EXPECT_EQ(theirs->actions()[0]->text(), QStringLiteral("blog"));
    EXPECT_EQ(theirs->actions().last()->text(), QStringLiteral("Delete preset"));

    window.presetMenu->deleteItem(replaced[0].idString());
    ASSERT_EQ(PresetStore::all().size(), 1);
    EXPECT_EQ(PresetStore::all()[0].name, QStringLiteral("Other"));
    window.close();
    annotate.close();
}

TEST_F(PresetsTest, AnnotateStylesApplyWithinTheirRanges) {
    QTemporaryDir folder;
    const QUrl file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot.png")));
    ShotFiles::write(solid(200, 100), file);
    AnnotateWindow window(Shot{file, QImage(), QStringLiteral("Test"), std::nullopt}, {});
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    const QList<QColor> palette = AnnotateWindow::paletteColors();
    struct Case {
        AnnotateStyle in;
        int color;
        double thickness;
    } cases[] = {{{99, -5, true}, 11, 0.25},
                 {{-3, 1e308, false}, 0, 10},
                 {{4, std::nullopt, true}, 4, 1},
                 {{2, std::numeric_limits<double>::infinity(), false}, 2, 1}};
    for (const Case& c : cases) {
        window.applyStyle(c.in);
        const AnnotateStyle now = window.currentStyle();
        EXPECT_EQ(now.color, c.color);
        EXPECT_DOUBLE_EQ(*now.thickness, c.thickness);
        EXPECT_EQ(now.filled, c.in.filled);
    }
    window.setColor(QColor(1, 2, 3)); // off the palette
    EXPECT_EQ(window.currentStyle().color, 0);
    window.close();
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
    // An id is stored upper case and without braces.
    EXPECT_EQ(PresetStore::all()[0].idString().size(), 36);
    EXPECT_TRUE(defaults.data(PresetStore::key())->contains(PresetStore::all()[0].idString().toUtf8()));
}

TEST(NamePrompt, ReturnsTheTrimmedNameOrNothing) {
    EXPECT_EQ(NamePrompt::answer(true, QStringLiteral("  Blog \n")), QStringLiteral("Blog"));
    EXPECT_FALSE(NamePrompt::answer(true, QStringLiteral("   ")));
    EXPECT_FALSE(NamePrompt::answer(false, QStringLiteral("Blog")));
    NamePrompt::testHook() = [](NamePrompt& prompt) {
        QTest::keyClicks(prompt.field, QStringLiteral(" Blog  "));
        QTest::keyClick(prompt.field, Qt::Key_Return);
    };
    EXPECT_EQ(NamePrompt::ask(QStringLiteral("Name this style"), QStringLiteral("e.g. Blog backdrop"),
                              QStringLiteral("Save")),
              QStringLiteral("Blog"));
    NamePrompt::testHook() = [](NamePrompt& prompt) { QTest::keyClick(prompt.field, Qt::Key_Escape); };
    EXPECT_FALSE(NamePrompt::ask(QStringLiteral("Name this style"), QString(), QStringLiteral("Save")));
    NamePrompt::testHook() = {};
}
