#include "platform/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutexLocker>
#include <QStandardPaths>

namespace {

QStringList defaultFolders() {
    QStringList result;
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        result.append(dir + QStringLiteral("/applications"));
    return result;
}

} // namespace

DesktopEntries::DesktopEntries(QStringList dirs) : folders(dirs.isEmpty() ? defaultFolders() : std::move(dirs)) {}

QString DesktopEntries::nameFor(const QString& wmClass, const QString& instance) {
    if (wmClass.isEmpty())
        return {};
    QMutexLocker lock(&mutex);
    refreshIfChanged();
    if (const auto it = byWmClass.constFind(wmClass); it != byWmClass.constEnd())
        return it.value();
    for (const QString& key : {wmClass.toLower(), instance.toLower()})
        if (const auto it = byId.constFind(key); !key.isEmpty() && it != byId.constEnd())
            return it.value();
    return wmClass;
}

void DesktopEntries::refreshIfChanged() {
    // A folder's time changes when entries are added or removed: programs installed while we run
    // are found without reading every file on every capture.
    QHash<QString, QDateTime> now;
    for (const QString& folder : folders)
        now.insert(folder, QFileInfo(folder).lastModified());
    if (now == stamps)
        return;
    stamps = now;
    byWmClass.clear();
    byId.clear();
    // Later folders first, so that the user's own entries overwrite the system's.
    for (auto folder = folders.crbegin(); folder != folders.crend(); ++folder) {
        const QDir dir(*folder);
        for (const QString& file : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable))
            read(dir.filePath(file), file.chopped(8).toLower());
    }
}

void DesktopEntries::read(const QString& path, const QString& id) {
    QFile file(path);
    // Entries are a few hundred bytes; anything far larger is not one.
    if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QString language = QLocale().name();                              // e.g. de_DE
    const QString shortLanguage = language.section(QLatin1Char('_'), 0, 0); // de
    QString name, localName, shortName, wmClass;
    bool inEntry = false, hidden = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Name"))
            name = value;
        else if (key == QStringLiteral("Name[%1]").arg(language))
            localName = value;
        else if (key == QStringLiteral("Name[%1]").arg(shortLanguage))
            shortName = value;
        else if (key == QStringLiteral("StartupWMClass"))
            wmClass = value;
        else if (key == QStringLiteral("Hidden"))
            hidden = value == QStringLiteral("true");
    }
    if (hidden) {
        // A hidden entry in the user's folder deletes the system's entry of the same name.
        byId.remove(id);
        return;
    }
    const QString shown = !localName.isEmpty() ? localName : !shortName.isEmpty() ? shortName : name;
    if (shown.isEmpty())
        return;
    byId.insert(id, shown);
    if (!wmClass.isEmpty())
        byWmClass.insert(wmClass, shown);
}
