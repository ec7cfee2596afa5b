#include "platform/FileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace FileManager {

namespace {

const auto kService = QStringLiteral("org.freedesktop.FileManager1");

bool callFileManager(const QString& method, const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    // Only a running or activatable file manager answers; anything else would block for the timeout.
    const auto registered = bus.interface()->isServiceRegistered(kService);
    const auto activatable = bus.interface()->activatableServiceNames();
    if (!(registered.isValid() && registered.value()) &&
        !(activatable.isValid() && activatable.value().contains(kService)))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       kService, method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    return bus.send(call);
}

} // namespace

bool showFolder(const QString& folder) {
    if (callFileManager(QStringLiteral("ShowFolders"), folder))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

bool showItem(const QString& file) {
    if (callFileManager(QStringLiteral("ShowItems"), file))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

} // namespace FileManager
