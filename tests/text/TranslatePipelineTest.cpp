// The translation pipeline on a chat of the test's own: no server, no HTTP.

#include "text/LocalLLMTranslate.h"

#include <QRegularExpression>

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace LocalLLM;

namespace {

// The text after the user message's header.
QString sentText(const QString& user) {
    return user.mid(user.indexOf(QStringLiteral(":\n\n")) + 3);
}

struct Recorder {
    std::mutex lock;
    QStringList sent;
    QList<int> maxTokens;
    std::function<QString(const QString&)> reply = [](const QString& s) { return QStringLiteral("Xq ") + s; };

    ChatCall chat() {
        return [this](const QString&, const QString& user, int tokens, const TextCallback&, const std::atomic<bool>*) {
            std::lock_guard guard(lock);
            sent.append(sentText(user));
            maxTokens.append(tokens);
            return reply(sentText(user));
        };
    }
};

QString run(const QString& text, Recorder& r) {
    return translatePieces(text, QStringLiteral("English"), QStringLiteral("German"), {}, r.chat());
}

} // namespace

TEST(TranslatePipeline, KeepsParagraphsAndLinesInANormalisedLayout) {
    struct Case {
        const char* text;
        const char* result;
        int requests;
    } cases[] = {
        {"", "", 0},
        {" \n\n \t\n", "", 0},
        {"12:30 — 4.5 %\n\n7 + 8", "12:30 — 4.5 %\n\n7 + 8", 0},
        {"Good morning\n\n\nSee you", "Xq Good morning\n\nXq See you", 2},
        {"Good morning\n\n\n\nSee you", "Xq Good morning\n\nXq See you", 2},
        {"  one line\n   two line \n \n\tthree line", "Xq one line\nXq two line\nXq three line", 3},
        {"only paragraph  ", "Xq only paragraph", 1},
    };
    for (const Case& c : cases) {
        Recorder r;
        EXPECT_EQ(run(QString::fromUtf8(c.text), r), QString::fromUtf8(c.result)) << c.text;
        EXPECT_EQ(r.sent.size(), c.requests) << c.text;
    }
}

TEST(TranslatePipeline, SendsOnlyPiecesWithLettersAndEnoughWords) {
    struct Case {
        const char* piece;
        bool sent;
        const char* as;
    } cases[] = {
        {"a 12 / 34", false, ""},
        {"ab 12 34", true, "ab 12 34"},
        {"x_y = call foo", false, ""},
        {"x_y = call foo bar", true, "[1] [2] call foo bar"},
        {"[1] a_b call foo bar", true, "[1] [1] call foo bar"},
    };
    for (const Case& c : cases) {
        Recorder r;
        run(QString::fromUtf8(c.piece), r);
        ASSERT_EQ(r.sent.size(), c.sent ? 1 : 0) << c.piece;
        if (c.sent) {
            EXPECT_EQ(r.sent.first(), QString::fromUtf8(c.as));
        }
    }
    Recorder r;
    run(QStringLiteral("ab"), r);
    run(QString(600, QLatin1Char('w')), r);
    run(QString(20, QLatin1Char('w')), r);
    EXPECT_EQ(r.maxTokens, (QList<int>{48, 1024, 48}));
}

TEST(TranslatePipeline, RejectsEchoesOverlongAndMarkedReplies) {
    const QString piece = QStringLiteral("Twenty letters here!"); // 20 characters
    ASSERT_EQ(piece.size(), 20);
    struct Case {
        QString reply;
        bool kept;
    } cases[] = {
        {QString(100, QLatin1Char('z')), true},
        {QString(101, QLatin1Char('z')), false},
        {QStringLiteral("TWENTY-letters: here."), false},
        {QStringLiteral("Das ist NOT in German"), false},
        {QStringLiteral("The German Version is: x"), false},
        {QStringLiteral("Zwanzig Buchstaben hier!"), true},
    };
    for (const Case& c : cases) {
        Recorder r;
        r.reply = [&](const QString&) { return c.reply; };
        EXPECT_EQ(run(piece, r), c.kept ? c.reply : piece) << c.reply.toStdString();
    }
    // Letters only, case folded, first 120: a tail that differs still echoes.
    const QString long120 = QString(130, QLatin1Char('a'));
    EXPECT_TRUE(echoes(long120 + QStringLiteral("xyz"), QStringLiteral("A-") + long120));
    EXPECT_FALSE(echoes(QStringLiteral("123"), QStringLiteral("123")));
    EXPECT_TRUE(echoes(QStringLiteral("ΣΊΣΥΦΟΣ"), QStringLiteral("σίσυφος")));
}

TEST(TranslatePipeline, PutsProtectedWordsBackOnceEach) {
    const QString piece = QStringLiteral("set a[2]=b and x_y please now");
    Recorder r;
    r.reply = [](const QString& s) { return QStringLiteral("Setze ") + s.mid(4); };
    EXPECT_EQ(run(piece, r), QStringLiteral("Setze a[2]=b and x_y please now"));
    ASSERT_EQ(r.sent.first(), QStringLiteral("set [1] and [2] please now"));

    // A lost placeholder leaves the piece untranslated; so does an empty reply.
    r.reply = [](const QString&) { return QStringLiteral("Setze [1] bitte jetzt"); };
    EXPECT_EQ(run(piece, r), piece);
    r.reply = [](const QString&) { return QString(); };
    EXPECT_EQ(run(piece, r), piece);
    // A plain piece with an empty reply disappears with its paragraph.
    EXPECT_EQ(run(QStringLiteral("Hello there\n\nsecond one"), r), QString());

    // A literal "[1]" in the piece also takes the first protected word, even when the reply is refused.
    r.reply = [](const QString& s) { return s; };
    EXPECT_EQ(run(QStringLiteral("[1] a_b call foo bar"), r), QStringLiteral("a_b a_b call foo bar"));
    EXPECT_EQ(restore(QStringLiteral("[3] [1] [2]"), {QStringLiteral("p"), QStringLiteral("q")}, QStringLiteral("P")),
              QStringLiteral("[3] p q"));
}

TEST(TranslatePipeline, PromptsNameBothLanguagesOrOnlyTheTarget) {
    EXPECT_EQ(systemPrompt(QStringLiteral("English"), QStringLiteral("German")),
              QStringLiteral("You are a professional from English to German translator. Translate everything the "
                             "user sends from English into fluent, natural German. Keep line breaks, names, numbers "
                             "and formatting. Reply with the German translation only \u2014 never repeat the "
                             "original, never explain."));
    EXPECT_TRUE(systemPrompt(std::nullopt, QStringLiteral("French"))
                    .startsWith(QStringLiteral("You are a professional to French translator. Translate everything "
                                               "the user sends into fluent")));
    EXPECT_EQ(userMessage(std::nullopt, QStringLiteral("French"), QStringLiteral("hi")),
              QStringLiteral("Translate into French:\n\nhi"));
}

namespace {

// Holds every request until the test lets it go; counts how many wait at once.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    QStringList started;
    QSet<QString> released;
    int running = 0;
    int most = 0;
    QString failOn;

    ChatCall chat() {
        return [this](const QString&, const QString& user, int, const TextCallback& partial,
                      const std::atomic<bool>* cancel) {
            const QString piece = sentText(user);
            std::unique_lock guard(lock);
            started.append(piece);
            most = std::max(most, ++running);
            changed.notify_all();
            guard.unlock();
            partial(QStringLiteral("…"));
            guard.lock();
            changed.wait(guard, [&] { return released.contains(piece) || *cancel || piece == failOn; });
            --running;
            changed.notify_all();
            if (piece == failOn)
                throw Failure(QStringLiteral("Model error (500)"));
            if (*cancel)
                throw Failure(QStringLiteral("Cancelled"));
            return QStringLiteral("Xq ") + piece;
        };
    }
    bool waitStarted(int n) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(5), [&] { return started.size() >= n; });
    }
    void release(const QString& piece) {
        std::lock_guard guard(lock);
        released.insert(piece);
        changed.notify_all();
    }
};

const QString sixLines = QStringLiteral("line aa\nline bb\nline cc\nline dd\nline ee\nline ff");

} // namespace

TEST(TranslatePipeline, RunsFourPiecesAtOnceInOrderAndKeepsDocumentOrder) {
    Gate gate;
    QString result;
    std::thread call(
        [&] { result = translatePieces(sixLines, std::nullopt, QStringLiteral("German"), {}, gate.chat()); });
    ASSERT_TRUE(gate.waitStarted(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard guard(gate.lock);
        QStringList first = gate.started;
        first.sort();
        EXPECT_EQ(first, QStringList({QStringLiteral("line aa"), QStringLiteral("line bb"), QStringLiteral("line cc"),
                                      QStringLiteral("line dd")}));
    }
    // The last of the four finishes first: the fifth starts, then the sixth when another ends.
    gate.release(QStringLiteral("line dd"));
    ASSERT_TRUE(gate.waitStarted(5));
    gate.release(QStringLiteral("line bb"));
    ASSERT_TRUE(gate.waitStarted(6));
    for (const QString& piece : sixLines.split(QLatin1Char('\n')))
        gate.release(piece);
    call.join();
    EXPECT_EQ(gate.most, 4);
    EXPECT_EQ(gate.started.mid(4), QStringList({QStringLiteral("line ee"), QStringLiteral("line ff")}));
    EXPECT_EQ(result, QStringLiteral("Xq line aa\nXq line bb\nXq line cc\nXq line dd\nXq line ee\nXq line ff"));
}

TEST(TranslatePipeline, FirstFailureCancelsTheOthersAndIsThrown) {
    Gate gate;
    gate.failOn = QStringLiteral("line cc");
    std::atomic<int> partials{0};
    std::atomic<bool> afterFailure{false};
    QString message;
    std::thread call([&] {
        try {
            translatePieces(
                sixLines, std::nullopt, QStringLiteral("German"), [&](const QString&) { ++partials; }, gate.chat());
        } catch (const Failure& failure) {
            message = failure.message;
        }
        afterFailure = true;
    });
    call.join();
    EXPECT_EQ(message, QStringLiteral("Model error (500)"));
    EXPECT_EQ(gate.running, 0);
    EXPECT_LE(gate.started.size(), 4) << "no piece starts after the failure";
    EXPECT_TRUE(afterFailure);
}
