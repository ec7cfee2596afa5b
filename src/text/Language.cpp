#include "text/Language.h"

#include <QLocale>

#include <unicode/uloc.h>

namespace {

constexpr int32_t capacity = ULOC_FULLNAME_CAPACITY + 1;

// The ICU locale id ("zh_Hant_TW") of a BCP 47 tag, or empty when the tag does not parse whole.
QByteArray localeId(const QByteArray& tag) {
    char id[capacity] = {};
    int32_t parsed = 0;
    UErrorCode status = U_ZERO_ERROR;
    uloc_forLanguageTag(tag.constData(), id, capacity, &parsed, &status);
    if (U_FAILURE(status) || parsed != tag.size())
        return {};
    return QByteArray(id);
}

QByteArray toTag(const QByteArray& id) {
    char tag[capacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_toLanguageTag(id.constData(), tag, capacity, false, &status);
    return U_FAILURE(status) ? QByteArray() : QByteArray(tag);
}

QByteArray likely(const QByteArray& id) {
    char out[capacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(id.constData(), out, capacity, &status);
    return U_FAILURE(status) ? id : QByteArray(out);
}

QByteArray part(const QByteArray& id, int32_t (*get)(const char*, char*, int32_t, UErrorCode*)) {
    char out[capacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    get(id.constData(), out, capacity, &status);
    return U_FAILURE(status) ? QByteArray() : QByteArray(out);
}

// uloc_minimizeSubtags trades a script for a region ("zh_Hant" → "zh_TW"); a language list wants
// the script, so the shortest of language, language-script, language-region that means the same.
QByteArray minimize(const QByteArray& id) {
    const QByteArray full = likely(id);
    const QByteArray lang = part(full, uloc_getLanguage);
    const QByteArray script = part(full, uloc_getScript);
    const QByteArray region = part(full, uloc_getCountry);
    const QByteArray rest = part(id, uloc_getVariant);
    if (!rest.isEmpty())
        return id;
    for (const QByteArray& candidate : {lang, lang + '_' + script, lang + '_' + region})
        if (likely(candidate) == full)
            return candidate;
    char out[capacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_minimizeSubtags(id.constData(), out, capacity, &status);
    return U_FAILURE(status) ? id : QByteArray(out);
}

} // namespace

Language::Language(const QString& identifier) : tag(identifier), minimal(identifier) {
    const QByteArray given = identifier.trimmed().replace(QLatin1Char('_'), QLatin1Char('-')).toUtf8();
    const QByteArray id = given.isEmpty() ? QByteArray() : localeId(given);
    const QByteArray lang = id.isEmpty() ? QByteArray() : part(id, uloc_getLanguage);
    if (lang.isEmpty())
        return;
    tag = QString::fromUtf8(toTag(id));
    code = QString::fromUtf8(lang);
    QByteArray script = part(id, uloc_getScript);
    if (script.isEmpty())
        script = part(likely(id), uloc_getScript);
    if (!script.isEmpty())
        writing = QString::fromUtf8(script);
    minimal = QString::fromUtf8(toTag(minimize(id)));
}

QString Language::name(const QString& locale) const {
    if (!code)
        return minimal;
    UChar out[256] = {};
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray id = localeId(minimal.toUtf8());
    const QByteArray in = localeId(locale.toUtf8());
    const int32_t length = uloc_getDisplayName(id.constData(), in.constData(), out, 256, &status);
    if (U_FAILURE(status) || length <= 0)
        return minimal;
    return QString(reinterpret_cast<const QChar*>(out), length);
}

QString Language::userLocale() {
    return QLocale::system().bcp47Name();
}

QStringList Language::preferredLanguages(const QString& language, const QString& lcAll, const QString& lcMessages,
                                         const QString& lang, const QStringList& system) {
    // Qt reads only the first of these that is set, so a desktop that speaks German (LANG) but
    // shows its menus in English (LC_MESSAGES) would lose German. Every one of them counts.
    QStringList out;
    auto add = [&](QString name) {
        name = name.section(u'.', 0, 0).section(u'@', 0, 0).replace(u'_', u'-');
        if (name.isEmpty() || name == u"C" || name == u"POSIX" || out.contains(name))
            return;
        out << name;
    };
    for (const QString& name : language.split(u':', Qt::SkipEmptyParts))
        add(name);
    for (const QString& name : {lcAll, lcMessages, lang})
        add(name);
    for (const QString& name : system)
        add(name);
    return out;
}

QStringList Language::preferredLanguages() {
    return preferredLanguages(qEnvironmentVariable("LANGUAGE"), qEnvironmentVariable("LC_ALL"),
                              qEnvironmentVariable("LC_MESSAGES"), qEnvironmentVariable("LANG"),
                              QLocale::system().uiLanguages());
}
