#pragma once
// A desktop of the test's own making for "open with the default application": desktop entries and a
// mimeapps.list in fresh XDG folders, and programs that only write down what they were asked to open, xdg-open
// among them. Everything is put back when it goes.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

class FakeApplications {
public:
    FakeApplications() {
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP", "PATH"})
            saved.append({name, qgetenv(name)});
        QDir().mkpath(dir.filePath(QStringLiteral("data/applications")));
        QDir().mkpath(dir.filePath(QStringLiteral("system/applications")));
        QDir().mkpath(dir.filePath(QStringLiteral("config")));
        QDir().mkpath(dir.filePath(QStringLiteral("bin")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dir.filePath(QStringLiteral("system"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dir.filePath(QStringLiteral("config-system"))));
        qunsetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", QFile::encodeName(dir.filePath(QStringLiteral("bin"))) + ':' + qgetenv("PATH"));
        program(QStringLiteral("xdg-open"));
    }
    ~FakeApplications() {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    // A program in the test's bin folder that writes its name and arguments to the log.
    QString program(const QString& name) {
        const QString path = dir.filePath(QStringLiteral("bin/") + name);
        QFile script(path);
        script.open(QIODevice::WriteOnly | QIODevice::Truncate);
        script.write(QStringLiteral("#!/bin/sh\necho \"%1 $*\" >> '%2'\n").arg(name, logPath()).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    // An entry that opens PNG pictures with a program of the test's; `system` puts it among the system's.
    void entry(const QString& id, const QString& program, bool system = false) {
        entryRunning(id, this->program(program), system);
    }
    void entryRunning(const QString& id, const QString& path, bool system = false) {
        QFile file(dir.filePath((system ? QStringLiteral("system") : QStringLiteral("data")) +
                                QStringLiteral("/applications/") + id));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=\"%2\" %F\n"
                                  "MimeType=image/png;image/jpeg;\n")
                       .arg(id, path)
                       .toUtf8());
    }
    // The user's default for PNG pictures.
    void defaultFor(const QString& id) {
        QFile file(dir.filePath(QStringLiteral("config/mimeapps.list")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QStringLiteral("[Default Applications]\nimage/png=%1\n").arg(id).toUtf8());
    }
    // What the programs were asked, one line each, once `lines` are there (or after five seconds); with none
    // expected, what came within 300 ms.
    QStringList log(int lines = 1) {
        QStringList out;
        QTest::qWaitFor(
            [&] {
                QFile file(logPath());
                out = file.open(QIODevice::ReadOnly)
                          ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                          : QStringList();
                return lines > 0 && out.size() >= lines;
            },
            lines == 0 ? 300 : 5000);
        return out;
    }
    void clearLog() { QFile::remove(logPath()); }

private:
    QString logPath() const { return dir.filePath(QStringLiteral("opened.log")); }
    QTemporaryDir dir;
    QList<std::pair<const char*, QByteArray>> saved;
};
