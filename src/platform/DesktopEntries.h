#pragma once
// Application names as the desktop shows them: the Name of the installed .desktop entry that
// belongs to a window's class, in the user's language.

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

class DesktopEntries {
public:
    // Folders searched in order, earlier ones winning; empty means $XDG_DATA_HOME and
    // $XDG_DATA_DIRS, each with "applications" appended.
    explicit DesktopEntries(QStringList folders = {});

    // The entry's name for a window of this WM_CLASS: the entry whose StartupWMClass is the class,
    // else the entry whose file name is the class or instance (ignoring case). The class itself
    // when none matches; empty when the class is empty.
    QString nameFor(const QString& wmClass, const QString& instance = {});

private:
    void refreshIfChanged();
    void read(const QString& path, const QString& id);

    QMutex mutex;
    QStringList folders;
    QHash<QString, QDateTime> stamps;
    QHash<QString, QString> byWmClass;
    QHash<QString, QString> byId; // lower-case file name without .desktop
};
