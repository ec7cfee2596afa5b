#include "platform/LoginItem.h"

#include "platform/FileOps.h"
#include "platform/FileWrites.h"
#include "platform/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LoginItem {

QString entryPath() {
    return XdgPaths::configHome() + QStringLiteral("/autostart/pictolarium.desktop");
}

bool isEnabled() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A "Hidden=true" entry is how desktops record that the user switched it off.
    const QByteArray text = file.readAll();
    return !text.contains("\nHidden=true");
}

namespace {
// Exec values quote arguments with reserved characters; a path with a blank must survive.
QString quoteExec(const QString& path) {
    QString escaped = path;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('`'), QStringLiteral("\\`"));
    escaped.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}
} // namespace

QString enable(const QString& executable) {
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("The folder %1 could not be created.").arg(QFileInfo(path).absolutePath());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Pictolarium\n"
                                         "Comment=Screenshots as cards at the pointer\n"
                                         "Exec=%1\n"
                                         "Icon=pictolarium\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoteExec(executable));
    if (const int error = FileWrites::replaceWith(path, entry.toUtf8()))
        return QStringLiteral("%1 could not be written: %2").arg(path, FileOps::errorText(error));
    return {};
}

QString disable() {
    QFile file(entryPath());
    if (!file.exists())
        return {};
    if (!file.remove())
        return QStringLiteral("%1 could not be removed: %2").arg(file.fileName(), file.errorString());
    return {};
}

} // namespace LoginItem
