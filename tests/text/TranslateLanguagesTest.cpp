// Languages, favourites, recent targets and the default chooser, over ICU and the stored settings.

#include "platform/Defaults.h"
#include "text/LanguageChooser.h"
#include "text/TranslateFakes.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QStringList ids(const QList<Language>& list) {
    QStringList out;
    for (const Language& l : list)
        out.append(l.minimalIdentifier());
    return out;
}

QStringList words(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class TranslateLanguages : public ::testing::Test {
protected:
    void SetUp() override { TranslateFakes::forgetLanguages(); }
    void TearDown() override { TranslateFakes::forgetLanguages(); }
    static void setRecent(const QVariant& value) { Defaults::standard().set(QStringLiteral("translateRecent"), value); }
};

} // namespace

TEST_F(TranslateLanguages, IdentifiersCodesAndTheListsEntries) {
    // identifier, language code, script, minimal identifier, the list's entry
    const char* cases[][5] = {
        {"en-US", "en", "Latn", "en", "en"},   {"zh-TW", "zh", "Hant", "zh-Hant", "zh-Hant"},
        {"zh", "zh", "Hans", "zh", "zh-Hans"}, {"sr-Latn", "sr", "Latn", "sr-Latn", "sr-Latn"},
        {"gd", "gd", "Latn", "gd", "gd"},      {"pt_BR", "pt", "Latn", "pt", "pt"},
    };
    for (const auto& c : cases) {
        const Language l{QString::fromLatin1(c[0])};
        const QStringList got{l.languageCode().value_or(QString()), l.script().value_or(QString()),
                              l.minimalIdentifier(), TranslateModel::canonical(l).identifier()};
        EXPECT_EQ(got, QStringList({QString::fromLatin1(c[1]), QString::fromLatin1(c[2]), QString::fromLatin1(c[3]),
                                    QString::fromLatin1(c[4])}))
            << c[0];
    }
    EXPECT_EQ(Language(QStringLiteral("de")).name(QStringLiteral("fr")), QStringLiteral("allemand"));
    EXPECT_EQ(Language(QStringLiteral("!! no")).displayName(), QStringLiteral("!! no"));

    const QList<Language>& list = TranslateModel::languages();
    ASSERT_EQ(list.size(), 47);
    ASSERT_EQ(Language::userLocale().left(2), QStringLiteral("en")) << "run under LANG=en_US.UTF-8";
    EXPECT_EQ(list.first().englishName(), QStringLiteral("Afrikaans"));
    EXPECT_EQ(list.last().englishName(), QStringLiteral("Vietnamese"));
}

TEST(TranslateDetection, ReliableAnswersOnlyUnderTheListsNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"The committee will publish its annual report on the state of the national parks next week.", "en"},
        {"הוועדה תפרסם בשבוע הבא את הדוח השנתי שלה על מצב הגנים הלאומיים ברחבי הארץ כולה.", "he"},
        {"委员会将于下周发布关于全国国家公园状况的年度报告，届时公众可以在网上阅读全文。", "zh-Hans"},
        {"Komiteen vil publisere sin årlige rapport om tilstanden til nasjonalparkene i hele landet neste uke.", "nb"},
        {"12:30 — 4.5 % / 7 + 8", nullptr},
        {"", nullptr},
    };
    for (const auto& [text, id] : cases) {
        const std::optional<Language> found = Language::detect(QString::fromUtf8(text));
        EXPECT_EQ(found ? found->identifier() : QString(), QString::fromLatin1(id)) << text;
    }
}

TEST_F(TranslateLanguages, FavouritesFromDefaultRecentAndPreferred) {
    // This run's system (LANG=en_US.UTF-8) prefers English alone.
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages()), words("en"));
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages(words("en-US sv-SE"))), words("en sv"));
    TranslateModel::setDefaultLanguage(Language(QStringLiteral("de")));
    setRecent(QVariantList{QStringLiteral("fr"), QStringLiteral("es")});
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages()), words("de fr es en"));
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages(words("ja ko gd it nl"))), words("de fr es ja ko gd"));
    // Damaged settings: not a list, or entries that are no language or no string.
    setRecent(QStringLiteral("fr"));
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({})), words("de en"));
    setRecent(QVariantList{QStringLiteral("!!"), qlonglong(3), QStringLiteral("xx"), QString()});
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({})), words("de xx en"));

    for (const char* id : {"fr", "es", "it", "fr", "ja", "ko"})
        TranslateModel::remember(Language(QString::fromLatin1(id)));
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")),
              QVariantList({QStringLiteral("ko"), QStringLiteral("ja"), QStringLiteral("fr"), QStringLiteral("it")}));
}

TEST_F(TranslateLanguages, ChooserListsEachLanguageOnceAndCancelStoresNothing) {
    setRecent(QVariantList{QStringLiteral("fr")});
    LanguageChooser first(true);
    QStringList titles;
    for (int i = 0; i < first.popup()->count(); ++i)
        titles.append(first.popup()->itemText(i));
    EXPECT_EQ(titles.size(), 2 + 1 + 45) << "French and English above the separator, the other 45 below";
    EXPECT_EQ(titles.mid(0, 3), QStringList({QStringLiteral("French"), QStringLiteral("English"), QString()}));
    EXPECT_EQ(first.selected()->minimalIdentifier(), QStringLiteral("fr"));

    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* c = qobject_cast<LanguageChooser*>(w); c && c->isVisible())
                c->cancelButton()->click();
    });
    EXPECT_FALSE(TranslateModel::chooseDefault(false));
    EXPECT_FALSE(TranslateModel::defaultLanguage());
}
