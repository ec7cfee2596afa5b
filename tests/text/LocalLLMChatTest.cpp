#include "text/ChatReply.h"
#include "text/LineReader.h"
#include "text/LlmFakes.h"
#include "text/LocalLLM.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace LlmFakes;

TEST(LocalLLMChat, LinesSurviveAnySplitAndCarriageReturns) {
    const QByteArray stream = "data: one\r\n\r\ndata: two\n: note\r\ndata: [DONE]\n";
    const QList<QByteArray> expected{"data: one", "", "data: two", ": note", "data: [DONE]"};
    for (int cut = 0; cut <= stream.size(); ++cut) {
        for (int second = cut; second <= stream.size(); second += 3) {
            LineReader reader;
            QList<QByteArray> lines = reader.push(stream.left(cut));
            lines += reader.push(stream.mid(cut, second - cut));
            lines += reader.push(stream.mid(second));
            ASSERT_EQ(lines, expected) << cut << " " << second;
            EXPECT_TRUE(reader.rest().isEmpty());
        }
    }
}

TEST(LocalLLMChat, ALineLongerThanTheBoundStopsTheReader) {
    // However the endless line arrives, the reader gives it up once it passes the bound.
    for (int piece : {1, 7, 64, 1000}) {
        LineReader reader(100);
        QList<QByteArray> lines = reader.push("data: short\n");
        const QByteArray endless(1000, 'x');
        for (qsizetype at = 0; at < endless.size(); at += piece)
            lines += reader.push(endless.mid(at, piece));
        lines += reader.push("\ndata: after\n");
        EXPECT_TRUE(reader.overflowed()) << piece;
        EXPECT_EQ(lines, QList<QByteArray>{"data: short"}) << piece;
        EXPECT_TRUE(reader.rest().isEmpty());
    }
    LineReader exact(10);
    EXPECT_EQ(exact.push("0123456789\r\n"), QList<QByteArray>{"0123456789"});
    EXPECT_FALSE(exact.overflowed());
}

TEST(LocalLLMChat, ReportsTheFirstIncrementAtOnceThenAtMostEveryInterval) {
    // Increments 50 ms apart: the first at once, then one about every 100 ms.
    ChatReply timed(80);
    QList<qint64> reports;
    for (qint64 now = 1000; now <= 1500; now += 50)
        if (timed.partialDue(now))
            reports.append(now);
    EXPECT_EQ(reports, (QList<qint64>{1000, 1100, 1200, 1300, 1400, 1500}));
}

TEST(LocalLLMChat, TheFinalTextLosesItsBlanksAndItsFirstReasoningBlock) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("<think>\nline one\nline two\n</think>\n\nHallo"), QStringLiteral("Hallo")},
        {QStringLiteral(" <think>a</think> x <think>b</think> "), QStringLiteral("x <think>b</think>")},
        {QStringLiteral("<think>never closed\nword"), QStringLiteral("<think>never closed\nword")},
        {QStringLiteral("\n\n"), QString()},
    };
    for (const auto& [raw, clean] : cases)
        EXPECT_EQ(ChatReply::clean(raw), clean) << raw.toStdString();
}

namespace {

// The stand-in server, started directly with a script.
struct Running {
    QTemporaryDir tmp;
    LocalLLM::Config config = testConfig(tmp.path());
    QProcess process;

    explicit Running(const QByteArray& script) {
        const QString model = tmp.path() + QStringLiteral("/model.gguf");
        writeFile(model, script);
        LocalLLM::setConfig(config);
        process.start(QStringLiteral(FAKE_LLAMA_SERVER),
                      {QStringLiteral("-m"), model, QStringLiteral("--port"), QString::number(config.port)});
        process.waitForStarted();
        for (int i = 0; i < 100 && !LocalLLM::healthy(); ++i)
            QThread::msleep(20);
    }
    ~Running() {
        process.terminate();
        process.waitForFinished(3000);
    }
};

struct Outcome {
    QString text;
    QString failure;
    QStringList partials;
};

Outcome chat(const std::atomic<bool>* cancel = nullptr, std::function<void()> onPartial = {}) {
    Outcome out;
    out.failure = failureOf([&] {
        out.text = LocalLLM::chat(
            QStringLiteral("Translate."), QStringLiteral("Hallo"), 64,
            [&](const QString& text) {
                out.partials.append(text);
                if (onPartial)
                    onPartial();
            },
            cancel);
    });
    return out;
}

} // namespace

TEST(LocalLLMChat, StreamsTheReplyFromTheServer) {
    struct Case {
        QByteArray script;
        QString text;
        QString failure;
    } cases[] = {
        {"chunks=Hel|lo| world\n", QStringLiteral("Hello world")},
        {"chunks=Hel|lo\nthink\nnoise\n", QStringLiteral("Hello")},
        {"chunks=\n", QString()},
        {"status=503\nmessage=Loading model\n", {}, QStringLiteral("Model error (503): Loading model")},
        {"status=500\nmessage=\n", {}, QStringLiteral("Model error (500)")},
        // The real server's way of refusing a request once the reply has begun.
        {"chunks=a|b|c\nerror_after=1\n",
         {},
         QStringLiteral("Model error (400): the request exceeds the available context size, try increasing it")},
        {"chunks=a|b\nno_done\nclose\n", QStringLiteral("ab")},
        {"chunks=a|b\nno_done\n", QStringLiteral("ab")},
        // Cut mid-stream: an error, or what came before the cut, never the whole text.
        {"chunks=a|b|c\ndrop_after=2\n", QStringLiteral("*"), QStringLiteral("*")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.constData());
        Running server(c.script);
        const Outcome out = chat();
        if (c.failure == QLatin1String("*")) {
            EXPECT_TRUE(out.failure.isEmpty() ? out.text == QLatin1String("ab") : out.text.isEmpty());
        } else {
            EXPECT_EQ(out.failure, c.failure);
            EXPECT_EQ(out.text, c.text);
        }
    }
    // Nobody listening: the transport's own reason.
    LocalLLM::Config closed = LocalLLM::config();
    closed.port = freePort();
    LocalLLM::setConfig(closed);
    EXPECT_EQ(chat().failure, QStringLiteral("Connection refused"));
}

TEST(LocalLLMChat, PartialsCarryTheRawTextAndACancelEndsTheReply) {
    {
        Running server("think\nchunks=Hal|lo\n");
        const Outcome out = chat();
        ASSERT_FALSE(out.partials.isEmpty());
        EXPECT_TRUE(out.partials.first().startsWith(QStringLiteral("<think>")));
        EXPECT_EQ(out.text, QStringLiteral("Hallo"));
    }
    {
        Running server("chunks=a|b|c|d|e|f|g|h\ndelay_ms=300\n");
        std::atomic<bool> cancel{false};
        const Outcome out = chat(&cancel, [&] { cancel = true; });
        EXPECT_EQ(out.failure, QStringLiteral("Cancelled"));
        EXPECT_EQ(out.partials, QStringList{QStringLiteral("a")});
    }
}

TEST(LocalLLMChat, AServerThatStallsOrRunsOnIsStoppedWithAMessage) {
    struct Case {
        QByteArray script;
        QString failure;
    } cases[] = {
        {"stall\n", QStringLiteral("The language model gave no answer for 1 s")},
        // Many short lines that add up past the bound for a whole reply.
        {"chunks=" + QByteArray(2000, 'y') + "|" + QByteArray(2000, 'y') + "|" + QByteArray(2000, 'y') + "\n",
         QStringLiteral("The language model's reply was too long")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.left(20).constData());
        Running server(c.script);
        LocalLLM::Config bounded = server.config;
        bounded.chatStallMs = 1000;
        bounded.maxLineBytes = 64 * 1024;
        bounded.maxReplyBytes = 5000;
        LocalLLM::setConfig(bounded);
        EXPECT_EQ(chat().failure, c.failure);
    }
}
