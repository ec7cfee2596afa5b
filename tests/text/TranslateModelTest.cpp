// The translate card's model on an engine of the test's own: targets, jobs, stale results, summaries.

#include "platform/Defaults.h"
#include "text/TranslateFakes.h"

#include <gtest/gtest.h>

using namespace TranslateFakes;

namespace {

const QString english = QStringLiteral(
    "The quick brown fox jumps over the lazy dog while the farmer watches from the window of his old house.");
const QString german = QStringLiteral(
    "Der schnelle braune Fuchs springt über den faulen Hund, während der Bauer aus dem Fenster seines alten Hauses "
    "zuschaut.");

class TranslateModelTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override {
        fake.close();
        waitFor([] { return false; }, 50);
        clear();
    }
    static void clear() {
        Defaults::standard().remove(QStringLiteral("translateDefault"));
        Defaults::standard().remove(QStringLiteral("translateRecent"));
    }
    std::shared_ptr<FakeEngine> holder = std::make_shared<FakeEngine>();
    FakeEngine& fake = *holder;
};

} // namespace

TEST_F(TranslateModelTest, ChoosesTheFirstTargetThatDiffersFromTheSource) {
    struct Case {
        QString text;
        const char* stored;
        const char* source;
        const char* target;
    } cases[] = {
        {english, nullptr, "English", "de"},
        {german, "de", "German", "en"},
        {german, "fr-CA", "German", "fr"},
        {QStringLiteral("12:30 42 %"), "ja", "Auto", "ja"},
        {QStringLiteral("12:30 42 %"), nullptr, "Auto", "en"},
    };
    for (const Case& c : cases) {
        if (c.stored)
            TranslateModel::setDefaultLanguage(Language(QString::fromLatin1(c.stored)));
        else
            TranslateModel::setDefaultLanguage(std::nullopt);
        auto model = TranslateModel::make(c.text, fake.engine());
        EXPECT_EQ(model->sourceName(), QString::fromLatin1(c.source)) << c.target;
        EXPECT_EQ(model->target().minimalIdentifier(), QString::fromLatin1(c.target));
        EXPECT_EQ(model->status(), QStringLiteral("Translating\u2026"));
    }
}

TEST_F(TranslateModelTest, ATargetChangeDropsEverythingTheOldJobStillSends) {
    auto model = TranslateModel::make(english, fake.engine());
    auto first = fake.translation(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->to, QStringLiteral("German"));
    first->partial(QStringLiteral("Der schnelle"));
    ASSERT_TRUE(waitFor([&] { return model->translation() == QStringLiteral("Der schnelle"); }));

    model->setTarget(Language(QStringLiteral("fr")));
    auto second = fake.translation(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->to, QStringLiteral("French"));
    EXPECT_EQ(model->translation(), QString());
    first->progress(QStringLiteral("old status"));
    first->partial(QStringLiteral("Der schnelle braune"));
    fake.finish(first, QStringLiteral("Der schnelle braune Fuchs"));
    second->progress(QStringLiteral("Translating\u2026"));
    second->partial(QStringLiteral("Le renard"));
    ASSERT_TRUE(waitFor([&] { return model->translation() == QStringLiteral("Le renard"); }));
    EXPECT_EQ(model->status(), QStringLiteral("Translating\u2026"));
    fake.finish(second, QStringLiteral("Le renard brun"));
    ASSERT_TRUE(waitFor([&] { return model->finished(); }));
    EXPECT_EQ(model->translation(), QStringLiteral("Le renard brun"));
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")), QVariantList{QStringLiteral("fr")});
    EXPECT_EQ(model->favourites().first().minimalIdentifier(), QStringLiteral("fr"));

    // The same target again is no change at all.
    model->setTarget(Language(QStringLiteral("fr")));
    waitFor([] { return false; }, 50);
    EXPECT_EQ(fake.count(fake.translations), 2u);
}

TEST_F(TranslateModelTest, AFailedTranslationEndsWithItsMessageAndKeepsItsText) {
    auto model = TranslateModel::make(english, fake.engine());
    auto call = fake.translation(0);
    call->partial(QStringLiteral("Der"));
    fake.fail(call, QStringLiteral("Model error (500)"));
    ASSERT_TRUE(waitFor([&] { return model->finished(); }));
    EXPECT_EQ(model->status(), QStringLiteral("Model error (500)"));
    EXPECT_EQ(model->translation(), QStringLiteral("Der"));
}

TEST_F(TranslateModelTest, SummaryIsMadeOnceAndAFailureTakesItsPlace) {
    auto model = TranslateModel::make(english, fake.engine());
    model->setMode(TranslateModel::Mode::summary);
    auto summary = fake.summary(0);
    ASSERT_TRUE(summary);
    EXPECT_TRUE(summary->to.contains(QStringLiteral("Reply in German with 2\u20134 short plain sentences")));
    EXPECT_TRUE(model->busy());
    model->setMode(TranslateModel::Mode::translation);
    model->setMode(TranslateModel::Mode::summary);
    fake.fail(summary, QStringLiteral("Language model failed to start"));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    EXPECT_EQ(model->summary(), QStringLiteral("Language model failed to start"));
    model->setMode(TranslateModel::Mode::translation);
    model->setMode(TranslateModel::Mode::summary);
    waitFor([] { return false; }, 50);
    EXPECT_EQ(fake.count(fake.summaries), 1u);
}

TEST_F(TranslateModelTest, ASummaryOvertakenByATargetChangeMakesWayForTheNewOne) {
    auto model = TranslateModel::make(english, fake.engine());
    model->setMode(TranslateModel::Mode::summary);
    auto old = fake.summary(0);
    model->setTarget(Language(QStringLiteral("es")));
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(fake.count(fake.summaries), 1u) << "the old summary still runs";
    fake.finish(old, QStringLiteral("Eine Zusammenfassung."));
    waitFor([&] { return fake.count(fake.summaries) > 1; });
    auto fresh = fake.summary(1);
    ASSERT_TRUE(fresh) << "the new target's summary starts once the old one ends";
    EXPECT_TRUE(fresh->to.contains(QStringLiteral("Reply in Spanish")));
    EXPECT_EQ(model->summary(), QString());
    fake.finish(fresh, QStringLiteral("Un resumen."));
    ASSERT_TRUE(waitFor([&] { return model->summary() == QStringLiteral("Un resumen."); }));
    EXPECT_FALSE(model->busy());
}

TEST_F(TranslateModelTest, AModelLetGoMidJobIsNotTouchedByItsCallbacks) {
    std::weak_ptr<TranslateModel> weak;
    {
        auto model = TranslateModel::make(english, fake.engine());
        weak = model;
    }
    auto call = fake.translation(0);
    EXPECT_FALSE(weak.expired()) << "the running job holds the model";
    call->partial(QStringLiteral("Der"));
    fake.finish(call, QStringLiteral("Der Fuchs"));
    EXPECT_TRUE(waitFor([&] { return weak.expired(); }));
}
