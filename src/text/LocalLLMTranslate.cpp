#include "text/LocalLLMTranslate.h"

#include "text/Graphemes.h"

#include <QRegularExpression>

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace LocalLLM {

namespace {

// The server runs four slots; more requests would only queue there.
constexpr int inFlight = 4;

bool isLineEnd(QChar c) {
    const char16_t u = c.unicode();
    return u == u'\n' || u == 0x0B || u == 0x0C || u == u'\r' || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isBlank(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

template <typename Pred> QString trim(const QString& s, Pred drop) {
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && drop(s.at(from)))
        ++from;
    while (to > from && drop(s.at(to - 1)))
        --to;
    return s.mid(from, to - from);
}

QString sourcePart(const std::optional<QString>& from) {
    return from ? QStringLiteral("from ") + *from + QLatin1Char(' ') : QString();
}

bool holdsCodeish(const QString& word) {
    return std::any_of(word.cbegin(), word.cend(), [](QChar c) { return codeish().contains(c); });
}

} // namespace

Results::Results(qsizetype pieces, QList<QList<int>> paragraphs) : layout(std::move(paragraphs)) {
    parts.resize(pieces);
}

void Results::set(int index, const QString& text) {
    std::lock_guard guard(lock);
    parts[index] = text;
}

QString Results::joined() const {
    std::lock_guard guard(lock);
    QStringList paragraphs;
    for (const QList<int>& paragraph : layout) {
        QStringList lines;
        for (int index : paragraph)
            if (!parts.at(index).isEmpty())
                lines.append(parts.at(index));
        if (!lines.isEmpty())
            paragraphs.append(lines.join(QLatin1Char('\n')));
    }
    return paragraphs.join(QStringLiteral("\n\n"));
}

Pieces cut(const QString& text) {
    Pieces out;
    const auto whitespace = [](QChar c) { return isBlank(c) || isLineEnd(c); };
    for (const QString& part : text.split(QStringLiteral("\n\n"))) {
        const QString paragraph = trim(part, whitespace);
        if (paragraph.isEmpty())
            continue;
        QStringList lines;
        for (const QString& line : paragraph.split(QLatin1Char('\n'))) {
            const QString trimmed = trim(line, isBlank);
            if (!trimmed.isEmpty())
                lines.append(trimmed);
        }
        if (lines.size() < 2)
            lines = QStringList{paragraph};
        QList<int> indices;
        for (const QString& line : lines) {
            indices.append(int(out.pieces.size()));
            out.pieces.append(line);
        }
        out.layout.append(indices);
    }
    return out;
}

const QSet<QChar>& codeish() {
    static const QSet<QChar> set = [] {
        QSet<QChar> s;
        for (QChar c : QStringLiteral("/_\\{}=<>$%|~"))
            s.insert(c);
        return s;
    }();
    return set;
}

bool isNaturalText(const QString& text) {
    return !holdsCodeish(text);
}

bool echoes(const QString& a, const QString& b) {
    const QString x = Graphemes::letters(Graphemes::lower(a));
    const QString y = Graphemes::letters(Graphemes::lower(b));
    if (x.isEmpty() || y.isEmpty())
        return false;
    return Graphemes::left(x, 120) == Graphemes::left(y, 120);
}

Masked mask(const QString& piece) {
    Masked out;
    QStringList words = piece.split(QLatin1Char(' '));
    for (QString& word : words) {
        if (holdsCodeish(word)) {
            out.protectedWords.append(word);
            word = QLatin1Char('[') + QString::number(out.protectedWords.size()) + QLatin1Char(']');
        } else if (!word.startsWith(QLatin1Char('[')) && Graphemes::letterCount(word) > 0) {
            ++out.naturalWords;
        }
    }
    out.text = words.join(QLatin1Char(' '));
    return out;
}

QString restore(const QString& chosen, const QStringList& protectedWords, const QString& piece) {
    if (protectedWords.isEmpty())
        return chosen;
    for (qsizetype n = 1; n <= protectedWords.size(); ++n)
        if (!chosen.contains(QLatin1Char('[') + QString::number(n) + QLatin1Char(']')))
            return piece;
    // One pass, so that a restored word holding "[2]" is never read as a placeholder itself.
    static const QRegularExpression placeholder(QStringLiteral("\\[([1-9][0-9]{0,8})\\]"));
    QString out;
    qsizetype at = 0;
    for (auto it = placeholder.globalMatch(chosen); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype n = m.captured(1).toLongLong();
        if (n < 1 || n > protectedWords.size())
            continue;
        out += QStringView(chosen).mid(at, m.capturedStart() - at);
        out += protectedWords.at(n - 1);
        at = m.capturedEnd();
    }
    out += QStringView(chosen).mid(at);
    return out;
}

QString accept(const QString& reply, const QString& piece, const QString& sent) {
    // A reply of nothing would drop the piece from the result while the translation looks whole.
    if (reply.trimmed().isEmpty())
        return sent;
    if (echoes(reply, piece))
        return sent;
    if (Graphemes::count(reply) > 3 * Graphemes::count(piece) + 40)
        return sent;
    if (reply.contains(QStringLiteral("NOT in")))
        return sent;
    if (Graphemes::lower(reply).contains(QStringLiteral(" version is:")))
        return sent;
    return reply;
}

QString systemPrompt(const std::optional<QString>& from, const QString& to) {
    const QString f = sourcePart(from);
    return QStringLiteral("You are a professional ") + f + QStringLiteral("to ") + to +
           QStringLiteral(" translator. Translate everything the user sends ") + f +
           QStringLiteral("into fluent, natural ") + to +
           QStringLiteral(". Keep line breaks, names, numbers and "
                          "formatting. Reply with the ") +
           to + QStringLiteral(" translation only \u2014 never repeat the original, never explain.");
}

QString userMessage(const std::optional<QString>& from, const QString& to, const QString& text) {
    return QStringLiteral("Translate ") + sourcePart(from) + QStringLiteral("into ") + to + QStringLiteral(":\n\n") +
           text;
}

Translation translatePieces(const QString& text, const std::optional<QString>& from, const QString& to,
                            const TextCallback& partial, const ChatCall& chat) {
    const Pieces pieces = cut(text);
    Results results(pieces.pieces.size(), pieces.layout);
    const QString system = systemPrompt(from, to);
    std::atomic<bool> cancel{false};
    std::atomic<int> sentCount{0}, emptyCount{0};
    // Once a piece has failed the call delivers nothing more.
    const auto report = [&] {
        if (partial && !cancel)
            partial(results.joined());
    };

    // What goes to the model for each piece: the piece, or its code-like words hidden; nothing for a piece
    // without enough words to translate, which stays as it is.
    std::vector<std::optional<Masked>> toSend(pieces.pieces.size());
    int meant = 0;
    for (qsizetype i = 0; i < pieces.pieces.size(); ++i) {
        const QString& piece = pieces.pieces.at(i);
        if (Graphemes::letterCount(piece) < 2)
            continue;
        Masked sent{piece, {}, 0};
        if (!isNaturalText(piece)) {
            sent = mask(piece);
            if (sent.protectedWords.isEmpty() || sent.naturalWords < 3)
                continue;
        }
        toSend[i] = sent;
        ++meant;
    }
    std::atomic<int> finishedCount{0};

    const auto process = [&](int i) {
        const QString& piece = pieces.pieces.at(i);
        if (!toSend[i]) {
            results.set(i, piece);
            report();
            return;
        }
        const Masked& sent = *toSend[i];
        const int maxTokens = int(std::clamp<qsizetype>(2 * Graphemes::count(piece), 48, 1024));
        ++sentCount;
        const QString reply = chat(
            system, userMessage(from, to, sent.text), maxTokens,
            [&, i](const QString& running) {
                results.set(i, running);
                report();
            },
            &cancel);
        // The piece stays as it was; the caller hears how many did, so that the original is not taken for a
        // translation.
        if (reply.trimmed().isEmpty())
            ++emptyCount;
        results.set(i, restore(accept(reply, piece, sent.text), sent.protectedWords, piece));
        ++finishedCount;
        report();
    };

    // Each worker takes the next piece in order, so pieces start in order and at most four run.
    std::mutex lock;
    int next = 0;
    std::exception_ptr failure;
    const auto worker = [&] {
        for (;;) {
            int i = 0;
            {
                std::lock_guard guard(lock);
                if (failure || next >= pieces.pieces.size())
                    return;
                i = next++;
            }
            try {
                process(i);
            } catch (...) {
                std::lock_guard guard(lock);
                if (!failure)
                    failure = std::current_exception();
                cancel = true;
                return;
            }
        }
    };
    std::vector<std::thread> workers;
    const int count = int(std::min<qsizetype>(inFlight, pieces.pieces.size()));
    for (int k = 0; k < count; ++k)
        workers.emplace_back(worker);
    for (std::thread& t : workers)
        t.join();
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const Stopped&) {
            throw;
        } catch (const Failure& first) {
            throw Stopped(first.message, finishedCount, meant);
        }
    }
    return Translation{results.joined(), sentCount, emptyCount};
}

Translation translate(const QString& text, const std::optional<QString>& from, const QString& to,
                      const TextCallback& progress, const TextCallback& partial) {
    setProgressHandler(progress);
    if (const std::optional<QString> last = lastProgress(); last && progress)
        progress(*last);
    ensureDownloaded();
    startServer();
    sendStatus(QStringLiteral("Translating\u2026"));
    return translatePieces(
        text, from, to, partial,
        [](const QString& system, const QString& user, int maxTokens, const TextCallback& running,
           const std::atomic<bool>* cancel) { return chat(system, user, maxTokens, running, cancel); });
}

} // namespace LocalLLM
