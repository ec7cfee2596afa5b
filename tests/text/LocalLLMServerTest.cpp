#include "text/LlmFakes.h"
#include "text/LocalLLM.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using namespace LlmFakes;

namespace {

const QString loading = QStringLiteral("Loading language model\u2026");

// An installed engine and model whose script tells the stand-in how to behave.
struct Installed {
    QTemporaryDir tmp;
    QString folder = tmp.path() + QStringLiteral("/llm");
    LocalLLM::Config config = testConfig(folder);
    QString server;

    explicit Installed(const QByteArray& script = {}) {
        server = installServer(folder);
        LocalLLM::setConfig(config);
        writeFile(LocalLLM::modelPath(), script);
    }
    ~Installed() { LocalLLM::stop(); }
    QStringList starts() const {
        return QString::fromUtf8(readFile(LocalLLM::modelPath() + QStringLiteral(".pid")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int probes() const { return int(readFile(LocalLLM::modelPath() + QStringLiteral(".health")).count('\n')); }
};

bool gone(int pid) {
    return ::kill(pid, 0) != 0;
}

} // namespace

TEST(LocalLLMServer, StartsWithTheEighteenArgumentsAndReusesAHealthyServer) {
    Installed installed("load_ms=300\n");
    StatusLog log;
    LocalLLM::startServer();
    EXPECT_EQ(log.texts(), QStringList{loading});
    QStringList expected =
        QStringLiteral("-m model --host 127.0.0.1 --port port -c 8192 -np 4 -ngl 99 -fa on -t threads "
                       "--no-webui --no-warmup")
            .split(u' ');
    expected[1] = LocalLLM::modelPath();
    expected[5] = QString::number(installed.config.port);
    expected[15] = QString::number(LocalLLM::workerThreads(QThread::idealThreadCount()));
    EXPECT_EQ(QString::fromUtf8(readFile(LocalLLM::modelPath() + QStringLiteral(".args")))
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              expected);

    const int probes = installed.probes();
    LocalLLM::startServer();
    EXPECT_EQ(installed.probes(), probes + 1);
    EXPECT_EQ(installed.starts().size(), 1);
    EXPECT_EQ(log.texts().size(), 1);

    for (auto [processors, threads] : {std::pair{1, 2}, {5, 2}, {6, 3}, {7, 3}, {8, 4}, {16, 8}})
        EXPECT_EQ(LocalLLM::workerThreads(processors), threads) << processors;
}

TEST(LocalLLMServer, ACrashedServerIsReplacedAndOverlappingStartsShareOne) {
    Installed installed("load_ms=400\n");
    QString first, second;
    std::thread a([&] { first = failureOf(LocalLLM::startServer); });
    std::thread b([&] { second = failureOf(LocalLLM::startServer); });
    a.join();
    b.join();
    EXPECT_EQ(first, QString());
    EXPECT_EQ(second, QString());
    ASSERT_EQ(installed.starts().size(), 1);

    const int crashed = installed.starts().first().toInt();
    ::kill(crashed, SIGKILL);
    StatusLog log;
    LocalLLM::startServer();
    EXPECT_EQ(installed.starts().size(), 2);
    EXPECT_EQ(log.texts(), QStringList{loading});
    EXPECT_TRUE(LocalLLM::serverRunning());
}

TEST(LocalLLMServer, AServerThatNeverComesUpFailsAndIsEnded) {
    {
        // Exits at once: noticed after the first pause instead of after every probe.
        Installed installed("exit_ms=0\n");
        installed.config.probeCount = 600;
        installed.config.probePauseMs = 200;
        LocalLLM::setConfig(installed.config);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(failureOf(LocalLLM::startServer), QStringLiteral("Language model failed to start"));
        EXPECT_LT(clock.elapsed(), 30000);
        EXPECT_FALSE(LocalLLM::serverRunning());
    }
    {
        Installed installed("never_healthy\n");
        installed.config.probeCount = 4;
        LocalLLM::setConfig(installed.config);
        EXPECT_EQ(failureOf(LocalLLM::startServer), QStringLiteral("Language model failed to start"));
        EXPECT_EQ(installed.probes(), 4);
        EXPECT_TRUE(gone(installed.starts().value(0).toInt()));
    }
    {
        Installed installed;
        QFile::remove(installed.server);
        EXPECT_EQ(failureOf(LocalLLM::startServer), QStringLiteral("Translation engine missing"));
    }
}

TEST(LocalLLMServer, StopsAfterTheIdleTime) {
    Installed installed;
    installed.config.idleMs = 300;
    LocalLLM::setConfig(installed.config);
    LocalLLM::startServer();
    ASSERT_TRUE(LocalLLM::serverRunning());
    const int pid = installed.starts().first().toInt();
    EXPECT_TRUE(QTest::qWaitFor([] { return !LocalLLM::serverRunning(); }, 10000));
    EXPECT_TRUE(gone(pid));
}

TEST(LocalLLMServer, KillStrayEndsOnlyServersOfOurEngineFolder) {
    Installed installed;
    const QString elsewhere =
        copyProgram(QStringLiteral(FAKE_LLAMA_SERVER), installed.tmp.path() + QStringLiteral("/other/llama-server"));
    const QString sleeper =
        copyProgram(QStringLiteral("/usr/bin/sleep"), installed.tmp.path() + QStringLiteral("/sleep/llama-server"));
    QProcess stray, other, sleeping;
    stray.start(installed.server, {QStringLiteral("--port"), QString::number(freePort())});
    other.start(elsewhere, {QStringLiteral("--port"), QString::number(freePort())});
    sleeping.start(sleeper, {QStringLiteral("60")});
    ASSERT_TRUE(stray.waitForStarted() && other.waitForStarted() && sleeping.waitForStarted());

    LocalLLM::killStray();
    EXPECT_TRUE(stray.waitForFinished(2000));
    EXPECT_EQ(other.state(), QProcess::Running);
    EXPECT_EQ(sleeping.state(), QProcess::Running);
    other.kill();
    sleeping.kill();
    other.waitForFinished();
    sleeping.waitForFinished();
}

TEST(LocalLLMServer, AFailedStartSaysWhyInTheServersOwnWords) {
    Installed installed("stderr=llama-server: error while loading shared libraries: libgomp.so.1: cannot open "
                        "shared object file\nexit_ms=0\n");
    const QString failure = failureOf(LocalLLM::startServer);
    EXPECT_EQ(failure, QStringLiteral("Language model failed to start: llama-server: error while loading shared "
                                      "libraries: libgomp.so.1: cannot open shared object file"));
    EXPECT_TRUE(readFile(LocalLLM::serverLog()).contains("libgomp.so.1"));
}
