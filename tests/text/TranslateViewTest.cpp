// The translate card's views over a model on a held engine: what shows, what is enabled, what is copied.

#include "text/TranslateView.h"
#include "platform/Defaults.h"
#include "text/TranslateFakes.h"
#include "text/TranslatePanel.h"
#include "text/TranslateSideView.h"
#include "ui/GhostButton.h"
#include "ui/Prefs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <cmath>
#include <gtest/gtest.h>

using namespace TranslateFakes;

TEST(TranslatePanel, ScaleFollowsTheSizeSetting) {
    const std::pair<double, double> table[] = {{0, 1.0},     {0.5, 0.8},  {0.64, 0.8},        {0.8, 1.0},
                                               {0.9, 1.125}, {0.96, 1.2}, {1.2, 1.2},         {1.5, 1.2},
                                               {0.3, 0.8},   {-1, 0.8},   {std::nan(""), 0.8}};
    for (const auto& [stored, scale] : table)
        EXPECT_DOUBLE_EQ(TranslatePanel::scaleFor(stored), scale) << stored;
    Defaults::standard().remove(QStringLiteral("picto.sizeScale"));
    EXPECT_DOUBLE_EQ(TranslatePanel::scale(), 1.0);
}

namespace {

const QString text = QStringLiteral("The quick brown fox jumps over the lazy dog while the farmer watches from the "
                                    "window of his old house.\n\nA second paragraph follows here.");

class TranslateCard : public ::testing::Test {
protected:
    void TearDown() override {
        fake.close();
        waitFor([] { return false; }, 50);
        Defaults::standard().remove(QStringLiteral("translateRecent"));
    }
    std::shared_ptr<FakeEngine> holder = std::make_shared<FakeEngine>();
    FakeEngine& fake = *holder;
};

bool spinning(TranslateView* view) {
    return !view->spinner()->isHidden();
}

} // namespace

TEST_F(TranslateCard, ShowsTheStatusUntilTextArrivesThenTheText) {
    int closes = 0;
    TranslateSideView side(
        text, [&] { ++closes; }, fake.engine());
    side.resize(330, 420);
    side.show();
    TranslateView* view = side.host();
    EXPECT_EQ(view->geometry(), side.rect());
    EXPECT_EQ(view->sourceLabel()->text(), QStringLiteral("English \u2192"));
    EXPECT_EQ(view->languagePicker()->currentText(), QStringLiteral("German"));
    EXPECT_EQ(view->languagePicker()->width(), 118);
    EXPECT_EQ(view->modeButton(TranslateModel::Mode::summary)->toolTip(), QStringLiteral("Summary"));
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("Translating\u2026"));
    EXPECT_FALSE(view->copyButton()->isEnabled());
    EXPECT_TRUE(spinning(view));
    EXPECT_FALSE(view->handleKey(Qt::Key_C, Qt::ControlModifier));

    view->copyOriginalButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);

    auto call = fake.translation(0);
    call->partial(QStringLiteral("Der schnelle"));
    ASSERT_TRUE(waitFor([&] { return view->resultText()->toPlainText() == QStringLiteral("Der schnelle"); }));
    EXPECT_TRUE(view->copyButton()->isEnabled());
    EXPECT_FALSE(spinning(view));
    EXPECT_TRUE(view->handleKey(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Der schnelle"));

    // Summary mode waits with the status and the spinner; back to the translation at once.
    view->modeButton(TranslateModel::Mode::summary)->click();
    EXPECT_EQ(view->model().mode(), TranslateModel::Mode::summary);
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("Translating\u2026"));
    EXPECT_TRUE(spinning(view));
    view->modeButton(TranslateModel::Mode::translation)->click();
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("Der schnelle"));

    // The close button: its top-right corner 16 from the right and 18 from the top, each click calls back.
    const QRect close = side.closeButton()->geometry();
    EXPECT_EQ(close.width(), qRound(24 * Prefs::barScale()));
    EXPECT_EQ(side.width() - (close.x() + close.width()), 16);
    EXPECT_EQ(close.y(), 18);
    side.closeButton()->click();
    side.closeButton()->click();
    EXPECT_EQ(closes, 2);
}

TEST_F(TranslateCard, AFailureStopsTheSpinnerAndAPickedLanguageTranslatesAnew) {
    TranslateSideView side(text, {}, fake.engine());
    side.resize(330, 420);
    side.show();
    TranslateView* view = side.host();
    fake.fail(fake.translation(0), QStringLiteral("Translation engine missing"));
    ASSERT_TRUE(waitFor([&] { return view->model().finished(); }));
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("Translation engine missing"));
    EXPECT_FALSE(spinning(view));
    EXPECT_FALSE(view->copyButton()->isEnabled());

    // Favourites (German, English) above the separator, every language once.
    QComboBox* picker = view->languagePicker();
    QStringList titles;
    for (int i = 0; i < picker->count(); ++i)
        titles.append(picker->itemText(i));
    EXPECT_EQ(titles.count(QStringLiteral("German")), 1);
    EXPECT_EQ(titles.count(QStringLiteral("English")), 1);
    const int french = picker->findText(QStringLiteral("French"));
    ASSERT_GT(french, titles.indexOf(QString()));
    picker->setCurrentIndex(french);
    emit picker->activated(french);
    auto again = fake.translation(1);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->to, QStringLiteral("French"));
    EXPECT_TRUE(spinning(view));
    EXPECT_EQ(picker->itemText(0), QStringLiteral("French")) << "the new target leads the favourites";
    EXPECT_EQ(picker->currentText(), QStringLiteral("French"));
}
