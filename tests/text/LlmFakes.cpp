#include "text/LlmFakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace LlmFakes {

namespace {
std::mutex logLock;
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

LocalLLM::Config testConfig(const QString& folder) {
    LocalLLM::Config c;
    // Nothing listens here: a test that forgets to set its addresses fails instead of going out.
    c.modelUrl = QUrl(QStringLiteral("http://127.0.0.1:1/model"));
    c.engineUrl = QUrl(QStringLiteral("http://127.0.0.1:1/engine"));
    c.folder = folder;
    c.port = freePort();
    c.probePauseMs = 50;
    c.probeCount = 200;
    c.downloadStallMs = 10000;
    c.chatStallMs = 10000;
    return c;
}

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString copyProgram(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    QFile::copy(from, to);
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return to;
}

QString installServer(const QString& modelFolder) {
    const QString tag = QString::fromLatin1(LocalLLM::releaseTag);
    return copyProgram(QStringLiteral(FAKE_LLAMA_SERVER), modelFolder + QStringLiteral("/engine-") + tag +
                                                              QStringLiteral("/llama-") + tag +
                                                              QStringLiteral("/llama-server"));
}

QString failureOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const LocalLLM::Failure& failure) {
        return failure.message;
    }
    return {};
}

QByteArray tarGz(const QString& folder, const QStringList& members) {
    QProcess tar;
    // -P keeps member names as given, ".." included, as a hostile archive would have them.
    tar.start(QStringLiteral("tar"),
              QStringList{QStringLiteral("-czPf"), QStringLiteral("-"), QStringLiteral("-C"), folder} + members);
    tar.waitForFinished(10000);
    return tar.readAllStandardOutput();
}

Host::Host(const QString& root) : logPath(root + QStringLiteral("/../requests.log")) {
    process.start(QStringLiteral(FAKE_DOWNLOAD_HOST),
                  {QStringLiteral("--root"), root, QStringLiteral("--log"), logPath});
    if (process.waitForReadyRead(10000))
        port = quint16(process.readLine().trimmed().toUInt());
}

Host::~Host() {
    process.terminate();
    process.waitForFinished(5000);
}

QUrl Host::url(const char* mode, const QString& name) const {
    return QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port) + QLatin1Char('/') + QLatin1String(mode) +
                QLatin1Char('/') + name);
}

QStringList Host::requests() const {
    return QString::fromUtf8(readFile(logPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

StatusLog::StatusLog() : list(std::make_shared<QStringList>()) {
    LocalLLM::setProgressHandler([l = list](const QString& text) {
        std::lock_guard guard(logLock);
        l->append(text);
    });
}

StatusLog::~StatusLog() {
    LocalLLM::setProgressHandler({});
}

QStringList StatusLog::texts() const {
    std::lock_guard guard(logLock);
    return *list;
}

} // namespace LlmFakes
