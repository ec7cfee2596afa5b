#pragma once
// Translation with the local model: the text is cut into paragraphs and lines, code-like words are
// hidden behind numbered placeholders, up to four pieces go to the model at once, replies that are empty,
// echo, run on or lose a placeholder are turned away, and the result keeps the text's own layout.

#include "text/LocalLLM.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>

namespace LocalLLM {

using TextCallback = std::function<void(const QString&)>;
// The chat call the pipeline makes; LocalLLM::chat outside tests.
using ChatCall = std::function<QString(const QString& system, const QString& user, int maxTokens,
                                       const TextCallback& partial, const std::atomic<bool>* cancel)>;

// One slot per piece and the paragraphs' piece indices; shared by all pieces of one call.
class Results {
public:
    Results(qsizetype pieces, QList<QList<int>> layout);
    void set(int index, const QString& text);
    // Paragraphs of non-empty slots, lines joined by one line feed, paragraphs by two.
    QString joined() const;

private:
    QStringList parts;
    const QList<QList<int>> layout;
    mutable std::mutex lock;
};

// The pieces of a text in document order, and per paragraph the indices of its pieces.
struct Pieces {
    QStringList pieces;
    QList<QList<int>> layout;
};
Pieces cut(const QString& text);

// A piece as sent: code-like words replaced by "[1]", "[2]", …
struct Masked {
    QString text;
    QStringList protectedWords;
    int naturalWords = 0;
};
Masked mask(const QString& piece);
// Puts the protected words back in one left-to-right pass; the piece itself when a placeholder is lost.
QString restore(const QString& chosen, const QStringList& protectedWords, const QString& piece);
// The reply when it passes, else the text as sent.
QString accept(const QString& reply, const QString& piece, const QString& sent);

// The twelve characters that make a word code-like.
const QSet<QChar>& codeish();
bool isNaturalText(const QString& text);
// Whether the two share their first 120 letters, ignoring case and everything but letters.
bool echoes(const QString& a, const QString& b);

QString systemPrompt(const std::optional<QString>& from, const QString& to);
QString userMessage(const std::optional<QString>& from, const QString& to, const QString& text);

// A finished translation, and how many pieces went to the model and how many of those came back empty
// (blank, or a reasoning block and nothing else): those stay in the text as they were, untranslated.
struct Translation {
    QString text;
    int sent = 0;
    int empty = 0;
};

// A translation that failed part way, with the failure's text: how many of the pieces meant for the model
// it had finished, and how many there were. What the model had sent of the others may already be shown.
class Stopped : public Failure {
public:
    Stopped(QString message, int finished, int meant) : Failure(std::move(message)), finished(finished), meant(meant) {}
    int finished;
    int meant;
};

// The pieces of the text through chat, at most four at a time, started in order. partial gets the
// whole running translation whenever a piece changes. The first failure cancels the other replies,
// waits for them and is thrown, as Stopped when it is a Failure. Blocks.
Translation translatePieces(const QString& text, const std::optional<QString>& from, const QString& to,
                            const TextCallback& partial, const ChatCall& chat);

// Installs and starts the runtime (status texts to progress, then "Translating…") and translates
// through the server. from and to are English language names. Blocks; throws Failure.
Translation translate(const QString& text, const std::optional<QString>& from, const QString& to,
                      const TextCallback& progress, const TextCallback& partial);

} // namespace LocalLLM
