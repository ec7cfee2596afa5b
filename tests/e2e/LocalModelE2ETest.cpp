#include "ModelDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <gtest/gtest.h>

namespace {

bool alive(QProcess* process) {
    return process->state() == QProcess::Running && ::kill(process->processId(), 0) == 0;
}

} // namespace

TEST(LocalModel, InstallsFromItsHostAtLaunchAndEndsOnlyItsOwnStrayServers) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();

    // The host offers a release archive holding the stand-in server, and a model file.
    const QString files = desktop.folder("host");
    ASSERT_TRUE(packEngine(desktop, files + "/engine.tar.gz"));
    QFile model(files + "/model.gguf");
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.write(QByteArray(2 * 1024 * 1024, 'g'));
    model.close();

    const QString host = startDownloadHost(desktop, files);
    desktop.setEnvironment("PICTOLARIUM_LLM_ENGINE_URL", host + "/moved/engine.tar.gz");
    desktop.setEnvironment("PICTOLARIUM_LLM_MODEL_URL", host + "/files/model.gguf");
    desktop.setEnvironment("PICTOLARIUM_LLM_PORT", QString::number(freePort()));

    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QString llm = QDir::cleanPath(desktop.home() + "/../data/Pictolarium/llm");
    const QString server = llm + "/engine-b11669/llama-b11669/llama-server";
    const QString installed = llm + "/gemma-3-1b-it-Q4_K_M.gguf";
    EXPECT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(installed); }, 30000, 200));
    EXPECT_EQ(Desktop::digest(server), Desktop::digest(FAKE_LLAMA_SERVER));
    EXPECT_TRUE(QFileInfo(server).isExecutable());
    EXPECT_EQ(QFileInfo(installed).size(), 2 * 1024 * 1024);
    EXPECT_FALSE(QFileInfo::exists(llm + "/engine.tar.gz"));
    EXPECT_TRUE(QDir(llm).entryList({"picto-*"}).isEmpty());
    desktop.screenshot(Desktop::shotsDir() + "/localmodel-installed.png");
    desktop.app()->terminate();
    ASSERT_TRUE(desktop.app()->waitForFinished(5000));

    // A server left running from our folder, and one run from elsewhere for other work.
    const QString other = desktop.folder("other") + "/llama-server";
    QFile::copy(FAKE_LLAMA_SERVER, other);
    QProcess* ours = desktop.start(server, {"--port", QString::number(freePort())});
    QProcess* theirs = desktop.start(other, {"--port", QString::number(freePort())});
    ASSERT_TRUE(alive(ours) && alive(theirs));

    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    EXPECT_TRUE(ours->waitForFinished(10000));
    Desktop::pause(500);
    EXPECT_TRUE(alive(theirs));
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
}
