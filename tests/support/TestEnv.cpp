#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace TestEnv {

namespace {
// Removed with its contents when the test process ends.
std::unique_ptr<QTemporaryDir>& dir() {
    static std::unique_ptr<QTemporaryDir> d;
    return d;
}
} // namespace

void isolate() {
    if (dir())
        return;
    dir() = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/pictolarium-test-XXXXXX"));
    const QString root = dir()->path();
    for (const char* sub : {"home", "config", "data", "cache", "runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", (root + QStringLiteral("/home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
    // A launch warms the language model up: its downloads must find nothing listening, not the internet.
    qputenv("PICTOLARIUM_LLM_MODEL_URL", "http://127.0.0.1:1/model");
    qputenv("PICTOLARIUM_LLM_ENGINE_URL", "http://127.0.0.1:1/engine");
}

QString home() { return qEnvironmentVariable("HOME"); }

} // namespace TestEnv
