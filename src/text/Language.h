#pragma once
// A language as a BCP 47 identifier, with what translation needs of it: its language and script
// codes, its shortest identifier, and its names in the user's language and in English (by ICU).

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

class Language {
public:
    Language() = default;
    // Any identifier; one ICU cannot read stays as it was given, without codes.
    explicit Language(const QString& identifier);

    // The identifier in its canonical form ("en-US", "zh-Hant").
    QString identifier() const { return tag; }
    std::optional<QString> languageCode() const { return code; }
    // The script written, else the likely one ("zh-TW" is written in "Hant").
    std::optional<QString> script() const { return writing; }
    // The shortest identifier that means the same language, keeping a script over a region
    // ("en-US" → "en", "zh-TW" → "zh-Hant").
    QString minimalIdentifier() const { return minimal; }
    bool valid() const { return code.has_value(); }

    // The name the locale gives the language, else its minimal identifier.
    QString name(const QString& locale) const;
    QString displayName() const { return name(userLocale()); }
    QString englishName() const { return name(QStringLiteral("en")); }

    bool operator==(const Language& other) const { return tag == other.tag; }
    bool operator!=(const Language& other) const { return !(*this == other); }

    // The language CLD2 finds in the text, when it is sure; none for text it cannot tell.
    static std::optional<Language> detect(const QString& text);
    // The user's language for names and sorting, from the system locale.
    static QString userLocale();
    // The system's preferred languages, most preferred first: the desktop's LANGUAGE list, then
    // the locales of LC_ALL, LC_MESSAGES and LANG, then what Qt makes of them.
    static QStringList preferredLanguages();
    // The same from given values of those variables ("de_DE.UTF-8", "fr:en_GB") and Qt's list.
    static QStringList preferredLanguages(const QString& language, const QString& lcAll, const QString& lcMessages,
                                          const QString& lang, const QStringList& system);

private:
    QString tag;
    std::optional<QString> code;
    std::optional<QString> writing;
    QString minimal;
};

Q_DECLARE_METATYPE(Language)
