// The translate card's model on a held engine: the first target, jobs, stale results, summaries.

#include "platform/Defaults.h"
#include "text/TranslateFakes.h"

#include <gtest/gtest.h>

using namespace TranslateFakes;
using Mode = TranslateModel::Mode;

namespace {

const QString english = QStringLiteral(
    "The quick brown fox jumps over the lazy dog while the farmer watches from the window of his old house.");
const QString german = QStringLiteral("Der schnelle braune Fuchs springt über den faulen Hund, während der Bauer aus "
                                      "dem Fenster seines alten Hauses zuschaut.");

class TranslateModelTest : public ::testing::Test {
protected:
    void SetUp() override { forgetLanguages(); }
    void TearDown() override {
        fake.close();
        QTest::qWait(50);
        forgetLanguages();
    }
    std::shared_ptr<FakeEngine> holder = std::make_shared<FakeEngine>();
    FakeEngine& fake = *holder;
};

} // namespace

TEST_F(TranslateModelTest, ChoosesTheFirstTargetThatDiffersFromTheSource) {
    // text, stored default, source label, target
    const std::tuple<QString, const char*, const char*, const char*> cases[] = {
        {english, nullptr, "English", "de"},
        {german, "de", "German", "en"},
        {german, "fr-CA", "German", "fr"},
        {QStringLiteral("12:30 42 %"), "ja", "Auto", "ja"},
        {QStringLiteral("12:30 42 %"), nullptr, "Auto", "en"},
    };
    for (const auto& [text, stored, source, target] : cases) {
        TranslateModel::setDefaultLanguage(stored ? std::optional(Language(QString::fromLatin1(stored)))
                                                  : std::nullopt);
        auto model = TranslateModel::make(text, fake.engine());
        EXPECT_EQ(model->sourceName(), QString::fromLatin1(source)) << target;
        EXPECT_EQ(model->target().minimalIdentifier(), QString::fromLatin1(target));
    }
}

TEST_F(TranslateModelTest, ATargetChangeDropsEverythingTheOldJobStillSends) {
    auto model = TranslateModel::make(english, fake.engine());
    auto first = fake.at(fake.translations, 0);
    EXPECT_EQ(first->to, QStringLiteral("German"));
    first->partial(QStringLiteral("Der schnelle"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->translation() == QStringLiteral("Der schnelle"); }));

    model->setTarget(Language(QStringLiteral("fr")));
    auto second = fake.at(fake.translations, 1);
    EXPECT_EQ(second->to, QStringLiteral("French"));
    EXPECT_EQ(model->translation(), QString());
    first->progress(QStringLiteral("old status"));
    first->partial(QStringLiteral("Der schnelle braune"));
    fake.answer(first, QStringLiteral("Der schnelle braune Fuchs"));
    second->partial(QStringLiteral("Le renard"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->translation() == QStringLiteral("Le renard"); }));
    EXPECT_EQ(model->status(), QStringLiteral("Translating\u2026"));
    fake.answer(second, QStringLiteral("Model error (500)"), true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->finished(); }));
    EXPECT_EQ(model->status(), QStringLiteral("Model error (500)"));
    EXPECT_EQ(model->translation(), QStringLiteral("Le renard")) << "a failure keeps the partial text";
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")), QVariantList{QStringLiteral("fr")});
    EXPECT_EQ(model->favourites().first().minimalIdentifier(), QStringLiteral("fr"));

    model->setTarget(Language(QStringLiteral("fr")));
    QTest::qWait(50);
    EXPECT_EQ(fake.count(fake.translations), 2) << "the same target again starts nothing";
}

TEST_F(TranslateModelTest, SummaryIsMadeOnceAndAFailureTakesItsPlace) {
    auto model = TranslateModel::make(english, fake.engine());
    model->setMode(Mode::summary);
    auto summary = fake.at(fake.summaries, 0);
    EXPECT_TRUE(summary->to.contains(QStringLiteral("Reply in German with 2\u20134 short plain sentences")));
    model->setMode(Mode::translation);
    model->setMode(Mode::summary);
    fake.answer(summary, QStringLiteral("Language model failed to start"), true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->busy(); }));
    EXPECT_EQ(model->summary(), QStringLiteral("Language model failed to start"));
    model->setMode(Mode::translation);
    model->setMode(Mode::summary);
    QTest::qWait(50);
    EXPECT_EQ(fake.count(fake.summaries), 1);
}

TEST_F(TranslateModelTest, ASummaryOvertakenByATargetChangeMakesWayForTheNewOne) {
    auto model = TranslateModel::make(english, fake.engine());
    model->setMode(Mode::summary);
    auto old = fake.at(fake.summaries, 0);
    model->setTarget(Language(QStringLiteral("es")));
    EXPECT_EQ(fake.count(fake.summaries), 1) << "the old summary still runs";
    fake.answer(old, QStringLiteral("Eine Zusammenfassung."));
    auto fresh = fake.at(fake.summaries, 1);
    ASSERT_TRUE(fresh) << "the new target's summary starts once the old one ends";
    EXPECT_TRUE(fresh->to.contains(QStringLiteral("Reply in Spanish")));
    EXPECT_EQ(model->summary(), QString());
    fake.answer(fresh, QStringLiteral("Un resumen."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->summary() == QStringLiteral("Un resumen."); }));
}

TEST_F(TranslateModelTest, TheRunningJobKeepsAModelItsOwnerLetGo) {
    std::weak_ptr<TranslateModel> weak = TranslateModel::make(english, fake.engine());
    auto call = fake.at(fake.translations, 0);
    EXPECT_FALSE(weak.expired());
    call->partial(QStringLiteral("Der"));
    fake.answer(call, QStringLiteral("Der Fuchs"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return weak.expired(); }));
}

TEST_F(TranslateModelTest, AnEmptyReplySaysThatNoTextCameBack) {
    const QString noText = QStringLiteral("No text came back from the language model");
    auto model = TranslateModel::make(english, fake.engine());
    fake.answer(fake.at(fake.translations, 0), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->finished(); }));
    EXPECT_EQ(model->translation(), QString());
    EXPECT_EQ(model->status(), noText);

    model->setMode(Mode::summary);
    fake.answer(fake.at(fake.summaries, 0), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->busy(); }));
    EXPECT_EQ(model->summary(), noText);
}

TEST_F(TranslateModelTest, PiecesThatCameBackEmptyAreNeverShownAsATranslation) {
    // The pipeline's result, how many pieces it sent and how many came back empty.
    const struct {
        const char* text;
        int sent, empty;
        const char *translation, *status, *note;
    } cases[] = {
        // Every piece kept as it was: the text in hand is the original.
        {"The quick brown fox\n\n12:30", 2, 2, "", "No text came back from the language model", ""},
        {"Der schnelle Fuchs\njumps over\nthe dog", 3, 1, "Der schnelle Fuchs\njumps over\nthe dog",
         "Translating\u2026", "Left untranslated: 1 of 3 lines (no text came back)"},
        {"12:30", 0, 0, "12:30", "Translating\u2026", ""}, // nothing sent, nothing missing
    };
    qsizetype made = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto model = TranslateModel::make(english, fake.engine());
        auto call = fake.at(fake.translations, made++);
        // The kept original streams in meanwhile, as the pipeline reports it.
        call->partial(QString::fromUtf8(c.text));
        fake.answer(call, QString::fromUtf8(c.text), c.sent, c.empty);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->finished(); }));
        EXPECT_EQ(model->translation(), QString::fromUtf8(c.translation));
        EXPECT_EQ(model->status(), QString::fromUtf8(c.status));
        EXPECT_EQ(model->note(), QString::fromUtf8(c.note));
    }

    // A new target starts without the old note.
    auto model = TranslateModel::make(english, fake.engine());
    fake.answer(fake.at(fake.translations, made), QStringLiteral("Der\nFuchs"), 2, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->note().isEmpty(); }));
    model->setTarget(Language(QStringLiteral("fr")));
    EXPECT_EQ(model->note(), QString());
}
