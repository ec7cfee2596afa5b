#pragma once
// The language model's test fakes: a download host and the stand-in server program, both on
// 127.0.0.1 in programs of their own, and archives made to order.

#include "text/LocalLLM.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <ostream>

namespace LlmFakes {

quint16 freePort();

// A private model folder and port, with timings short enough for tests.
LocalLLM::Config testConfig(const QString& folder);

// Writes the stand-in server at engine-<tag>/llama-<tag>/llama-server below the model folder.
QString installServer(const QString& modelFolder);
QString copyProgram(const QString& from, const QString& to);
void writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);

// The message of the failure the work ends with, or nothing.
QString failureOf(const std::function<void()>& work);

// A gzip-compressed tar of the members below folder.
QByteArray tarGz(const QString& folder, const QStringList& members);

class Host {
public:
    // Serves the files of root; every request path is logged.
    explicit Host(const QString& root);
    ~Host();
    bool ok() const { return port != 0; }
    QUrl url(const char* mode, const QString& name) const;
    QStringList requests() const;

private:
    QProcess process;
    QString logPath;
    quint16 port = 0;
};

// Collects every status text the channel sends.
struct StatusLog {
    StatusLog();
    ~StatusLog();
    QStringList texts() const;

private:
    std::shared_ptr<QStringList> list;
};

} // namespace LlmFakes

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
