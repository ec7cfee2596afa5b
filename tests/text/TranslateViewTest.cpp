// The translate card's views over a model on a held engine.

#include "text/TranslateView.h"
#include "text/TranslateFakes.h"
#include "text/TranslatePanel.h"
#include "text/TranslateSideView.h"
#include "ui/GhostButton.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

#include <cmath>
#include <gtest/gtest.h>

using namespace TranslateFakes;

TEST(TranslatePanel, ScaleFollowsTheSizeSetting) {
    const std::pair<double, double> table[] = {{0, 1.0},   {0.5, 0.8}, {0.64, 0.8}, {0.8, 1.0}, {0.96, 1.2},
                                               {1.2, 1.2}, {1.5, 1.2}, {0.3, 0.8},  {-1, 0.8},  {std::nan(""), 0.8}};
    for (const auto& [stored, scale] : table)
        EXPECT_DOUBLE_EQ(TranslatePanel::scaleFor(stored), scale) << stored;
}

TEST(TranslateCard, AFailureStopsTheSpinnerAndCopyFollowsTheResult) {
    auto fake = std::make_shared<FakeEngine>();
    int closes = 0;
    TranslateSideView side(
        QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank today."), [&] { ++closes; },
        fake->engine());
    side.resize(330, 420);
    side.setAttribute(Qt::WA_TranslucentBackground);
    side.show();
    TranslateView* view = side.host();
    // Over any page behind the card the text must read: what shows through is at most a trace.
    const QImage look = side.grab().toImage();
    for (const QPoint at : {QPoint(165, 210), QPoint(30, 400), QPoint(300, 60)})
        EXPECT_GE(qAlpha(look.pixel(at)), 250) << at.x() << "," << at.y();
    EXPECT_FALSE(view->handleKey(Qt::Key_C, Qt::ControlModifier)) << "nothing to copy while waiting";
    fake->answer(fake->at(fake->translations, 0), QStringLiteral("Translation engine missing"), true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model().finished(); }));
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("Translation engine missing"));
    EXPECT_TRUE(view->spinner()->isHidden());
    EXPECT_FALSE(view->copyButton()->isEnabled());

    view->model().setTarget(Language(QStringLiteral("fr")));
    EXPECT_FALSE(view->spinner()->isHidden());
    fake->at(fake->translations, 1)->partial(QStringLiteral("Le renard"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->copyButton()->isEnabled(); }));
    EXPECT_TRUE(view->spinner()->isHidden());
    EXPECT_TRUE(side.handleKey(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Le renard"));

    // Every click of the close button calls back.
    side.closeButton()->click();
    side.closeButton()->click();
    EXPECT_EQ(closes, 2);
    fake->close();
    forgetLanguages();
}

TEST(TranslateCard, RepliesThatCameBackEmptyAreSaidAndNeverCopiedAsATranslation) {
    auto fake = std::make_shared<FakeEngine>();
    TranslateSideView side(
        QStringLiteral("The quick brown fox jumps over the lazy dog.\nIt runs away."), [] {}, fake->engine());
    side.show();
    TranslateView* view = side.host();
    auto call = fake->at(fake->translations, 0);
    call->partial(QStringLiteral("The quick brown fox jumps over the lazy dog.\nIt runs away."));
    fake->answer(call, QStringLiteral("The quick brown fox jumps over the lazy dog.\nIt runs away."), 2, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model().finished(); }));
    EXPECT_EQ(view->resultText()->toPlainText(), TranslateModel::noTextCameBack);
    EXPECT_FALSE(view->copyButton()->isEnabled());

    view->model().setTarget(Language(QStringLiteral("fr")));
    fake->answer(fake->at(fake->translations, 1), QStringLiteral("Le renard rapide saute.\nIt runs away."), 2, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model().finished(); }));
    EXPECT_TRUE(view->copyButton()->isEnabled());
    EXPECT_FALSE(view->noteLabel()->isHidden());
    EXPECT_EQ(view->noteLabel()->text(), QStringLiteral("Left untranslated: 1 of 2 lines (no text came back)"));
    view->model().setMode(TranslateModel::Mode::summary);
    EXPECT_TRUE(view->noteLabel()->isHidden()) << "the note is the translation's";

    // The model ends while it streams the second line: the fragments stay, to be read and copied, and the note
    // says they are no finished translation.
    view->model().setMode(TranslateModel::Mode::translation);
    view->model().setTarget(Language(QStringLiteral("es")));
    call = fake->at(fake->translations, 2);
    call->partial(QStringLiteral("El zorro rápido salta.\nSe"));
    fake->stop(call, QStringLiteral("Connection closed before the end"), 1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model().finished(); }));
    EXPECT_EQ(view->resultText()->toPlainText(), QStringLiteral("El zorro rápido salta.\nSe"));
    EXPECT_TRUE(view->copyButton()->isEnabled());
    EXPECT_FALSE(view->noteLabel()->isHidden());
    EXPECT_EQ(view->noteLabel()->text(), QStringLiteral("The language model stopped: 1 of 2 lines translated"));
    fake->close();
    forgetLanguages();
}

TEST(TranslateCard, TextGrowingAnywhereKeepsTheReadersPlaceAndSelection) {
    auto fake = std::make_shared<FakeEngine>();
    TranslateSideView side(QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank today."), {},
                           fake->engine());
    side.resize(330, 420);
    side.show();
    QPlainTextEdit* text = side.host()->resultText();
    auto call = fake->at(fake->translations, 0);
    // Three hundred lines, of which the first and the one at 150 are still streaming.
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines.append(QStringLiteral("Zeile %1 der Übersetzung").arg(i));
    call->partial(lines.join(u'\n'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return text->document()->blockCount() == 300; }));
    text->verticalScrollBar()->setValue(200);
    QTextCursor selection(text->document()->findBlockByNumber(210));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    text->setTextCursor(selection);

    for (const QString& more : {QStringLiteral(" wächst"), QStringLiteral(" weiter")}) {
        lines[0] += more;
        lines[150] += more;
        call->partial(lines.join(u'\n'));
        ASSERT_TRUE(QTest::qWaitFor([&] { return text->toPlainText() == lines.join(u'\n'); }));
        EXPECT_EQ(text->verticalScrollBar()->value(), 200);
        EXPECT_EQ(text->textCursor().selectedText(), QStringLiteral("Zeile 210 der Übersetzung"));
    }
    fake->close();
    forgetLanguages();
}
