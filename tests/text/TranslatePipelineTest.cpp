// The translation pipeline on a chat of the test's own: no server, no HTTP.

#include "text/LocalLLMTranslate.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

using namespace LocalLLM;

namespace {

QString sentText(const QString& user) {
    return user.mid(user.indexOf(QStringLiteral(":\n\n")) + 3);
}

// Answers every piece through reply and records what was sent.
struct Recorder {
    QStringList sent;
    QList<int> maxTokens;
    std::function<QString(const QString&)> reply = [](const QString& s) { return QStringLiteral("Xq ") + s; };
    std::mutex lock;

    QString run(const QString& text) { return runCounting(text).text; }
    Translation runCounting(const QString& text) {
        return translatePieces(
            text, QStringLiteral("English"), QStringLiteral("German"), {},
            [this](const QString&, const QString& user, int tokens, const TextCallback&, const std::atomic<bool>*) {
                std::lock_guard guard(lock);
                sent.append(sentText(user));
                maxTokens.append(tokens);
                return reply(sentText(user));
            });
    }
};

} // namespace

TEST(TranslatePipeline, KeepsParagraphsAndLinesInANormalisedLayout) {
    const char* cases[][3] = {
        {"", "", "0"},
        {" \n\n \t\n", "", "0"},
        {"12:30 — 4.5 %\n\n7 + 8", "12:30 — 4.5 %\n\n7 + 8", "0"},
        {"Good morning\n\n\nSee you", "Xq Good morning\n\nXq See you", "2"},
        {"Good morning\n\n\n\nSee you", "Xq Good morning\n\nXq See you", "2"},
        {"  one line\n   two line \n \n\tthree line", "Xq one line\nXq two line\nXq three line", "3"},
    };
    for (const auto& c : cases) {
        Recorder r;
        EXPECT_EQ(r.run(QString::fromUtf8(c[0])), QString::fromUtf8(c[1])) << c[0];
        EXPECT_EQ(r.sent.size(), QByteArray(c[2]).toInt()) << c[0];
    }
}

TEST(TranslatePipeline, LongPagesRightToLeftAndCjkComeBackWholeAndInOrder) {
    QStringList page;
    for (int i = 0; page.join(u'\n').size() < 20000; ++i)
        page.append(QStringLiteral("Line %1 of a long page with some words").arg(i));
    page.append(QStringLiteral("שלום עולם, מה שלומך היום"));
    page.append(QStringLiteral("这是一个测试句子"));
    Recorder r;
    const QString result = r.run(page.join(u'\n'));
    EXPECT_EQ(r.sent.size(), page.size());
    EXPECT_EQ(result, QStringLiteral("Xq ") + page.join(QStringLiteral("\nXq ")));
}

TEST(TranslatePipeline, SendsOnlyPiecesWithLettersAndEnoughNaturalWords) {
    const char* cases[][2] = {
        {"a 12 / 34", nullptr},
        {"ab 12 34", "ab 12 34"},
        {"x_y = call foo", nullptr},
        {"x_y = call foo bar", "[1] [2] call foo bar"},
        {"[1] a_b call foo bar", "[1] [1] call foo bar"},
    };
    for (const auto& c : cases) {
        Recorder r;
        r.run(QString::fromUtf8(c[0]));
        EXPECT_EQ(r.sent, c[1] ? QStringList{QString::fromUtf8(c[1])} : QStringList()) << c[0];
    }
    Recorder r;
    for (int length : {2, 600, 30})
        r.run(QString(length, QLatin1Char('w')));
    EXPECT_EQ(r.maxTokens, (QList<int>{48, 1024, 60}));
}

TEST(TranslatePipeline, RejectsEchoesOverlongAndMarkedReplies) {
    const QString piece = QStringLiteral("Twenty letters here!");
    const std::pair<QString, bool> cases[] = {
        {QString(100, QLatin1Char('z')), true},
        {QString(101, QLatin1Char('z')), false},
        {QStringLiteral("TWENTY-letters: here."), false},
        {QStringLiteral("Das ist NOT in German"), false},
        {QStringLiteral("The German Version is: x"), false},
        {QStringLiteral("Zwanzig Buchstaben hier!"), true},
    };
    for (const auto& [reply, kept] : cases) {
        Recorder r;
        r.reply = [&](const QString&) { return reply; };
        EXPECT_EQ(r.run(piece), kept ? reply : piece) << reply.toStdString();
    }
    // Only the first 120 letters count; case folds as Unicode has it (a final sigma too).
    const QString letters(130, QLatin1Char('a'));
    EXPECT_TRUE(echoes(letters + QStringLiteral("xyz"), QStringLiteral("A-") + letters));
    EXPECT_TRUE(echoes(QStringLiteral("ΣΊΣΥΦΟΣ"), QStringLiteral("σίσυφος")));
    EXPECT_FALSE(echoes(QStringLiteral("123"), QStringLiteral("123")));
}

TEST(TranslatePipeline, EmptyRepliesKeepTheirPiecesAndAreCounted) {
    // Two paragraphs, the second of a line sent and a line of numbers that is not. A blank reply, or one left
    // blank once its reasoning block is gone, keeps its piece.
    const QString text = QStringLiteral("Good morning\n\nSee you soon\n12:30");
    Recorder r;
    r.reply = [](const QString& s) { return s.startsWith(u'G') ? QString() : QStringLiteral(" \n\t"); };
    Translation done = r.runCounting(text);
    EXPECT_EQ(done.text, text);
    EXPECT_EQ(std::pair(done.sent, done.empty), std::pair(2, 2));
    r.reply = [](const QString& s) { return s.startsWith(u'S') ? QString() : QStringLiteral("Guten Morgen"); };
    done = r.runCounting(text);
    EXPECT_EQ(done.text, QStringLiteral("Guten Morgen\n\nSee you soon\n12:30"));
    EXPECT_EQ(std::pair(done.sent, done.empty), std::pair(2, 1));
    EXPECT_EQ(Recorder().runCounting(QStringLiteral("12:30 42")).sent, 0) << "nothing sent, nothing missing";
}

TEST(TranslatePipeline, PutsProtectedWordsBackOnceEach) {
    const QString piece = QStringLiteral("set a[2]=b and x_y please now");
    Recorder r;
    r.reply = [](const QString& s) { return QStringLiteral("Setze ") + s.mid(4); };
    EXPECT_EQ(r.run(piece), QStringLiteral("Setze a[2]=b and x_y please now"));
    EXPECT_EQ(r.sent.first(), QStringLiteral("set [1] and [2] please now"));
    // A lost placeholder or an empty reply leaves the piece as it was.
    for (const QString& reply : {QStringLiteral("Setze [1] bitte jetzt"), QString()}) {
        r.reply = [&](const QString&) { return reply; };
        EXPECT_EQ(r.run(piece), piece);
    }
    // A piece answered with nothing, or with blanks, stays as it was, in its place among the translated ones.
    for (const QString& nothing : {QString(), QStringLiteral(" \n ")}) {
        r.reply = [&](const QString& s) { return s.startsWith(u'b') ? nothing : QStringLiteral("Xq ") + s; };
        EXPECT_EQ(r.run(QStringLiteral("ab cd\nbb cd\n\nbc de\n\ncd ef")),
                  QStringLiteral("Xq ab cd\nbb cd\n\nbc de\n\nXq cd ef"));
    }
    // A literal "[1]" takes the first protected word too, even from a refused reply.
    r.reply = [](const QString& s) { return s; };
    EXPECT_EQ(r.run(QStringLiteral("[1] a_b call foo bar")), QStringLiteral("a_b a_b call foo bar"));
}

namespace {

// Holds every request until the test lets it go; counts how many wait at once.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    QStringList started;
    QSet<QString> released;
    int running = 0, most = 0;
    QString failOn;

    QString operator()(const QString&, const QString& user, int, const TextCallback& partial,
                       const std::atomic<bool>* cancel) {
        const QString piece = sentText(user);
        partial(QStringLiteral("…"));
        std::unique_lock guard(lock);
        started.append(piece);
        most = std::max(most, ++running);
        changed.notify_all();
        // The pipeline raises the cancel flag without a word to us: look at it now and then, as the real
        // chat does between reads.
        while (!(released.contains(piece) || *cancel || piece == failOn))
            changed.wait_for(guard, std::chrono::milliseconds(10));
        --running;
        if (piece == failOn || *cancel)
            throw Failure(piece == failOn ? QStringLiteral("Model error (500)") : QStringLiteral("Cancelled"));
        return QStringLiteral("Xq ") + piece;
    }
    bool waitStarted(qsizetype n) {
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

TEST(TranslatePipeline, RunsFourPiecesAtOnceAndKeepsDocumentOrder) {
    Gate gate;
    QString result;
    std::thread call(
        [&] { result = translatePieces(sixLines, std::nullopt, QStringLiteral("German"), {}, std::ref(gate)).text; });
    ASSERT_TRUE(gate.waitStarted(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(gate.started.size(), 4) << "the fifth waits for one of the first four";
    gate.release(QStringLiteral("line dd"));
    ASSERT_TRUE(gate.waitStarted(5));
    EXPECT_EQ(gate.started.last(), QStringLiteral("line ee"));
    for (const QString& piece : sixLines.split(QLatin1Char('\n')))
        gate.release(piece);
    call.join();
    EXPECT_EQ(gate.most, 4);
    EXPECT_EQ(result, QStringLiteral("Xq line aa\nXq line bb\nXq line cc\nXq line dd\nXq line ee\nXq line ff"));
}

TEST(TranslatePipeline, FirstFailureCancelsTheOthersAndIsThrown) {
    Gate gate;
    gate.failOn = QStringLiteral("line cc");
    bool failed = false;
    try {
        translatePieces(sixLines, std::nullopt, QStringLiteral("German"), {}, std::ref(gate));
    } catch (const Stopped& failure) {
        failed = true;
        EXPECT_EQ(failure.message, QStringLiteral("Model error (500)"));
        EXPECT_EQ(std::pair(failure.finished, failure.meant), std::pair(0, 6));
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(gate.running, 0);
    EXPECT_LE(gate.started.size(), 4) << "no piece starts after the failure";

    // The server ends while it streams the second line: what came is shown, and the failure says how far the
    // translation got, counting only the lines meant for the model.
    std::mutex lock;
    QString shown;
    const auto seen = [&] {
        std::lock_guard guard(lock);
        return shown;
    };
    try {
        translatePieces(
            QStringLiteral("Notes on the week\n12:30\nThe slow fox"), std::nullopt, QStringLiteral("German"),
            [&](const QString& running) {
                std::lock_guard guard(lock);
                shown = running;
            },
            [&](const QString&, const QString& user, int, const TextCallback& partial, const std::atomic<bool>*) {
                if (!sentText(user).startsWith(u'T'))
                    return QStringLiteral("DE: ") + sentText(user);
                for (int i = 0; i < 500 && !seen().startsWith(QStringLiteral("DE: Notes on the week\n12:30")); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                partial(QStringLiteral("DE: THE SLOW"));
                throw Failure(QStringLiteral("Connection closed before the end"));
            });
        ADD_FAILURE() << "a stream cut short passed for a finished translation";
    } catch (const Stopped& failure) {
        EXPECT_EQ(failure.message, QStringLiteral("Connection closed before the end"));
        EXPECT_EQ(std::pair(failure.finished, failure.meant), std::pair(1, 2));
    }
    EXPECT_EQ(shown, QStringLiteral("DE: Notes on the week\n12:30\nDE: THE SLOW"));
}
