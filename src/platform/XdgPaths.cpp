#include "platform/XdgPaths.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {
QString fromEnv(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    // Relative paths in these variables are invalid by the XDG rules and must be ignored.
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return fallback;
    return value;
}
} // namespace

namespace XdgPaths {

QString home() { return QDir::homePath(); }

QString configHome() { return fromEnv("XDG_CONFIG_HOME", home() + QStringLiteral("/.config")); }

QString configDir() { return configHome() + QStringLiteral("/Pictolarium"); }

QString dataDir() {
    return fromEnv("XDG_DATA_HOME", home() + QStringLiteral("/.local/share")) + QStringLiteral("/Pictolarium");
}

QString runtimeDir() {
    const QString fallback = QDir::tempPath() + QStringLiteral("/pictolarium-") + QString::number(getuid());
    const QString dir = fromEnv("XDG_RUNTIME_DIR", fallback);
    if (dir == fallback && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir;
}

} // namespace XdgPaths
