#include "app/Migration.h"

#include "platform/Defaults.h"
#include "platform/XdgPaths.h"

namespace Migration {

QString formerDomain() { return QStringLiteral("org.pictolite.Pictolite"); }

QString formerDirectory() { return XdgPaths::configHome() + QStringLiteral("/Pictolite"); }

int migrateFromPictolite(Defaults& standard, const std::optional<QVariantMap>& former) {
    const QString flag = QStringLiteral("migratedFromPictolite");
    if (standard.boolValue(flag))
        return 0;
    standard.set(flag, true);
    if (!former)
        return 0;
    int copied = 0;
    for (auto it = former->cbegin(); it != former->cend(); ++it) {
        if (standard.contains(it.key()))
            continue;
        if (standard.set(it.key(), it.value()))
            ++copied;
    }
    return copied;
}

int migrateFromPictolite(Defaults& standard) {
    if (standard.boolValue(QStringLiteral("migratedFromPictolite")))
        return 0;
    return migrateFromPictolite(standard, Defaults::persistentDomain(formerDirectory(), formerDomain()));
}

} // namespace Migration
