#include "text/LlmFakes.h"
#include "text/LocalLLM.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <thread>

using namespace LlmFakes;

namespace {

const QString engineStep = QStringLiteral("Setting up translation engine\u2026");
const QString modelStep = QStringLiteral("Downloading language model (one-time, 800 MB)\u2026");
const QString tag = QString::fromLatin1(LocalLLM::releaseTag);

// A model folder of its own and a host serving a good engine archive and a model.
struct Install {
    QTemporaryDir tmp;
    QString folder = tmp.path() + QStringLiteral("/llm");
    QString files = tmp.path() + QStringLiteral("/files");
    std::unique_ptr<Host> host;
    LocalLLM::Config config = testConfig(folder);

    Install() {
        serve(QStringLiteral("engine.tar.gz"),
              archive({QStringLiteral("llama-server"), QStringLiteral("libllama.so")}));
        serve(QStringLiteral("model.gguf"), QByteArray(300 * 1024, 'm'));
        host = std::make_unique<Host>(files);
        config.engineUrl = host->url("files", QStringLiteral("engine.tar.gz"));
        config.modelUrl = host->url("files", QStringLiteral("model.gguf"));
        LocalLLM::setConfig(config);
    }
    // A release holding these files in its one folder.
    QByteArray archive(const QStringList& names, const QStringList& more = {}) {
        const QString staging = tmp.path() + QStringLiteral("/staging/in");
        QDir(staging).removeRecursively();
        for (const QString& name : names)
            writeFile(staging + QStringLiteral("/llama-") + tag + QLatin1Char('/') + name, "x");
        return tarGz(staging, QStringList{QStringLiteral("llama-") + tag} + more);
    }
    void serve(const QString& name, const QByteArray& data) { writeFile(files + QLatin1Char('/') + name, data); }
    void apply() { LocalLLM::setConfig(config); }
    QStringList leftovers() const {
        return QDir(folder).entryList({QStringLiteral("picto-*"), QStringLiteral("*.tar.gz")}, QDir::Files);
    }
};

} // namespace

TEST(LocalLLMInstall, EachInstallStateFetchesOnlyWhatIsMissing) {
    struct Case {
        bool engine, model;
        QStringList steps;
        QStringList requests;
    } cases[] = {
        {false, false, {engineStep, modelStep}, {"/files/engine.tar.gz", "/files/model.gguf"}},
        {true, false, {modelStep}, {"/files/model.gguf"}},
        {false, true, {engineStep}, {"/files/engine.tar.gz"}},
        {true, true, {}, {}},
    };
    for (const Case& c : cases) {
        Install install;
        if (c.engine)
            installServer(install.folder);
        if (c.model)
            writeFile(LocalLLM::modelPath(), "already here");
        StatusLog log;
        LocalLLM::ensureDownloaded();

        SCOPED_TRACE(c.requests.join(QLatin1Char(' ')).toStdString());
        EXPECT_EQ(log.texts().filter(QRegularExpression(QStringLiteral("\u2026$"))), c.steps) << "steps, no figures";
        EXPECT_EQ(install.host->requests(), c.requests);
        EXPECT_TRUE(LocalLLM::isInstalled());
        EXPECT_FALSE(LocalLLM::lastProgress().has_value());
        EXPECT_TRUE(install.leftovers().isEmpty()) << install.leftovers().join(QLatin1Char(' ')).toStdString();
        if (!c.engine) {
            EXPECT_EQ(LocalLLM::serverBinary(), install.folder + QStringLiteral("/engine-") + tag +
                                                    QStringLiteral("/llama-") + tag + QStringLiteral("/llama-server"));
        }
        if (!c.model) {
            EXPECT_EQ(QFileInfo(LocalLLM::modelPath()).size(), 300 * 1024);
        }
    }
}

TEST(LocalLLMInstall, CallersArrivingTogetherShareOneInstallationAndItsError) {
    Install install;
    install.config.modelUrl = install.host->url("missing", QStringLiteral("model.gguf"));
    install.apply();

    QString first, second;
    std::thread a([&] { first = failureOf(LocalLLM::ensureDownloaded); });
    std::thread b([&] { second = failureOf(LocalLLM::ensureDownloaded); });
    a.join();
    b.join();
    const QString expected = QStringLiteral("Download failed (404) \u2014 check your internet connection");
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(install.host->requests(), (QStringList{"/files/engine.tar.gz", "/missing/model.gguf"}));
    EXPECT_FALSE(QFileInfo::exists(LocalLLM::modelPath()));
    EXPECT_TRUE(install.leftovers().isEmpty());

    // The next call starts again and keeps the engine it already has.
    install.config.modelUrl = install.host->url("moved", QStringLiteral("model.gguf"));
    install.apply();
    LocalLLM::ensureDownloaded();
    EXPECT_EQ(install.host->requests().mid(2), (QStringList{"/moved/model.gguf", "/files/model.gguf"}));
    EXPECT_TRUE(LocalLLM::isInstalled());
}

TEST(LocalLLMInstall, ProgressIsOneTextPerWholePercentOrEveryCountWithoutALength) {
    Install install;
    installServer(install.folder);
    install.config.modelUrl = install.host->url("trickle", QStringLiteral("model.gguf"));
    install.apply();
    StatusLog log;
    LocalLLM::ensureDownloaded();
    const QStringList texts = log.texts();
    EXPECT_LE(texts.size(), 102); // the step itself and at most 101 percentages
    EXPECT_GT(texts.size(), 10);
    EXPECT_EQ(texts.last(), modelStep + QStringLiteral(" 100 %"));
    int last = -1;
    for (const QString& text : texts.mid(1)) {
        const int pct = text.mid(modelStep.size() + 1).chopped(2).toInt();
        EXPECT_GT(pct, last) << text.toStdString();
        last = pct;
    }

    Install unstated;
    installServer(unstated.folder);
    unstated.config.modelUrl = unstated.host->url("nolength", QStringLiteral("model.gguf"));
    unstated.apply();
    StatusLog counts;
    LocalLLM::ensureDownloaded();
    ASSERT_GE(counts.texts().size(), 2);
    EXPECT_EQ(counts.texts().last(), modelStep + QStringLiteral(" 0 MB"));
}

TEST(LocalLLMInstall, AFailedDownloadLeavesNoPartialFileAndTheNextCallStartsAgain) {
    struct Case {
        const char* mode;
        QString message;
    } cases[] = {
        {"cut", QStringLiteral("Download failed (")},
        {"closed", QStringLiteral("Download failed (Connection refused) \u2014 check your internet connection")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Install install;
        installServer(install.folder);
        install.config.modelUrl = QLatin1String(c.mode) == QLatin1String("closed")
                                      ? QUrl(QStringLiteral("http://127.0.0.1:1/model.gguf"))
                                      : install.host->url(c.mode, QStringLiteral("model.gguf"));
        install.apply();
        const QString message = failureOf(LocalLLM::ensureDownloaded);
        EXPECT_TRUE(message.startsWith(c.message)) << message.toStdString();
        EXPECT_TRUE(message.endsWith(QStringLiteral(" \u2014 check your internet connection")));
        EXPECT_FALSE(QFileInfo::exists(LocalLLM::modelPath()));
        EXPECT_TRUE(install.leftovers().isEmpty()) << install.leftovers().join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(LocalLLM::lastProgress().has_value());
    }
}

TEST(LocalLLMInstall, ABadArchiveIsReportedAndWritesNothingOutsideTheEngineFolder) {
    Install lacking;
    lacking.serve(QStringLiteral("engine.tar.gz"), lacking.archive({QStringLiteral("llama-cli")}));
    EXPECT_EQ(failureOf(LocalLLM::ensureDownloaded),
              QStringLiteral("Translation engine download looked wrong \u2014 try again"));

    Install broken;
    broken.serve(QStringLiteral("engine.tar.gz"), "this is not an archive");
    EXPECT_EQ(failureOf(LocalLLM::ensureDownloaded), QStringLiteral("/usr/bin/tar failed (2)"));
    EXPECT_FALSE(QFileInfo::exists(LocalLLM::modelPath()));

    Install hostile;
    writeFile(hostile.tmp.path() + QStringLiteral("/staging/escaped"), "x");
    hostile.serve(QStringLiteral("engine.tar.gz"),
                  hostile.archive({QStringLiteral("llama-server")}, {QStringLiteral("../escaped")}));
    EXPECT_EQ(failureOf(LocalLLM::ensureDownloaded), QStringLiteral("/usr/bin/tar failed (2)"));
    EXPECT_FALSE(QFileInfo::exists(hostile.folder + QStringLiteral("/escaped")));
}

TEST(LocalLLMInstall, AnEngineThatCannotRunIsRemovedAndSetUpAgain) {
    Install install;
    writeFile(LocalLLM::modelPath(), "here");
    // A file in the server's place that is no program at all.
    const QString bad = installServer(install.folder);
    writeFile(bad, QByteArray(4096, '\x7f'));
    ASSERT_TRUE(LocalLLM::isInstalled());
    const QString failure = failureOf(LocalLLM::startServer);
    EXPECT_TRUE(failure.contains(QStringLiteral("Exec format error"))) << failure.toStdString();
    EXPECT_FALSE(LocalLLM::isInstalled());
    LocalLLM::ensureDownloaded();
    EXPECT_EQ(install.host->requests(), QStringList{"/files/engine.tar.gz"});
    EXPECT_TRUE(LocalLLM::isInstalled());
}

TEST(LocalLLMInstall, LeftoversOfAnEarlierRunGoAtTheStart) {
    Install install;
    installServer(install.folder);
    writeFile(LocalLLM::modelPath(), "here");
    const QString partial = install.folder + QStringLiteral("/picto-0A1B2C3D-0000-4000-8000-000000000000");
    writeFile(partial, QByteArray(1024, 'p'));
    writeFile(install.folder + QStringLiteral("/picto-unpack-X/llama-b11669/llama-server"), "x");
    LocalLLM::warmUp();
    EXPECT_FALSE(QFileInfo::exists(partial));
    EXPECT_TRUE(QDir(install.folder).entryList({QStringLiteral("picto-*")}, QDir::AllEntries).isEmpty());
    EXPECT_TRUE(LocalLLM::isInstalled());
}

TEST(LocalLLMInstall, OnlyAnX8664ProcessorGetsTheEngineAndAStalledDownloadSaysSo) {
    Install install;
    install.config.architecture = QStringLiteral("aarch64");
    install.apply();
    EXPECT_EQ(failureOf(LocalLLM::ensureDownloaded),
              QStringLiteral("Translation is not available on this computer: the translation engine runs only on "
                             "x86-64 processors"));
    EXPECT_TRUE(install.host->requests().isEmpty());

    install.config.architecture = QStringLiteral("x86_64");
    install.config.engineUrl = install.host->url("stall", QStringLiteral("engine.tar.gz"));
    install.config.downloadStallMs = 500;
    install.apply();
    EXPECT_EQ(failureOf(LocalLLM::ensureDownloaded),
              QStringLiteral("Download failed (no data for 1 s) \u2014 check your internet connection"));
}
