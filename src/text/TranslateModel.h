#pragma once
// The state of one translate card: the text, its detected language, the target, the running or
// finished translation, the summary made on demand and a status line. It lives on the main
// thread; work runs on threads of its own and every result names the job that asked for it, so a
// change of target never shows a stale text. The static half is the language vocabulary: the
// target list, favourites, recent targets, the stored default and its chooser.

#include "text/Language.h"
#include "text/LocalLLMTranslate.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class TranslateModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QString translation READ translation NOTIFY translationChanged)
    Q_PROPERTY(QString summary READ summary NOTIFY summaryChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString note READ note NOTIFY noteChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool finished READ finished NOTIFY finishedChanged)
    Q_PROPERTY(Language target READ target WRITE setTarget NOTIFY targetChanged)
    Q_PROPERTY(QList<Language> favourites READ favourites NOTIFY favouritesChanged)

public:
    enum class Mode { translation, summary };
    Q_ENUM(Mode)

    using Callback = std::function<void(const QString&)>;
    // What the model asks of the language model; the local runtime outside tests. Every call
    // blocks and throws UserError; callbacks come on any thread.
    struct Engine {
        std::function<LocalLLM::Translation(const QString& text, const std::optional<QString>& from, const QString& to,
                                            const Callback& progress, const Callback& partial)>
            translate;
        // Installs and starts the runtime for a summary.
        std::function<void()> prepare;
        std::function<QString(const QString& system, const QString& user, int maxTokens, const Callback& partial)> chat;
        static Engine local();
    };

    // Detects the text's language, picks the target and starts translating.
    static std::shared_ptr<TranslateModel> make(const QString& text, Engine engine = Engine::local());

    Mode mode() const { return currentMode; }
    void setMode(Mode mode);
    QString translation() const { return translated; }
    QString summary() const { return summarized; }
    QString status() const { return statusText; }
    // Beside a finished translation: how many of its lines came back empty and stay untranslated, or, when the
    // model stopped part way, how many it translated; else empty.
    QString note() const { return noteText; }
    // The failure shown when nothing came back from the model.
    static const QString noTextCameBack;
    bool busy() const { return summarizing; }
    // The current translation has ended, with its result or with its failure in status.
    bool finished() const { return translationEnded; }
    QString input() const { return text; }
    std::optional<Language> source() const { return detected; }
    Language target() const { return currentTarget; }
    void setTarget(const Language& language);
    QList<Language> favourites() const { return favouriteList; }
    // "Auto" without a detected language.
    QString sourceName() const;
    std::optional<QString> sourceEnglishName() const;
    QUuid job() const { return currentJob; }

    // Makes the summary unless there is one or one is being made.
    void summarize();

    // --- The language vocabulary ---

    // The 47 targets, sorted by their names in the user's language.
    static const QList<Language>& languages();
    // The list's entry for the language (same language code; no script or the same script), else itself.
    static Language canonical(const Language& language);
    // The stored default, the recent targets, the preferred languages and English: canonical,
    // without repeats, at most six.
    static QList<Language> favouriteLanguages(const QStringList& preferred = Language::preferredLanguages());
    // Puts the language at the front of the recent targets (at most four).
    static void remember(const Language& language);
    static std::optional<Language> defaultLanguage();
    static void setDefaultLanguage(const std::optional<Language>& language);
    // Runs the modal chooser; true when the user confirmed a language, now the stored default.
    static bool chooseDefault(bool firstTime);

signals:
    void modeChanged();
    void translationChanged();
    void summaryChanged();
    void statusChanged();
    void noteChanged();
    void busyChanged();
    void finishedChanged();
    void targetChanged();
    void favouritesChanged();

private:
    TranslateModel(const QString& text, Engine engine);
    void translate();
    void retranslate();
    void setTranslation(const QString& value);
    void setSummary(const QString& value);
    void setStatus(const QString& value);
    void setNote(const QString& value);
    void setBusy(bool value);
    void setFinished(bool value);
    // A callback that hands its text to the main thread and stores it there while the job is current.
    Callback deliver(QUuid job, void (TranslateModel::*store)(const QString&));

    std::weak_ptr<TranslateModel> self;
    Engine engine;
    Mode currentMode = Mode::translation;
    QString translated;
    QString summarized;
    QString statusText;
    QString noteText;
    bool summarizing = false;
    bool translationEnded = false;
    QString text;
    std::optional<Language> detected;
    Language currentTarget;
    QList<Language> favouriteList;
    QUuid currentJob;
};
