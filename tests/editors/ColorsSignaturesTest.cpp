// Saved colours, the colour grid and menus, the colour dialog, and signatures.

#include "EditorFixtures.h"
#include "editors/AnnotateWindow.h"
#include "editors/ColorGridView.h"
#include "editors/CustomColors.h"
#include "editors/SavedColorsMenu.h"
#include "editors/SignaturePad.h"
#include "editors/SignatureStore.h"
#include "platform/Defaults.h"
#include "ui/GhostButton.h"

#include <QColorDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidgetAction>
#include <gtest/gtest.h>

using namespace EditorFixtures;

namespace {

const QString key = QStringLiteral("picto.customColors");

QStringList storedColours() {
    QStringList list;
    for (const QVariant& v : Defaults::standard().array(key).value_or(QVariantList()))
        list.append(v.toString());
    return list;
}

std::unique_ptr<AnnotateWindow> editorOn(const QTemporaryDir& folder) {
    const QUrl file = written(folder, QStringLiteral("shot.png"), filled(1000, 800, Qt::white));
    auto window = std::make_unique<AnnotateWindow>(shotOf(file), [](const QUrl&, const QImage&) {});
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    return window;
}

} // namespace

TEST(CustomColors, AddKeepsTwelveNewestFirstWithoutRepeats) {
    Defaults& defaults = Defaults::standard();
    defaults.remove(key);
    for (int i = 0; i < 13; ++i)
        CustomColors::add(QColor(i, 0, 0));
    EXPECT_EQ(storedColours().size(), 12);
    EXPECT_EQ(storedColours().first(), QStringLiteral("#0C0000"));
    EXPECT_FALSE(storedColours().contains(QStringLiteral("#000000"))) << "the oldest goes";
    CustomColors::add(QColor::fromRgbF(0.0235f, 0, 0, 0.5f)); // rounds to #060000, alpha dropped
    EXPECT_EQ(storedColours().first(), QStringLiteral("#060000"));
    EXPECT_EQ(storedColours().count(QStringLiteral("#060000")), 1);
    EXPECT_EQ(CustomColors::all().first().alphaF(), 1.0);
    CustomColors::remove(QColor(6, 0, 0));
    EXPECT_FALSE(storedColours().contains(QStringLiteral("#060000")));

    // Hex strings as a user might have left them.
    EXPECT_EQ(CustomColors::color(QStringLiteral("##ff8000#")), QColor(255, 128, 0));
    for (const char* bad : {"#FFF", "#GGGGGG", "", "#FF80001"})
        EXPECT_FALSE(CustomColors::color(QString::fromLatin1(bad))) << bad;

    // A list of the wrong shape reads as none and is started afresh.
    for (const QVariant& wrong :
         {QVariant(QVariantList{QStringLiteral("#FF0000"), 12}), QVariant(QStringLiteral("#FF0000"))}) {
        defaults.set(key, wrong);
        EXPECT_TRUE(CustomColors::all().isEmpty());
    }
    CustomColors::add(Qt::green);
    EXPECT_EQ(storedColours(), QStringList{QStringLiteral("#00FF00")});
    defaults.remove(key);
}

TEST(ColorGridView, ClicksHitNearTheCellsAndRemoveOnlySavedColours) {
    QList<QColor> saved;
    for (int i = 0; i < 12; ++i)
        saved.append(QColor(i, i, i));
    ColorGridView full(AnnotateWindow::paletteColors(), saved, Qt::red);
    std::vector<QString> events;
    full.onPick = [&](const QColor& c) { events.push_back(QStringLiteral("pick ") + c.name()); };
    full.onRemove = [&](const QColor& c) { events.push_back(QStringLiteral("remove ") + c.name()); };
    full.onCustom = [&] { events.push_back(QStringLiteral("custom")); };
    full.click(QPointF(9.5, 12), false);    // palette 0, just outside
    full.click(QPointF(12 + 30, 12), true); // palette 1 with remove: a pick
    full.click(QPointF(12, 78 + 5), true);  // saved 0
    full.click(QPointF(38, 45), false);     // between cells
    full.click(QPointF(20, 145), false);    // "+"
    const QColor p0 = AnnotateWindow::paletteColors()[0], p1 = AnnotateWindow::paletteColors()[1];
    EXPECT_EQ(events, (std::vector<QString>{QStringLiteral("pick ") + p0.name(), QStringLiteral("pick ") + p1.name(),
                                            QStringLiteral("remove #000000"), QStringLiteral("custom")}));
}

TEST(AnnotateColours, TheDialogSavesThePickAndThePanelMenuListsAndRemovesIt) {
    Defaults& defaults = Defaults::standard();
    defaults.remove(key);
    QTemporaryDir folder;
    std::unique_ptr<AnnotateWindow> window = editorOn(folder);
    window->show();
    QColorDialog* dialog = window->openColorPanel();
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    dialog->setCurrentColor(QColor(0x20, 0x40, 0x60));
    EXPECT_EQ(window->colorButton->tint(), QColor(0x20, 0x40, 0x60)) << "live";
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    QApplication::sendEvent(dialog, &enter);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(window->isVisible()) << "Return in the dialog never commits the picture";
    EXPECT_EQ(storedColours(), QStringList{QStringLiteral("#204060")});
    // A palette colour is not saved.
    window->openColorPanel()->setCurrentColor(AnnotateWindow::paletteColors()[3]);
    window->colorPanel()->reject();
    EXPECT_EQ(storedColours().size(), 1);

    // The panel menu's list: each colour removes itself, the last item removes all.
    CustomColors::add(QColor(0xAB, 0xCD, 0xEF));
    QMenu menu;
    SavedColorsMenu::fill(&menu, defaults);
    ASSERT_EQ(menu.actions().size(), 4);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("#ABCDEF  \u00B7  click to remove"));
    menu.actions()[1]->trigger();
    EXPECT_EQ(storedColours(), QStringList{QStringLiteral("#ABCDEF")});
    menu.actions()[3]->trigger();
    EXPECT_FALSE(defaults.contains(key));
    SavedColorsMenu::fill(&menu, defaults);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_FALSE(menu.actions()[0]->isEnabled());
}

TEST(Signatures, TheStoreListsOnlyReadablePNGsOldestFirst) {
    QDir(SignatureStore::dir()).removeRecursively();
    const QImage ink = filled(30, 10, Qt::black, QImage::Format_ARGB32);
    const std::optional<QString> a = SignatureStore::save(ink, 1000);
    const std::optional<QString> b = SignatureStore::save(ink, 1000);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->endsWith(QStringLiteral("sig-1000.png")));
    EXPECT_TRUE(b->endsWith(QStringLiteral("sig-1001.png"))) << "a taken name moves on, never overwrites";
    const auto put = [](const QString& name, const QByteArray& bytes) {
        QFile file(SignatureStore::dir() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    put(QStringLiteral("x.PNG"), "x");
    put(QStringLiteral("notes.txt"), "x");
    put(QStringLiteral("sig-1.png"), QByteArray());
    QFile real(*a);
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    QByteArray huge = real.readAll();
    // IHDR width and height: 100000 × 100000.
    const char big[] = {0, 1, char(0x86), char(0xA0)};
    huge.replace(16, 4, QByteArray(big, 4)).replace(20, 4, QByteArray(big, 4));
    put(QStringLiteral("sig-2.png"), huge);

    const QList<QString> all = SignatureStore::all();
    ASSERT_EQ(all.size(), 4);
    EXPECT_TRUE(all[0].endsWith(QStringLiteral("sig-1.png")));
    EXPECT_FALSE(SignatureStore::read(all[0]));
    EXPECT_FALSE(SignatureStore::read(all[3])) << "a picture too large to be a signature";

    // The menu offers the two readable ones, and each can be removed.
    QTemporaryDir folder;
    std::unique_ptr<AnnotateWindow> window = editorOn(folder);
    std::unique_ptr<QMenu> menu(window->signatureMenu());
    ASSERT_EQ(menu->actions().size(), 6);
    EXPECT_TRUE(menu->actions()[2]->isSeparator());
    EXPECT_EQ(menu->actions().last()->menu()->actions().size(), 4);
    window->removeSignature(0);
    EXPECT_EQ(SignatureStore::all().size(), 3);
    QDir(SignatureStore::dir()).removeRecursively();
}

TEST(Signatures, CleaningTurnsPaperClearAndCropsToTheInk) {
    QImage scan = filled(100, 50, Qt::white);
    for (int x = 20; x < 60; ++x)
        scan.setPixelColor(x, 30, QColor(20, 20, 20));
    const std::optional<QImage> ink = SignatureStore::cleaned(scan);
    ASSERT_TRUE(ink);
    EXPECT_EQ(ink->size(), QSize(40, 1));
    EXPECT_EQ(qAlpha(ink->pixel(0, 0)), 255);
    EXPECT_EQ(qRed(ink->pixel(0, 0)), 0);
    EXPECT_FALSE(SignatureStore::cleaned(filled(50, 50, Qt::white)));

    // A picture with transparency keeps its colours and is only cropped.
    QImage clear = filled(20, 20, Qt::transparent, QImage::Format_ARGB32);
    clear.setPixelColor(5, 6, QColor(0, 0, 255));
    const std::optional<QImage> kept = SignatureStore::cleaned(clear);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), QSize(1, 1));
    EXPECT_EQ(kept->pixelColor(0, 0), QColor(0, 0, 255));
}

TEST(Signatures, PadRendersAndPlacingIsOneUndoStep) {
    SignaturePad pad;
    pad.resize(420, 150);
    pad.strokes = {{QPointF(10, 50), QPointF(110, 50)}};
    const std::optional<QImage> drawn = pad.render();
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->size(), QSize(336, 36));

    EXPECT_EQ(AnnotateCanvas::signatureRect({1000, 800}, {300, 100}).toRect(), QRect(360, 353, 280, 93));
    EXPECT_EQ(AnnotateCanvas::signatureRect({1000, 800}, {100, 400}), QRectF(460, 240, 80, 320));
    EXPECT_NEAR(AnnotateCanvas::signatureRect({200, 100}, {300, 100}).height(), 26.667, 0.01);

    QTemporaryDir folder;
    std::unique_ptr<AnnotateWindow> window = editorOn(folder);
    window->canvas->placeSignature(*drawn);
    ASSERT_EQ(window->canvas->shapes.size(), 1u);
    EXPECT_EQ(window->canvas->selected, 0);
    EXPECT_EQ(window->canvas->tool(), AnnotateCanvas::Tool::Select);
    window->canvas->undo();
    EXPECT_TRUE(window->canvas->shapes.empty());
}

// The dialog's hint is whole beside its buttons, and a saved signature's white ink stays visible on hover.
TEST(Signatures, TheHintIsWholeAndASavedSignatureShowsOnHover) {
    SignatureDialog dialog(nullptr);
    QLabel* hint = dialog.findChild<QLabel*>();
    QPushButton* clear = dialog.findChildren<QPushButton*>().value(0);
    ASSERT_TRUE(hint && clear && clear->text() == QStringLiteral("Clear"));
    EXPECT_FALSE(hint->geometry().intersects(clear->geometry()));
    for (const QString& word : hint->text().split(QLatin1Char(' ')))
        EXPECT_LE(hint->fontMetrics().horizontalAdvance(word), hint->contentsRect().width());
    EXPECT_LE(hint->heightForWidth(hint->width()), hint->height()) << "every line within the height";

    QDir(SignatureStore::dir()).removeRecursively();
    ASSERT_TRUE(SignatureStore::save(filled(90, 30, Qt::black, QImage::Format_ARGB32), 1000));
    QTemporaryDir folder;
    std::unique_ptr<AnnotateWindow> window = editorOn(folder);
    std::unique_ptr<QMenu> menu(window->signatureMenu());
    auto* entry = qobject_cast<QWidgetAction*>(menu->actions().value(0));
    ASSERT_TRUE(entry);
    QWidget* button = entry->defaultWidget();
    button->resize(button->sizeHint());
    button->setAttribute(Qt::WA_UnderMouse, true);
    // The padding above the ink shows the highlight.
    EXPECT_LT(button->grab().toImage().pixelColor(button->width() / 2, 1).lightness(), 100);
    QDir(SignatureStore::dir()).removeRecursively();
}

// The window it draws for closing while the pad waits for an answer takes the pad with it: nothing drawn, and no
// second delete of the pad once its wait ends.
TEST(Signatures, ThePadGoesWithTheWindowClosedUnderIt) {
    auto* over = new QWidget;
    over->show();
    QTimer::singleShot(200, over, [over] { over->deleteLater(); });
    EXPECT_FALSE(SignatureDialog::draw(over).has_value());
    // The same for the file dialog that picks a picture of a signature.
    QTemporaryDir folder;
    AnnotateWindow* window = editorOn(folder).release();
    QTimer::singleShot(200, window, [window] { window->deleteLater(); });
    const QPointer<AnnotateWindow> alive(window);
    window->importSignature();
    EXPECT_TRUE(alive.isNull());
}
