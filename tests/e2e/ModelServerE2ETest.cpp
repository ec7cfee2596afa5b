// The language model's runtime against servers and installs that misbehave: another program on the
// port, a runaway reply, a long translation read while it streams, an engine archive refused, and the display
// going away while the server runs or the engine downloads.

#include "ModelDesktop.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRandomGenerator>

#include <csignal>
#include <gtest/gtest.h>
#include <utility>

namespace {

bool writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

using ModelServer = ModelDesktop;

// Whether the process has ended (a zombie nobody reaped yet has).
bool ended(pid_t pid) {
    QFile stat(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    if (::kill(pid, 0) != 0 || !stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

// The display gone under the program: it ends by itself, without a signal.
void expectsEndWithoutSignal(Desktop& desktop) {
    desktop.killDisplay();
    QProcess* app = desktop.app();
    ASSERT_TRUE(app->waitForFinished(15000));
    EXPECT_EQ(app->exitStatus(), QProcess::NormalExit) << desktop.appStderr().toStdString();
    EXPECT_TRUE(desktop.appStderr().contains(QStringLiteral("the display went away")))
        << desktop.appStderr().toStdString();
}

TEST_F(ModelServer, AnotherProgramOnThePortNeverReceivesAPrompt) {
    ASSERT_TRUE(install("mirror\n"));
    // Someone else's server, healthy, on the port the runtime would use.
    const QString foreign = desktop.folder(QStringLiteral("foreign")) + QStringLiteral("/their.gguf");
    ASSERT_TRUE(writeFile(foreign, "chunks=not|ours\n"));
    QProcess* other = desktop.start(QStringLiteral(FAKE_LLAMA_SERVER),
                                    {QStringLiteral("-m"), foreign, QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(foreign + QStringLiteral(".pid")); }, 5000));

    ASSERT_NE(startHost(), nullptr);
    ASSERT_TRUE(hostCard.waitShown([](const QString& s) { return s.count(QStringLiteral("German:")) == 2; }, 20000))
        << hostCard.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-foreign-port.png"));
    EXPECT_EQ(fileLines(model + QStringLiteral(".prompts")).size(), 2);
    EXPECT_TRUE(fileLines(foreign + QStringLiteral(".prompts")).isEmpty())
        << fileLines(foreign + ".prompts").join(u'\n').toStdString();
    EXPECT_EQ(other->state(), QProcess::Running);
}

TEST_F(ModelServer, AFiveMegabyteLineGivesAMessageAndTheMemoryStaysBounded) {
    ASSERT_TRUE(install("endless=5000000\n"));
    QProcess* host = startHost();
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(hostCard.waitShown(
        [](const QString& s) { return s == QStringLiteral("The language model's reply was too long"); }, 20000))
        << hostCard.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-runaway-line.png"));
    const qint64 peak = Desktop::memoryKb(host->processId(), "VmHWM");
    EXPECT_GT(peak, 0);
#ifndef PICTOLARIUM_SANITIZED
    EXPECT_LT(peak, 150 * 1024) << peak << " kB";
#endif
    EXPECT_FALSE(hostCard.state()[QStringLiteral("spinner")].toBool());
}

TEST_F(ModelServer, ScrollingALongTranslationWhileItStreamsKeepsItsPlace) {
    ASSERT_TRUE(install("mirror\ndelay_ms=25\n"));
    ASSERT_NE(startHost({QStringLiteral("--lines"), QStringLiteral("300")}), nullptr);
    const auto state = [&] { return hostCard.state(); };
    ASSERT_TRUE(Desktop::waitUntil([&] { return state()[QStringLiteral("lines")].toInt() >= 120; }, 60000, 100));
    const QPoint result = hostCard.place("result");
    desktop.moveTo(result);
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("12"),
                     QStringLiteral("--delay"), QStringLiteral("30"), QStringLiteral("5")});
    ASSERT_TRUE(Desktop::waitUntil([&] { return state()[QStringLiteral("scroll")].toInt() > 20; }, 5000, 50));
    // The wheel's last clicks may still be on their way: the place is where the scrolling comes to rest.
    int place = -1;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            const int now = state()[QStringLiteral("scroll")].toInt();
            return std::exchange(place, now) == now;
        },
        5000, 300));
    const int linesThen = state()[QStringLiteral("lines")].toInt();
    ASSERT_LT(linesThen, 280) << "the translation should still be streaming";
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-scrolled.png"));

    // More pieces arrive, above and below the place the reader is at; the place holds.
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return state()[QStringLiteral("lines")].toInt() >= linesThen + 20; }, 60000, 100));
    EXPECT_EQ(state()[QStringLiteral("scroll")].toInt(), place);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-scrolled-later.png"));
    ASSERT_TRUE(hostCard.waitShown([](const QString& s) { return s.count(QStringLiteral("German:")) == 300; }, 120000));
    EXPECT_EQ(state()[QStringLiteral("scroll")].toInt(), place);
}

// The program itself: its card's translate tool, with the engine fetched from a host of the test.
TEST_F(ModelServer, AfterARefusedUnpackTheNextTranslateInstallsAgainAndWorks) {
    ASSERT_TRUE(install("mirror\n", false));
    // A release whose server comes first and whose archive breaks in the file after it. Noise does not
    // compress, so the archive's last 100 kB lie inside it.
    QByteArray noise(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QString files = desktop.folder(QStringLiteral("files"));
    ASSERT_TRUE(packEngine(desktop, files + QStringLiteral("/good.tar.gz"), noise));
    QFile good(files + QStringLiteral("/good.tar.gz"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray whole = good.readAll();
    ASSERT_TRUE(writeFile(files + QStringLiteral("/engine.tar.gz"), whole.chopped(100 * 1024)));

    const QString host = startDownloadHost(desktop, files);
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_ENGINE_URL"), host + QStringLiteral("/slow/engine.tar.gz"));
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_MODEL_URL"), host + QStringLiteral("/files/none.gguf"));
    ASSERT_NO_FATAL_FAILURE(openGreetingCard({{QStringLiteral("translateDefault"), Desktop::typed("string", "de")}}));

    // The download's progress shows in the card, then the refusal.
    pressTranslate();
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
    pressTranslate();
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return (shown = sideText()).contains(QStringLiteral("German: Good morning everyone")); }, 60000, 500))
        << shown.toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/modelserver-installed-again.png"));
    EXPECT_TRUE(QFileInfo::exists(server));
}

TEST_F(ModelServer, TheDisplayGoingAwayEndsTheServerWithTheProgram) {
    ASSERT_TRUE(install("mirror\n"));
    ASSERT_NO_FATAL_FAILURE(openGreetingCard({{QStringLiteral("translateDefault"), Desktop::typed("string", "de")}}));
    pressTranslate();
    QString shown;
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return (shown = sideText()).contains(QStringLiteral("German:")); }, 60000, 500))
        << shown.toStdString();
    const QStringList pids = fileLines(model + QStringLiteral(".pid"));
    ASSERT_FALSE(pids.isEmpty());
    const pid_t server = pid_t(pids.last().toInt());
    ASSERT_FALSE(ended(server));
    ASSERT_NO_FATAL_FAILURE(expectsEndWithoutSignal(desktop));
    EXPECT_TRUE(Desktop::waitUntil([&] { return ended(server); }, 5000)) << "the model server outlived the program";
}

TEST_F(ModelServer, TheDisplayGoingAwayDuringTheEngineDownloadLeavesNoPartialFile) {
    ASSERT_TRUE(install("mirror\n", false));
    QByteArray noise(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QString files = desktop.folder(QStringLiteral("files"));
    ASSERT_TRUE(packEngine(desktop, files + QStringLiteral("/engine.tar.gz"), noise));
    const QString host = startDownloadHost(desktop, files);
    // Five seconds of download, begun by the warm-up at launch.
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_ENGINE_URL"), host + QStringLiteral("/slow/engine.tar.gz"));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const auto partial = [&] { return QDir(llm()).entryList({QStringLiteral("picto-*")}, QDir::Files); };
    ASSERT_TRUE(Desktop::waitUntil([&] { return !partial().isEmpty(); }, 15000, 20)) << "no download began";
    ASSERT_NO_FATAL_FAILURE(expectsEndWithoutSignal(desktop));
    EXPECT_TRUE(partial().isEmpty()) << partial().join(u' ').toStdString();
    const QStringList engine = QDir(llm()).entryList({QStringLiteral("engine*")});
    EXPECT_TRUE(engine.isEmpty()) << engine.join(u' ').toStdString();
}

} // namespace
