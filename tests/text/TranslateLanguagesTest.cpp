// Languages, favourites, recent targets and the default chooser, over ICU and the stored settings.

#include "platform/Defaults.h"
#include "text/LanguageChooser.h"
#include "text/TranslateModel.h"

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

class TranslateLanguages : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        Defaults::standard().remove(QStringLiteral("translateDefault"));
        Defaults::standard().remove(QStringLiteral("translateRecent"));
    }
    static void setRecent(const QVariant& value) { Defaults::standard().set(QStringLiteral("translateRecent"), value); }
};

} // namespace

TEST_F(TranslateLanguages, IdentifiersCodesAndNames) {
    struct Case {
        const char* id;
        const char* code;
        const char* script;
        const char* minimal;
        const char* canonical;
    } cases[] = {
        {"en-US", "en", "Latn", "en", "en"},
        {"zh-TW", "zh", "Hant", "zh-Hant", "zh-Hant"},
        {"zh", "zh", "Hans", "zh", "zh-Hans"},
        {"zh-Hant", "zh", "Hant", "zh-Hant", "zh-Hant"},
        {"sr-Latn", "sr", "Latn", "sr-Latn", "sr-Latn"},
        {"gd", "gd", "Latn", "gd", "gd"},
        {"pt_BR", "pt", "Latn", "pt", "pt"},
    };
    for (const Case& c : cases) {
        const Language l{QString::fromLatin1(c.id)};
        EXPECT_EQ(l.languageCode(), QString::fromLatin1(c.code)) << c.id;
        EXPECT_EQ(l.script(), QString::fromLatin1(c.script)) << c.id;
        EXPECT_EQ(l.minimalIdentifier(), QString::fromLatin1(c.minimal)) << c.id;
        EXPECT_EQ(TranslateModel::canonical(l).identifier(), QString::fromLatin1(c.canonical)) << c.id;
    }
    EXPECT_EQ(Language(QStringLiteral("de")).englishName(), QStringLiteral("German"));
    EXPECT_EQ(Language(QStringLiteral("de")).name(QStringLiteral("fr")), QStringLiteral("allemand"));
    const Language junk(QStringLiteral("!! not a language"));
    EXPECT_FALSE(junk.valid());
    EXPECT_EQ(junk.displayName(), QStringLiteral("!! not a language"));
}

TEST_F(TranslateLanguages, ListHasFortySevenSortedByNameInTheUsersLanguage) {
    const QList<Language>& list = TranslateModel::languages();
    ASSERT_EQ(list.size(), 47);
    ASSERT_EQ(Language::userLocale().left(2), QStringLiteral("en")) << "run under LANG=en_US.UTF-8";
    EXPECT_EQ(list.first().englishName(), QStringLiteral("Afrikaans"));
    EXPECT_EQ(list.last().englishName(), QStringLiteral("Vietnamese"));
    for (qsizetype i = 1; i < list.size(); ++i)
        EXPECT_LE(list[i - 1].displayName().compare(list[i].displayName(), Qt::CaseInsensitive), 0)
            << list[i - 1].displayName().toStdString() << " / " << list[i].displayName().toStdString();
}

TEST_F(TranslateLanguages, FavouritesFromDefaultRecentAndPreferred) {
    // The system of this test run (LANG=en_US.UTF-8) prefers English only.
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages()), QStringList{QStringLiteral("en")});
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({QStringLiteral("en-US"), QStringLiteral("sv-SE")})),
              QStringList({QStringLiteral("en"), QStringLiteral("sv")}));

    TranslateModel::setDefaultLanguage(Language(QStringLiteral("de")));
    setRecent(QVariantList{QStringLiteral("fr"), QStringLiteral("es")});
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages()),
              QStringList({QStringLiteral("de"), QStringLiteral("fr"), QStringLiteral("es"), QStringLiteral("en")}));
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({QStringLiteral("ja"), QStringLiteral("ko"), QStringLiteral("gd"),
                                                      QStringLiteral("it"), QStringLiteral("nl")})),
              QStringList({QStringLiteral("de"), QStringLiteral("fr"), QStringLiteral("es"), QStringLiteral("ja"),
                           QStringLiteral("ko"), QStringLiteral("gd")}));

    // Damaged settings: a non-array, and entries that are no language or no string.
    setRecent(QStringLiteral("fr"));
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({})), QStringList({QStringLiteral("de"), QStringLiteral("en")}));
    setRecent(QVariantList{QStringLiteral("!!"), qlonglong(3), QStringLiteral("xx"), QString()});
    EXPECT_EQ(ids(TranslateModel::favouriteLanguages({})),
              QStringList({QStringLiteral("de"), QStringLiteral("xx"), QStringLiteral("en")}));
}

TEST_F(TranslateLanguages, RememberKeepsFourWithoutRepeats) {
    for (const char* id : {"fr", "es", "it", "fr", "ja", "ko"})
        TranslateModel::remember(Language(QString::fromLatin1(id)));
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")),
              QVariantList({QStringLiteral("ko"), QStringLiteral("ja"), QStringLiteral("fr"), QStringLiteral("it")}));
    setRecent(QStringLiteral("not a list"));
    TranslateModel::remember(Language(QStringLiteral("en-US")));
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")), QVariantList{QStringLiteral("en")});
}

TEST_F(TranslateLanguages, ChooserListsEachLanguageOnceAndStoresOnlyWhenConfirmed) {
    setRecent(QVariantList{QStringLiteral("fr")});
    LanguageChooser first(true);
    EXPECT_EQ(first.windowTitle(), QStringLiteral("Which language should Pictolarium translate into?"));
    EXPECT_EQ(first.confirmButton()->text(), QStringLiteral("Use This Language"));
    EXPECT_EQ(first.popup()->size(), QSize(240, 26));
    QStringList titles;
    for (int i = 0; i < first.popup()->count(); ++i)
        titles.append(first.popup()->itemText(i));
    // French and English above the separator, then the other 45.
    EXPECT_EQ(titles.size(), 2 + 1 + 45);
    EXPECT_EQ(titles.mid(0, 2), QStringList({QStringLiteral("French"), QStringLiteral("English")}));
    EXPECT_TRUE(titles.at(2).isEmpty());
    EXPECT_EQ(titles.count(QStringLiteral("French")), 1);
    EXPECT_EQ(first.selected()->minimalIdentifier(), QStringLiteral("fr"));

    // Cancel stores nothing; Save stores the selected language.
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* c = qobject_cast<LanguageChooser*>(w); c && c->isVisible())
                c->cancelButton()->click();
    });
    EXPECT_FALSE(TranslateModel::chooseDefault(false));
    EXPECT_FALSE(TranslateModel::defaultLanguage());
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* c = qobject_cast<LanguageChooser*>(w); c && c->isVisible()) {
                EXPECT_EQ(c->windowTitle(), QStringLiteral("Translation Language"));
                EXPECT_EQ(c->confirmButton()->text(), QStringLiteral("Save"));
                c->popup()->setCurrentIndex(c->popup()->findText(QStringLiteral("Japanese")));
                c->confirmButton()->click();
            }
    });
    EXPECT_TRUE(TranslateModel::chooseDefault(false));
    EXPECT_EQ(Defaults::standard().string(QStringLiteral("translateDefault")), QStringLiteral("ja"));
    EXPECT_EQ(Defaults::standard().array(QStringLiteral("translateRecent")), QVariantList{QStringLiteral("fr")});
    // The stored default comes first and is pre-selected.
    EXPECT_EQ(LanguageChooser(false).selected()->minimalIdentifier(), QStringLiteral("ja"));
}
