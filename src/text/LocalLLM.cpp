#include "text/LocalLLM.h"

#include "platform/XdgPaths.h"
#include "text/ChildProcess.h"
#include "text/HttpCall.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace LocalLLM {

namespace {

std::mutex configLock;
std::optional<Config> current;

std::mutex statusLock;
std::function<void(const QString&)> progressHandler;
std::optional<QString> lastText;

std::mutex setupLock;
std::optional<std::shared_future<void>> setupTask;

// Set while the program quits: a download of hundreds of megabytes must not hold the exit.
std::atomic<bool> quitting{false};
std::mutex warmLock;
// Joined by endWarmUp() at the program's end. Should the process end without it, the thread is let go:
// a joinable std::thread destroyed would end the process in std::terminate.
struct WarmThread {
    std::thread thread;
    ~WarmThread() {
        quitting = true;
        if (thread.joinable())
            thread.detach();
    }
} warmThread;
std::atomic<bool> warmingUp{false};

const QString engineStatus = QStringLiteral("Setting up translation engine\u2026");
const QString modelStatus = QStringLiteral("Downloading language model (one-time, 800 MB)\u2026");

QString folderOf(const Config& c) {
    if (!c.folder.isEmpty())
        return c.folder;
    static const QString standard = [] {
        const QString base = QFileInfo(XdgPaths::dataDir()).absolutePath();
        const QString folder = base + QStringLiteral("/Pictolarium/llm");
        const QString legacy = base + QStringLiteral("/Merin/llm");
        // A folder from before the rename still holds a large download: take it along once.
        if (!QFileInfo::exists(folder) && QFileInfo::exists(legacy)) {
            QDir().mkpath(base + QStringLiteral("/Pictolarium"));
            QDir().rename(legacy, folder);
        }
        return folder;
    }();
    return standard;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

void makeFolder(const QString& path) {
    if (!QDir().mkpath(path))
        throw Failure(QStringLiteral("Couldn't create the folder ") + path);
}

void removeTree(const QString& path) {
    QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

QString serverBelow(const QString& folder) {
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName() == QLatin1String("llama-server"))
            return it.filePath();
    }
    return {};
}

bool holdsServer(const QString& folder) {
    return !serverBelow(folder).isEmpty();
}

// Fetches source into destination through "picto-<UUID>" beside it, so that the destination only
// ever holds a complete download.
void download(const QUrl& source, const QString& destination, const std::function<void(const QString&)>& progress) {
    const Config c = config();
    const QString temporary = QFileInfo(destination).absolutePath() + QStringLiteral("/picto-") +
                              QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw Failure(QStringLiteral("Couldn't save the download (") + file.errorString() + QLatin1Char(')'));

    QString writeError;
    int lastPct = -1;
    bool unstated = false;
    HttpCall call(source);
    call.stallTimeout(c.downloadStallMs).totalTimeout(c.downloadCapMs).cancelFlag(&quitting);
    // The bytes as the host keeps them: Qt would otherwise unpack a gzip the host labels as encoded.
    call.header("Accept-Encoding", "identity");
    call.onData([&](const QByteArray& chunk) {
        if (file.write(chunk) == chunk.size())
            return true;
        writeError = file.errorString();
        return false;
    });
    call.onProgress([&](qint64 written, qint64 expected) {
        // Qt states the length at the very end even when the server never did: keep counting.
        unstated = unstated || expected <= 0;
        if (!unstated) {
            const int pct = int(written * 100 / expected);
            if (pct == lastPct)
                return;
            lastPct = pct;
            progress(QString::number(pct) + QStringLiteral(" %"));
        } else {
            progress(QString::number(written / 1048576) + QStringLiteral(" MB"));
        }
    });
    const HttpCall::Result result = call.run();

    const auto fail = [&](const QString& message) {
        file.close();
        QFile::remove(temporary);
        throw Failure(message);
    };
    if (!writeError.isEmpty())
        fail(QStringLiteral("Couldn't save the download (") + writeError + QLatin1Char(')'));
    if (result.status >= 300)
        fail(QStringLiteral("Download failed (") + QString::number(result.status) +
             QStringLiteral(") \u2014 check your internet connection"));
    if (!result.error.isEmpty() || result.status == 0)
        fail(QStringLiteral("Download failed (") +
             (result.error.isEmpty() ? QStringLiteral("no answer") : result.error) +
             QStringLiteral(") \u2014 check your internet connection"));
    if (!file.flush() || ::fsync(file.handle()) != 0)
        fail(QStringLiteral("Couldn't save the download (") + file.errorString() + QLatin1Char(')'));
    file.close();
    // rename() replaces whatever lies at the destination in one step.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(destination).constData()) != 0) {
        const int error = errno;
        QFile::remove(temporary);
        throw Failure(QStringLiteral("Couldn't save the download (") + systemError(error) + QLatin1Char(')'));
    }
}

void unpack(const QString& archive, const QString& folder) {
    const QString tar = QStringLiteral("/usr/bin/tar");
    // GNU tar already strips leading "/" and refuses ".." members and links that lead out; as root it
    // would also hand the files to the archive's owners, which we never want.
    int status = 0;
    try {
        status = ChildProcess::run(tar, {QStringLiteral("-xzf"), archive, QStringLiteral("-C"), folder,
                                         QStringLiteral("--no-same-owner"), QStringLiteral("--no-same-permissions")});
    } catch (const UserError& error) {
        throw Failure(error.message);
    }
    if (status != 0)
        throw Failure(tar + QStringLiteral(" failed (") + QString::number(status) + QLatin1Char(')'));
}

// Downloads cut short by a hard end of an earlier run, and an unpacking that never finished.
void removeLeftovers() {
    const QFileInfoList entries =
        QDir(dir()).entryInfoList({QStringLiteral("picto-*")}, QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries)
        removeTree(entry.filePath());
}

void installEngine(const Config& c) {
    if (!engineAvailable())
        throw Failure(QStringLiteral("Translation is not available on this computer: the translation engine "
                                     "runs only on x86-64 processors"));
    sendStatus(engineStatus);
    const QString archive = dir() + QStringLiteral("/engine.tar.gz");
    download(c.engineUrl, archive, [](const QString& p) { sendStatus(engineStatus + QLatin1Char(' ') + p); });
    // Unpacked beside the engine and moved into place whole: an archive refused halfway leaves no
    // half engine that would count as installed.
    const QString staging =
        dir() + QStringLiteral("/picto-unpack-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    makeFolder(staging);
    try {
        unpack(archive, staging);
    } catch (...) {
        removeTree(staging);
        QFile::remove(archive);
        throw;
    }
    QFile::remove(archive);
    if (!holdsServer(staging)) {
        removeTree(staging);
        throw Failure(QStringLiteral("Translation engine download looked wrong \u2014 try again"));
    }
    removeTree(engineFolder());
    if (std::rename(QFile::encodeName(staging).constData(), QFile::encodeName(engineFolder()).constData()) != 0) {
        const int error = errno;
        removeTree(staging);
        throw Failure(QStringLiteral("Couldn't set up the translation engine (") + systemError(error) +
                      QLatin1Char(')'));
    }
}

void setup() {
    const Config c = config();
    makeFolder(dir());
    removeLeftovers();
    if (serverBinary().isEmpty())
        installEngine(c);
    if (QFileInfo::exists(modelPath()))
        return;
    sendStatus(modelStatus);
    download(c.modelUrl, modelPath(), [](const QString& p) { sendStatus(modelStatus + QLatin1Char(' ') + p); });
}

} // namespace

void endWarmUp() {
    quitting = true;
    std::lock_guard guard(warmLock);
    if (warmThread.thread.joinable())
        warmThread.thread.join();
}

Config Config::fromEnvironment() {
    Config c;
    const QString tag = QString::fromLatin1(releaseTag);
    c.modelUrl = QUrl(QStringLiteral("https://huggingface.co/ggml-org/gemma-3-1b-it-GGUF/resolve/main/") +
                      QString::fromLatin1(modelFileName));
    c.engineUrl = QUrl(QStringLiteral("https://github.com/ggml-org/llama.cpp/releases/download/") + tag +
                       QStringLiteral("/llama-") + tag + QStringLiteral("-bin-ubuntu-x64.tar.gz"));
    if (qEnvironmentVariableIsSet("PICTOLARIUM_LLM_MODEL_URL"))
        c.modelUrl = QUrl(qEnvironmentVariable("PICTOLARIUM_LLM_MODEL_URL"));
    if (qEnvironmentVariableIsSet("PICTOLARIUM_LLM_ENGINE_URL"))
        c.engineUrl = QUrl(qEnvironmentVariable("PICTOLARIUM_LLM_ENGINE_URL"));
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("PICTOLARIUM_LLM_PORT", &ok);
    if (ok && port > 0 && port < 65536)
        c.port = quint16(port);
    return c;
}

void setConfig(Config c) {
    std::lock_guard guard(configLock);
    current = std::move(c);
}

Config config() {
    std::lock_guard guard(configLock);
    if (!current)
        current = Config::fromEnvironment();
    return *current;
}

QString dir() {
    return folderOf(config());
}

QString engineFolder() {
    return dir() + QStringLiteral("/engine-") + QString::fromLatin1(releaseTag);
}

QString modelPath() {
    return dir() + QLatin1Char('/') + QString::fromLatin1(modelFileName);
}

bool isInstalled() {
    return QFileInfo::exists(modelPath()) && !serverBinary().isEmpty();
}

QString serverBinary() {
    return serverBelow(engineFolder());
}

void discardEngine() {
    removeTree(engineFolder());
}

bool engineAvailable() {
    const Config c = config();
    const QString architecture = c.architecture.isEmpty() ? QSysInfo::currentCpuArchitecture() : c.architecture;
    return architecture == QLatin1String("x86_64");
}

void setProgressHandler(std::function<void(const QString&)> handler) {
    std::lock_guard guard(statusLock);
    progressHandler = std::move(handler);
}

std::optional<QString> lastProgress() {
    std::lock_guard guard(statusLock);
    return lastText;
}

void sendStatus(const QString& text) {
    std::function<void(const QString&)> handler;
    {
        std::lock_guard guard(statusLock);
        lastText = text;
        handler = progressHandler;
    }
    if (handler)
        handler(text);
}

void ensureDownloaded() {
    std::promise<void> promise;
    std::shared_future<void> outcome;
    bool mine = false;
    {
        std::lock_guard guard(setupLock);
        if (setupTask) {
            outcome = *setupTask;
        } else {
            outcome = promise.get_future().share();
            setupTask = outcome;
            mine = true;
        }
    }
    if (mine) {
        try {
            setup();
            promise.set_value();
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
        {
            std::lock_guard guard(setupLock);
            setupTask.reset();
        }
        std::lock_guard guard(statusLock);
        lastText.reset();
    }
    outcome.get();
}

void warmUp() {
    if (!warmingUp && QFileInfo::exists(dir()))
        removeLeftovers();
    if (isInstalled() || !engineAvailable() || warmingUp.exchange(true))
        return;
    std::lock_guard guard(warmLock);
    if (warmThread.thread.joinable())
        warmThread.thread.join();
    static const bool hooked = [] {
        if (QCoreApplication::instance())
            qAddPostRoutine(endWarmUp);
        return true;
    }();
    Q_UNUSED(hooked);
    warmThread.thread = std::thread([] {
        try {
            ensureDownloaded();
        } catch (const std::exception&) {
            // The first translation asks again and shows the reason.
        }
        warmingUp = false;
    });
}

} // namespace LocalLLM
