// The language model's runtime against servers and installs that misbehave: another program on the
// port, a runaway reply, a long translation read while it streams, and an engine archive refused.

#include "Desktop.h"
#include "text/TextVision.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QTcpServer>

#include <csignal>
#include <gtest/gtest.h>

namespace {

QStringList lines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The most memory a process has held, in kB.
qint64 peakMemory(qint64 pid) {
    for (const QString& line : lines(QStringLiteral("/proc/%1/status").arg(pid)))
        if (line.startsWith(QStringLiteral("VmHWM:")))
            return line.section(u' ', 1, -1, QString::SectionSkipEmpty).section(u' ', 0, 0).toLongLong();
    return -1;
}

// What the translate host's card shows, from its log.
struct Card {
    QString log;

    QJsonObject state() const {
        QJsonObject last;
        for (const QString& line : lines(log))
            if (line.startsWith(QStringLiteral("state ")))
                last = QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
        return last;
    }
    QString shown() const { return state()[QStringLiteral("shown")].toString(); }
    QPoint place(const char* name) const {
        for (const QString& line : lines(log))
            if (line.startsWith(QStringLiteral("place ") + QLatin1String(name) + u' '))
                return {line.section(u' ', 2, 2).toInt(), line.section(u' ', 3, 3).toInt()};
        return {};
    }
};

class ModelServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        port = freePort();
        desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_PORT"), QString::number(port));
        desktop.setEnvironment(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        desktop.setEnvironment(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    }
    void TearDown() override {
        for (const QString& pid : lines(model + QStringLiteral(".pid")))
            ::kill(pid.toInt(), SIGTERM);
    }
    QString llm() { return desktop.folder(QStringLiteral("data")) + QStringLiteral("/Pictolarium/llm"); }
    // The stand-in server where a download would have put it, and its script as the model file.
    void install(const QByteArray& script, bool engine = true) {
        model = llm() + QStringLiteral("/gemma-3-1b-it-Q4_K_M.gguf");
        ASSERT_TRUE(writeFile(model, script));
        if (engine) {
            QDir().mkpath(llm() + QStringLiteral("/engine-b11669/llama-b11669"));
            ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER),
                                    llm() + QStringLiteral("/engine-b11669/llama-b11669/llama-server")));
        }
    }
    QProcess* startHost(const QStringList& more = {}) {
        card.log = desktop.folder(QStringLiteral("host")) + QStringLiteral("/card.log");
        QProcess* host =
            desktop.start(QStringLiteral(TRANSLATE_HOST_BIN), QStringList{QStringLiteral("--log"), card.log} + more);
        EXPECT_TRUE(Desktop::waitUntil([&] { return !card.place("result").isNull(); }, 10000));
        return host;
    }
    bool waitShown(const std::function<bool(const QString&)>& test, int timeoutMs = 20000) {
        return Desktop::waitUntil([&] { return test(card.shown()); }, timeoutMs, 100);
    }

    Desktop desktop;
    quint16 port = 0;
    QString model;
    Card card;
};

TEST_F(ModelServer, AnotherProgramOnThePortNeverReceivesAPrompt) {
    install("mirror\n");
    // Someone else's server, healthy, on the port the runtime would use.
    const QString foreign = desktop.folder(QStringLiteral("foreign")) + QStringLiteral("/their.gguf");
    ASSERT_TRUE(writeFile(foreign, "chunks=not|ours\n"));
    QProcess* other = desktop.start(QStringLiteral(FAKE_LLAMA_SERVER),
                                    {QStringLiteral("-m"), foreign, QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(foreign + QStringLiteral(".pid")); }, 5000));

    startHost();
    ASSERT_TRUE(waitShown([](const QString& s) { return s.count(QStringLiteral("German:")) == 2; }))
        << card.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-foreign-port.png"));
    EXPECT_EQ(lines(model + QStringLiteral(".prompts")).size(), 2);
    EXPECT_TRUE(lines(foreign + QStringLiteral(".prompts")).isEmpty())
        << lines(foreign + ".prompts").join(u'\n').toStdString();
    EXPECT_EQ(other->state(), QProcess::Running);
}

TEST_F(ModelServer, AFiveMegabyteLineGivesAMessageAndTheMemoryStaysBounded) {
    install("endless=5000000\n");
    QProcess* host = startHost();
    ASSERT_TRUE(waitShown([](const QString& s) {
        return s == QStringLiteral("The language model's reply was too long");
    })) << card.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-runaway-line.png"));
    const qint64 peak = peakMemory(host->processId());
    EXPECT_GT(peak, 0);
#ifndef PICTOLARIUM_SANITIZED
    EXPECT_LT(peak, 150 * 1024) << peak << " kB";
#endif
    EXPECT_FALSE(card.state()[QStringLiteral("spinner")].toBool());
}

TEST_F(ModelServer, ScrollingALongTranslationWhileItStreamsKeepsItsPlace) {
    install("mirror\ndelay_ms=25\n");
    startHost({QStringLiteral("--lines"), QStringLiteral("300")});
    const auto state = [&] { return card.state(); };
    ASSERT_TRUE(Desktop::waitUntil([&] { return state()[QStringLiteral("lines")].toInt() >= 120; }, 60000, 100));
    const QPoint result = card.place("result");
    desktop.moveTo(result);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("12"),
                     QStringLiteral("--delay"), QStringLiteral("30"), QStringLiteral("5")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return state()[QStringLiteral("scroll")].toInt() > 20; }, 5000, 50));
    const int place = state()[QStringLiteral("scroll")].toInt();
    const int linesThen = state()[QStringLiteral("lines")].toInt();
    ASSERT_LT(linesThen, 280) << "the translation should still be streaming";
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-scrolled.png"));

    // More pieces arrive, above and below the place the reader is at; the place holds.
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return state()[QStringLiteral("lines")].toInt() >= linesThen + 20; }, 60000, 100));
    EXPECT_EQ(state()[QStringLiteral("scroll")].toInt(), place);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-scrolled-later.png"));
    ASSERT_TRUE(waitShown([](const QString& s) { return s.count(QStringLiteral("German:")) == 300; }, 120000));
    EXPECT_EQ(state()[QStringLiteral("scroll")].toInt(), place);
}

// The program itself: its card's translate tool, with the engine fetched from a host of the test.
TEST_F(ModelServer, AfterARefusedUnpackTheNextTranslateInstallsAgainAndWorks) {
    install("mirror\n", false);
    // A release whose server comes first and whose archive breaks in the file after it.
    const QString staging = desktop.folder(QStringLiteral("staging"));
    QDir().mkpath(staging + QStringLiteral("/llama-b11669"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER), staging + QStringLiteral("/llama-b11669/llama-server")));
    // Noise does not compress, so the archive's last 100 kB lie inside it.
    QByteArray noise(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    ASSERT_TRUE(writeFile(staging + QStringLiteral("/llama-b11669/libllama.so"), noise));
    const QString files = desktop.folder(QStringLiteral("files"));
    int code = -1;
    desktop.run(QStringLiteral("tar"),
                {QStringLiteral("-czf"), files + QStringLiteral("/good.tar.gz"), QStringLiteral("-C"), staging,
                 QStringLiteral("llama-b11669/llama-server"), QStringLiteral("llama-b11669/libllama.so")},
                &code);
    ASSERT_EQ(code, 0);
    QFile good(files + QStringLiteral("/good.tar.gz"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray whole = good.readAll();
    ASSERT_TRUE(writeFile(files + QStringLiteral("/engine.tar.gz"), whole.chopped(100 * 1024)));

    const QString hostPort = QString::number(freePort());
    desktop.start(QStringLiteral(FAKE_DOWNLOAD_HOST),
                  {QStringLiteral("--root"), files, QStringLiteral("--port"), hostPort});
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_ENGINE_URL"),
                           QStringLiteral("http://127.0.0.1:%1/slow/engine.tar.gz").arg(hostPort));
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_MODEL_URL"),
                           QStringLiteral("http://127.0.0.1:%1/files/none.gguf").arg(hostPort));
    ASSERT_TRUE(desktop.writeCardSettings({"annotate", "crop", "resize", "rotate", "text", "pin", "redact", "cutout",
                                           "scroll", "rename", "compress", "library"},
                                          {{QStringLiteral("translateDefault"), Desktop::typed("string", "de")}}));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();

    QImage picture(1200, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(72);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(60, 230), QStringLiteral("Good morning everyone"));
    painter.end();
    const QString path = desktop.home() + QStringLiteral("/greeting.png");
    ASSERT_TRUE(picture.save(path));
    const quint32 window = desktop.openCard(path);
    ASSERT_NE(window, 0u) << desktop.appStderr().toStdString();
    const auto sideText = [&] {
        const QRect frame = desktop.clientGeometry(window);
        QImage shot = desktop.screenshot().copy(frame.adjusted(frame.width() / 2, 0, 0, 0));
        shot.invertPixels();
        return TextVision::text(shot.scaled(shot.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
            .simplified();
    };
    const auto translate = [&] { desktop.click(desktop.pillButton(window, 1, true, 0)); };

    // The download's progress shows in the card, then the refusal.
    translate();
    QString shown;
    EXPECT_TRUE(Desktop::waitUntil([&] { return (shown = sideText()).contains(QStringLiteral("%")); }, 30000, 300))
        << shown.toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-engine-progress.png"));
    EXPECT_TRUE(
        Desktop::waitUntil([&] { return (shown = sideText()).contains(QStringLiteral("tar failed")); }, 60000, 500))
        << shown.toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-unpack-refused.png"));
    const QString server = llm() + QStringLiteral("/engine-b11669/llama-b11669/llama-server");
    EXPECT_FALSE(QFileInfo::exists(server)) << "a half engine counts as installed";

    // The host has the whole release now: translate again installs it and translates.
    ASSERT_TRUE(writeFile(files + QStringLiteral("/engine.tar.gz"), whole));
    translate();
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return (shown = sideText()).contains(QStringLiteral("German: Good morning everyone")); }, 60000, 500))
        << shown.toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-installed-again.png"));
    EXPECT_TRUE(QFileInfo::exists(server));
}

} // namespace
