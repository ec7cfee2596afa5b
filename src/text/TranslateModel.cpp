#include "text/TranslateModel.h"

#include "imaging/UserError.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "text/LanguageChooser.h"
#include "text/LocalLLM.h"
#include "text/LocalLLMTranslate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <thread>

#include <unicode/coll.h>
#include <unicode/unistr.h>

namespace {

const QString defaultKey = QStringLiteral("translateDefault");
const QString recentKey = QStringLiteral("translateRecent");

QString messageOf(const std::exception& error) {
    if (const auto* user = dynamic_cast<const UserError*>(&error))
        return user->message;
    return QString::fromLocal8Bit(error.what());
}

// Work runs on a thread of its own: a translation waits on the model for minutes, which would
// starve the shared pool that file work runs on.
void runDetached(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

QStringList recentIdentifiers() {
    QStringList out;
    for (const QVariant& entry : Defaults::standard().array(recentKey).value_or(QVariantList()))
        if (entry.typeId() == QMetaType::QString && !entry.toString().isEmpty())
            out.append(entry.toString());
    return out;
}

icu::UnicodeString unicode(const QString& s) {
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

} // namespace

// An empty reply would otherwise leave the progress line standing for good.
const QString TranslateModel::noTextCameBack = QStringLiteral("No text came back from the language model");

TranslateModel::Engine TranslateModel::Engine::local() {
    Engine e;
    e.translate = [](const QString& text, const std::optional<QString>& from, const QString& to,
                     const Callback& progress,
                     const Callback& partial) { return LocalLLM::translate(text, from, to, progress, partial); };
    e.prepare = [] {
        LocalLLM::ensureDownloaded();
        LocalLLM::startServer();
    };
    e.chat = [](const QString& system, const QString& user, int maxTokens, const Callback& partial) {
        return LocalLLM::chat(system, user, maxTokens, partial);
    };
    return e;
}

std::shared_ptr<TranslateModel> TranslateModel::make(const QString& text, Engine engine) {
    // The last owner may be a worker thread; the object itself goes on the main thread.
    std::shared_ptr<TranslateModel> model(new TranslateModel(text, std::move(engine)), [](TranslateModel* m) {
        if (QThread::currentThread() == m->thread())
            delete m;
        else
            m->deleteLater();
    });
    model->self = model;
    model->translate();
    return model;
}

TranslateModel::TranslateModel(const QString& input, Engine e)
    : engine(std::move(e)), statusText(QStringLiteral("Translating\u2026")), text(input) {
    favouriteList = favouriteLanguages();
    currentJob = QUuid::createUuid();
    detected = Language::detect(text);

    const std::optional<QString> sourceCode = detected ? detected->languageCode() : std::nullopt;
    const Language candidates[] = {defaultLanguage().value_or(Language(QStringLiteral("en"))),
                                   Language(QStringLiteral("en")), Language(QStringLiteral("de"))};
    Language chosen = candidates[0];
    for (const Language& candidate : candidates) {
        if (candidate.languageCode() != sourceCode) {
            chosen = candidate;
            break;
        }
    }
    currentTarget = canonical(chosen);
}

QString TranslateModel::sourceName() const {
    return detected ? detected->displayName() : QStringLiteral("Auto");
}

std::optional<QString> TranslateModel::sourceEnglishName() const {
    return detected ? std::optional<QString>(detected->englishName()) : std::nullopt;
}

TranslateModel::Callback TranslateModel::deliver(QUuid job, void (TranslateModel::*store)(const QString&)) {
    std::weak_ptr<TranslateModel> weak = self;
    return [weak, job, store](const QString& value) {
        Dispatch::main([weak, job, store, value] {
            const std::shared_ptr<TranslateModel> model = weak.lock();
            if (model && model->currentJob == job)
                (model.get()->*store)(value);
        });
    };
}

void TranslateModel::translate() {
    const QUuid job = QUuid::createUuid();
    currentJob = job;
    setFinished(false);
    setNote(QString());
    setStatus(QStringLiteral("Translating\u2026"));
    auto work = [model = self.lock(), run = engine.translate, input = text, from = sourceEnglishName(),
                 to = currentTarget.englishName(), progress = deliver(job, &TranslateModel::setStatus),
                 partial = deliver(job, &TranslateModel::setTranslation), job] {
        std::optional<LocalLLM::Translation> result;
        QString failure;
        QString stopped = QStringLiteral("The language model stopped before the end");
        try {
            result = run(input, from, to, progress, partial);
        } catch (const LocalLLM::Stopped& error) {
            failure = error.message;
            stopped = QStringLiteral("The language model stopped: %1 of %2 lines translated")
                          .arg(error.finished)
                          .arg(error.meant);
        } catch (const std::exception& error) {
            failure = messageOf(error);
        }
        Dispatch::main([model, job, result, failure, stopped] {
            if (model->currentJob != job)
                return;
            if (!result) {
                // The status shows only while nothing has come; what came before the failure is no finished
                // translation, and the note under it says so.
                model->setStatus(failure);
                if (!model->translated.isEmpty())
                    model->setNote(stopped);
            } else if (result->sent > 0 && result->empty == result->sent) {
                // Every piece the model was asked for came back empty: the text in hand is the original, and
                // shown as the result it would pass for a translation.
                model->setTranslation(QString());
                model->setStatus(noTextCameBack);
            } else {
                model->setTranslation(result->text);
                if (result->text.isEmpty())
                    model->setStatus(noTextCameBack);
                if (result->empty > 0)
                    model->setNote(QStringLiteral("Left untranslated: %1 of %2 lines (no text came back)")
                                       .arg(result->empty)
                                       .arg(result->sent));
            }
            model->setFinished(true);
        });
    };
    runDetached(std::move(work));
}

void TranslateModel::summarize() {
    if (!summarized.isEmpty() || summarizing)
        return;
    setBusy(true);
    const QUuid job = currentJob;
    auto work = [model = self.lock(), e = engine, input = text, to = currentTarget.englishName(),
                 progress = deliver(job, &TranslateModel::setStatus),
                 partial = deliver(job, &TranslateModel::setSummary), job] {
        LocalLLM::setProgressHandler(progress);
        if (const std::optional<QString> last = LocalLLM::lastProgress())
            progress(*last);
        QString outcome;
        try {
            e.prepare();
            LocalLLM::sendStatus(QStringLiteral("Summarizing\u2026"));
            outcome = e.chat(QStringLiteral("You summarize text. Reply in ") + to +
                                 QStringLiteral(" with 2\u20134 short plain sentences giving the gist. Keep names "
                                                "and numbers. No markdown, no preamble."),
                             input, 1024, partial);
            if (outcome.isEmpty())
                outcome = noTextCameBack;
        } catch (const std::exception& error) {
            outcome = messageOf(error);
        }
        Dispatch::main([model, job, outcome] {
            const bool current = model->currentJob == job;
            if (current)
                model->setSummary(outcome);
            model->setBusy(false);
            // The target changed while this ran: the new target's summary could not start then.
            if (!current && model->currentMode == Mode::summary && model->summarized.isEmpty())
                model->summarize();
        });
    };
    runDetached(std::move(work));
}

void TranslateModel::retranslate() {
    setTranslation(QString());
    setSummary(QString());
    translate();
    if (currentMode == Mode::summary)
        summarize();
}

void TranslateModel::setMode(Mode mode) {
    if (mode == currentMode)
        return;
    currentMode = mode;
    emit modeChanged();
    if (mode == Mode::summary)
        summarize();
}

void TranslateModel::setTarget(const Language& language) {
    if (language == currentTarget)
        return;
    currentTarget = language;
    emit targetChanged();
    remember(language);
    favouriteList = favouriteLanguages();
    emit favouritesChanged();
    retranslate();
}

void TranslateModel::setTranslation(const QString& value) {
    if (value == translated)
        return;
    translated = value;
    emit translationChanged();
}

void TranslateModel::setSummary(const QString& value) {
    if (value == summarized)
        return;
    summarized = value;
    emit summaryChanged();
}

void TranslateModel::setStatus(const QString& value) {
    if (value == statusText)
        return;
    statusText = value;
    emit statusChanged();
}

void TranslateModel::setNote(const QString& value) {
    if (value == noteText)
        return;
    noteText = value;
    emit noteChanged();
}

void TranslateModel::setBusy(bool value) {
    if (value == summarizing)
        return;
    summarizing = value;
    emit busyChanged();
}

void TranslateModel::setFinished(bool value) {
    if (value == translationEnded)
        return;
    translationEnded = value;
    emit finishedChanged();
}

// --- The language vocabulary ---

const QList<Language>& TranslateModel::languages() {
    static const QList<Language> list = [] {
        const char* table[] = {"en", "sv", "de", "fr",      "es",      "it", "pt", "nl", "da", "nb", "fi", "is",
                               "pl", "cs", "sk", "hu",      "ro",      "bg", "hr", "sr", "sl", "el", "ru", "uk",
                               "tr", "ar", "he", "fa",      "hi",      "bn", "ur", "ta", "th", "vi", "id", "ms",
                               "tl", "ja", "ko", "zh-Hans", "zh-Hant", "sw", "af", "et", "lv", "lt", "ca"};
        struct Named {
            Language language;
            icu::UnicodeString name;
        };
        QList<Named> named;
        for (const char* id : table) {
            Language language(QString::fromLatin1(id));
            named.append({language, unicode(language.displayName())});
        }
        UErrorCode status = U_ZERO_ERROR;
        const QByteArray locale = Language::userLocale().toUtf8();
        std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale(locale.constData()), status));
        if (U_SUCCESS(status)) {
            collator->setStrength(icu::Collator::SECONDARY);
            std::stable_sort(named.begin(), named.end(), [&](const Named& a, const Named& b) {
                UErrorCode s = U_ZERO_ERROR;
                return collator->compare(a.name, b.name, s) == UCOL_LESS;
            });
        }
        QList<Language> out;
        for (const Named& n : named)
            out.append(n.language);
        return out;
    }();
    return list;
}

Language TranslateModel::canonical(const Language& language) {
    for (const Language& entry : languages())
        if (entry.languageCode() == language.languageCode() && (!entry.script() || entry.script() == language.script()))
            return entry;
    return language;
}

QList<Language> TranslateModel::favouriteLanguages(const QStringList& preferred) {
    QList<Language> collected;
    if (const std::optional<Language> stored = defaultLanguage())
        collected.append(*stored);
    for (const QString& id : recentIdentifiers() + preferred + QStringList{QStringLiteral("en")}) {
        const Language language(id);
        // Something that is no language at all ("C", a damaged entry) cannot be named or translated into.
        if (language.valid())
            collected.append(language);
    }
    QList<Language> out;
    for (const Language& language : collected) {
        const Language entry = canonical(language);
        if (!out.contains(entry))
            out.append(entry);
        if (out.size() == 6)
            break;
    }
    return out;
}

void TranslateModel::remember(const Language& language) {
    QStringList recent = recentIdentifiers();
    recent.removeAll(language.minimalIdentifier());
    recent.prepend(language.minimalIdentifier());
    QVariantList stored;
    for (const QString& id : recent.mid(0, 4))
        stored.append(id);
    Defaults::standard().set(recentKey, stored);
}

std::optional<Language> TranslateModel::defaultLanguage() {
    const std::optional<QString> stored = Defaults::standard().string(defaultKey);
    if (!stored)
        return std::nullopt;
    const Language language(*stored);
    if (!language.valid())
        return std::nullopt;
    return language;
}

void TranslateModel::setDefaultLanguage(const std::optional<Language>& language) {
    if (language)
        Defaults::standard().set(defaultKey, language->minimalIdentifier());
    else
        Defaults::standard().remove(defaultKey);
}

bool TranslateModel::chooseDefault(bool firstTime) {
    LanguageChooser chooser(firstTime);
    chooser.adjustSize();
    // Where the user is looking: the middle of the screen under the pointer.
    if (const QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        chooser.move(screen->availableGeometry().center() - chooser.rect().center());
    chooser.show();
    chooser.raise();
    chooser.activateWindow();
    if (chooser.exec() != QDialog::Accepted)
        return false;
    const std::optional<Language> chosen = chooser.selected();
    if (!chosen)
        return false;
    setDefaultLanguage(chosen);
    return true;
}
