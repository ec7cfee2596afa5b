#pragma once
// The local language model: a server program and its model file, fetched once into our data folder,
// run as a child process on the loopback address and talked to over HTTP with a streamed reply.
// Every blocking call here is meant for a worker thread; none may run on the UI thread but
// isInstalled(), killStray(), warmUp(), stop() and touchIdle().

#include "imaging/UserError.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <optional>

namespace LocalLLM {

// Every failure text of the language model; shown to the user as it stands.
class Failure : public UserError {
public:
    using UserError::UserError;
};

// Addresses, port and timings. The program reads it from the environment on first use; tests set their own.
struct Config {
    QUrl modelUrl;
    QUrl engineUrl;
    quint16 port = 42317;
    // Empty: $XDG_DATA_HOME/Pictolarium/llm.
    QString folder;
    int probeTimeoutMs = 1000;
    int probePauseMs = 200;
    int probeCount = 600;
    int idleMs = 3600 * 1000;
    int downloadStallMs = 60 * 1000;
    qint64 downloadCapMs = qint64(6) * 3600 * 1000;
    int chatStallMs = 300 * 1000;
    int partialIntervalMs = 80;
    // The longest reply line and the most reply bytes taken before a reply counts as runaway.
    qsizetype maxLineBytes = 1024 * 1024;
    qint64 maxReplyBytes = 16 * 1024 * 1024;
    // The processor the engine download must run on; empty means this machine's.
    QString architecture;
    // Milliseconds on a monotonic clock; empty means the steady clock.
    std::function<qint64()> clock;

    // The release's addresses, unless PICTOLARIUM_LLM_MODEL_URL, PICTOLARIUM_LLM_ENGINE_URL or
    // PICTOLARIUM_LLM_PORT say otherwise (the end-to-end tests point them at a host of their own).
    static Config fromEnvironment();
};

void setConfig(Config config);
Config config();

inline constexpr const char* releaseTag = "b11669";
inline constexpr const char* modelFileName = "gemma-3-1b-it-Q4_K_M.gguf";

// --- Files and installation ---

// The model folder; the first use moves a folder of the program's former name into place.
QString dir();
QString engineFolder();
QString modelPath();
// The model file exists and "llama-server" lies somewhere below the engine folder.
bool isInstalled();
// The first "llama-server" below the engine folder, or empty.
QString serverBinary();
// Installs what is missing. Callers that arrive while an installation runs wait for it and get its
// outcome; after a failure the next call starts again. Blocks; throws Failure.
void ensureDownloaded();
// Starts the installation on a thread of its own when something is missing; returns at once.
// Leftovers of downloads cut short in an earlier run go first.
void warmUp();
// Removes the engine, so that the next installation sets it up anew.
void discardEngine();
// Whether the engine release runs on this machine's processor.
bool engineAvailable();

// The status channel. The handler is called on whichever thread sends, never under our lock;
// a caller that sets one replays lastProgress() itself.
void setProgressHandler(std::function<void(const QString&)> handler);
std::optional<QString> lastProgress();
void sendStatus(const QString& text);

// --- The server process ---

// Starts the server or reuses a healthy one; returns once it answers its probe. One start at a time:
// callers arriving during a start share its outcome. Blocks; throws Failure.
void startServer();
// GET /health on the server's port answered with 200 within the probe time.
bool healthy();
// The port our server listens on: the configured one, or a free one when another program held it
// at the start.
quint16 serverPort();
// The server's own output of its latest start, beside the engine.
QString serverLog();
// Ends this user's processes whose program lies in our engine folder (a server left from an earlier
// run, or ours), waits a bounded time for them to go and reaps our own. Servers run from anywhere
// else, by anyone, are left alone.
void killStray();
// Terminates the server we run and forgets it; stops the idle timer.
void stop();
// Cancels the warm-up's download (its partial file removed) and waits for the warm-up to end. For the
// program's end: later downloads are cancelled at once too.
void endWarmUp();
// Restarts the idle timer (on the main thread); when it runs out the server is stopped.
void touchIdle();
// Whether the server we started still runs.
bool serverRunning();

int workerThreads(int processors);
QStringList serverArguments(quint16 port);

// --- Chat ---

// Sends one chat request and returns the reply without surrounding blanks and without its first
// reasoning block. partial receives the raw text so far, at most once per partialIntervalMs; it runs
// on the calling thread. Setting *cancel ends the request with Failure "Cancelled". Blocks.
QString chat(const QString& system, const QString& user, int maxTokens,
             const std::function<void(const QString&)>& partial, const std::atomic<bool>* cancel = nullptr);

} // namespace LocalLLM
