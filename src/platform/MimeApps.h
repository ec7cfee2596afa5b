#pragma once
// Which installed applications open a kind of file, in the order the desktop's own opener tries them: the
// user's default from the mimeapps.list files, then the added associations, then every desktop entry that
// names the type, minus the removed associations.

#include <QString>
#include <QStringList>

#include <optional>

namespace MimeApps {

// One installed desktop entry that opens files.
struct Handler {
    QString id;   // the desktop file id: its path under applications/, "/" made "-"
    QString path; // the .desktop file
    QString name;
    QString exec; // the Exec line, string escapes undone
    QString icon;
};

// Where to look: the XDG config folders (mimeapps.list) and data folders (applications/ under each), the user's
// first, and the names of the current desktop (XDG_CURRENT_DESKTOP). Read from the environment when empty.
struct Places {
    QStringList configFolders;
    QStringList dataFolders;
    QStringList desktops;
    static Places fromEnvironment();
};

// The entries that open files of this type (its own, then those of the types it belongs to), the default first.
// Entries that do not run (no Exec, a TryExec not installed, Hidden, or run in a terminal) are left out.
QList<Handler> handlers(const QString& mimeType, const Places& places = Places::fromEnvironment());

// Whether the entry starts this program: our own entry, or one whose program is ours.
bool isOwn(const Handler& handler);

// The program and its arguments that open the file with the entry: its Exec line split as the desktop entry
// rules say, the file put for %f, %F (as a path) or %u, %U (as a URL), or added last when none of them is there.
struct Command {
    QString program;
    QStringList arguments;
};
std::optional<Command> command(const Handler& handler, const QString& file);

} // namespace MimeApps
