#include "library/RecentConfig.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString trimmed(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString dataHome(const QString& home) {
    const QString value = qEnvironmentVariable("XDG_DATA_HOME");
    return QDir::isAbsolutePath(value) ? trimmed(value) : home + QStringLiteral("/.local/share");
}

} // namespace

RecentConfig RecentConfig::forHome(const QString& home, const QString& shotsFolder) {
    RecentConfig config;
    config.home = trimmed(home);
    const QString data = config.home + QStringLiteral("/.local/share");
    config.excludedPrefixes = {data + QStringLiteral("/Trash/"), trimmed(shotsFolder)};
    for (const char* name : {"Downloads", "Desktop", "Documents", "Pictures"})
        config.scanFolders.append(config.home + u'/' + QLatin1String(name));
    config.xbelPath = data + QStringLiteral("/recently-used.xbel");
    return config;
}

RecentConfig RecentConfig::standard(const QString& shotsFolder) {
    RecentConfig config = forHome(QDir::homePath(), shotsFolder);
    const QString data = dataHome(config.home);
    config.excludedPrefixes = {data + QStringLiteral("/Trash/"), trimmed(shotsFolder)};
    config.xbelPath = data + QStringLiteral("/recently-used.xbel");
    config.scanFolders.clear();
    for (auto location : {QStandardPaths::DownloadLocation, QStandardPaths::DesktopLocation,
                          QStandardPaths::DocumentsLocation, QStandardPaths::PicturesLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && !config.scanFolders.contains(folder))
            config.scanFolders.append(trimmed(folder));
    }
    return config;
}
