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
        {"status=500\n", {}, QStringLiteral("Model error (500)")},
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
