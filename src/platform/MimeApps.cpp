#include "platform/MimeApps.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

namespace MimeApps {

namespace {

QStringList folderList(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    QStringList folders;
    for (const QString& folder : (value.isEmpty() ? fallback : value).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(folder))
            folders.append(folder);
    return folders;
}

QString homeFolder(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : QDir::homePath() + fallback;
}

// The groups of a desktop entry or mimeapps.list file: group name → key → value (only the keys we read).
using Groups = QHash<QString, QHash<QString, QString>>;

Groups readGroups(const QString& path) {
    Groups groups;
    QFile file(path);
    // Such files are a few kilobytes; anything far larger is not one.
    if (file.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        // Earlier lines win, as the files' readers have it.
        if (!groups[group].contains(key))
            groups[group].insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

QStringList listValue(const QString& value) {
    QStringList out;
    for (const QString& part : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            out.append(part.trimmed());
    return out;
}

// \s, \n, \t, \r and \\ of a string value.
QString unescapeValue(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        default:
            out.append(next);
        }
    }
    return out;
}

struct Entry {
    Handler handler;
    QStringList types;
    bool usable = false;
};

// Every installed entry by id, the first data folder's winning, in each folder's name order.
struct Installed {
    QHash<QString, Entry> byId;
    QList<QStringList> idsByFolder;
};

Installed installed(const QStringList& dataFolders) {
    Installed all;
    for (const QString& data : dataFolders) {
        const QString root = QDir(data).filePath(QStringLiteral("applications"));
        QStringList ids;
        QDirIterator it(root, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories);
        QList<std::pair<QString, QString>> found;
        while (it.hasNext()) {
            const QString path = it.next();
            found.append({QDir(root).relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-')), path});
        }
        std::sort(found.begin(), found.end());
        for (const auto& [id, path] : found) {
            ids.append(id);
            if (all.byId.contains(id))
                continue;
            const Groups groups = readGroups(path);
            const QHash<QString, QString> group = groups.value(QStringLiteral("Desktop Entry"));
            Entry entry;
            entry.handler = {id, path, group.value(QStringLiteral("Name")),
                             unescapeValue(group.value(QStringLiteral("Exec"))), group.value(QStringLiteral("Icon"))};
            entry.types = listValue(group.value(QStringLiteral("MimeType")));
            const QString tryExec = unescapeValue(group.value(QStringLiteral("TryExec")));
            entry.usable =
                group.value(QStringLiteral("Type"), QStringLiteral("Application")) == QStringLiteral("Application") &&
                !entry.handler.exec.isEmpty() && group.value(QStringLiteral("Hidden")) != u"true" &&
                group.value(QStringLiteral("Terminal")) != u"true" &&
                (tryExec.isEmpty() || !QStandardPaths::findExecutable(tryExec).isEmpty() ||
                 QFileInfo(tryExec).isExecutable());
            // A hidden entry of the user's hides the system's of the same id as well.
            all.byId.insert(id, entry);
        }
        all.idsByFolder.append(ids);
    }
    return all;
}

// The mimeapps.list files, most preferred first.
QStringList listFiles(const Places& places) {
    QStringList folders = places.configFolders;
    for (const QString& data : places.dataFolders)
        folders.append(QDir(data).filePath(QStringLiteral("applications")));
    QStringList files;
    for (const QString& folder : folders) {
        for (const QString& desktop : places.desktops)
            files.append(QDir(folder).filePath(desktop.toLower() + QStringLiteral("-mimeapps.list")));
        files.append(QDir(folder).filePath(QStringLiteral("mimeapps.list")));
    }
    return files;
}

// The Exec arguments split at blanks, with double quotes kept together and their escapes undone.
std::optional<QStringList> splitExec(const QString& exec) {
    QStringList args;
    QString current;
    bool inQuotes = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringLiteral("\"`$\\").contains(exec.at(i + 1))) {
                current.append(exec.at(++i));
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = any = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (any)
                args.append(current);
            current.clear();
            any = false;
        } else {
            current.append(c);
            any = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (any)
        args.append(current);
    return args;
}

} // namespace

Places Places::fromEnvironment() {
    Places places;
    places.configFolders = QStringList{homeFolder("XDG_CONFIG_HOME", QStringLiteral("/.config"))} +
                           folderList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    places.dataFolders = QStringList{homeFolder("XDG_DATA_HOME", QStringLiteral("/.local/share"))} +
                         folderList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    places.desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return places;
}

QList<Handler> handlers(const QString& mimeType, const Places& places) {
    const Installed all = installed(places.dataFolders);
    QStringList types{mimeType};
    const QMimeType known = QMimeDatabase().mimeTypeForName(mimeType);
    if (known.isValid()) {
        types.append(known.aliases());
        for (const QString& parent : known.allAncestors())
            if (parent != u"application/octet-stream")
                types.append(parent);
    }
    const QStringList files = listFiles(places);
    QList<Groups> lists;
    for (const QString& file : files)
        lists.append(QFileInfo(file).isFile() ? readGroups(file) : Groups());

    QStringList order;
    QSet<QString> removed;
    const auto add = [&](const QString& id) {
        const Entry entry = all.byId.value(id);
        if (entry.usable && !removed.contains(id) && !order.contains(id))
            order.append(id);
    };
    for (const QString& type : std::as_const(types)) {
        // The first default of the most preferred file that names one that is installed.
        bool haveDefault = false;
        for (const Groups& list : std::as_const(lists)) {
            for (const QString& id : listValue(list.value(QStringLiteral("Default Applications")).value(type))) {
                const Entry entry = all.byId.value(id);
                if (entry.usable && !haveDefault) {
                    add(id);
                    haveDefault = true;
                }
            }
            if (haveDefault)
                break;
        }
        // Associations added by a file stand unless a more preferred one removed them.
        for (const Groups& list : std::as_const(lists)) {
            for (const QString& id : listValue(list.value(QStringLiteral("Added Associations")).value(type)))
                add(id);
            for (const QString& id : listValue(list.value(QStringLiteral("Removed Associations")).value(type)))
                removed.insert(id);
        }
        for (const QStringList& ids : all.idsByFolder)
            for (const QString& id : ids)
                if (all.byId.value(id).types.contains(type))
                    add(id);
    }
    QList<Handler> out;
    for (const QString& id : std::as_const(order))
        out.append(all.byId.value(id).handler);
    return out;
}

bool isOwn(const Handler& handler) {
    if (handler.id == QStringLiteral("pictolarium.desktop"))
        return true;
    const std::optional<QStringList> args = splitExec(handler.exec);
    if (!args || args->isEmpty())
        return false;
    QString program = args->first();
    if (!QDir::isAbsolutePath(program))
        program = QStandardPaths::findExecutable(program);
    const QString ours = QCoreApplication::applicationFilePath();
    return !program.isEmpty() && !ours.isEmpty() &&
           QFileInfo(program).canonicalFilePath() == QFileInfo(ours).canonicalFilePath();
}

std::optional<Command> command(const Handler& handler, const QString& file) {
    const std::optional<QStringList> split = splitExec(handler.exec);
    if (!split || split->isEmpty())
        return std::nullopt;
    QStringList args;
    bool placed = false;
    for (const QString& arg : *split) {
        if (arg == u"%f" || arg == u"%F") {
            args.append(file);
            placed = true;
        } else if (arg == u"%u" || arg == u"%U") {
            args.append(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
            placed = true;
        } else if (arg == u"%i") {
            if (!handler.icon.isEmpty())
                args << QStringLiteral("--icon") << handler.icon;
        } else {
            QString out;
            for (qsizetype i = 0; i < arg.size(); ++i) {
                if (arg.at(i) != QLatin1Char('%') || i + 1 == arg.size()) {
                    out.append(arg.at(i));
                    continue;
                }
                const QChar code = arg.at(++i);
                if (code == QLatin1Char('%'))
                    out.append(code);
                else if (code == QLatin1Char('c'))
                    out.append(handler.name);
                else if (code == QLatin1Char('k'))
                    out.append(handler.path);
                // Every other code, the deprecated ones included, stands for nothing.
            }
            if (!out.isEmpty() || arg.isEmpty())
                args.append(out);
        }
    }
    if (args.isEmpty())
        return std::nullopt;
    if (!placed)
        args.append(file);
    QString program = args.takeFirst();
    if (!QDir::isAbsolutePath(program))
        program = QStandardPaths::findExecutable(program);
    if (program.isEmpty())
        return std::nullopt;
    return Command{program, args};
}

} // namespace MimeApps
