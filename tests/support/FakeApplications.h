#pragma once
// A desktop of the test's own making for "open with the default application": fresh XDG folders, and programs
// that only write down what they were asked to open, xdg-open among them. The environment is put back after.

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class FakeApplications {
public:
    FakeApplications() {
        const QByteArray root = QFile::encodeName(dir.path());
        const std::pair<const char*, QByteArray> environment[] = {
            {"XDG_DATA_HOME", root + "/data"},     {"XDG_DATA_DIRS", root + "/system"},
            {"XDG_CONFIG_HOME", root + "/config"}, {"XDG_CONFIG_DIRS", root + "/config-system"},
            {"XDG_CURRENT_DESKTOP", {}},           {"PATH", root + "/bin:" + qgetenv("PATH")}};
        for (const auto& [name, value] : environment) {
            saved.append({name, qgetenv(name)});
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        }
        for (const char* folder : {"data/applications", "system/applications", "config", "bin"})
            QDir().mkpath(dir.filePath(QLatin1String(folder)));
        program(QStringLiteral("xdg-open"));
    }
    ~FakeApplications() {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    // A program that writes its name and arguments to the log, as an entry's command.
    QString program(const QString& name) {
        const QString file = dir.filePath(QStringLiteral("bin/") + name);
        write(file, QStringLiteral("#!/bin/sh\necho \"%1 $*\" >> '%2'\n").arg(name, logPath()));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return u'"' + file + u'"';
    }
    // An entry of the user's (with `system`, of the system's) that opens PNG pictures with the command `exec`.
    void entry(const QString& id, const QString& exec, bool system = false) {
        write(dir.filePath(QLatin1String(system ? "system" : "data") + QStringLiteral("/applications/") + id),
              QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %F\nMimeType=image/png;\n")
                  .arg(id, exec));
    }
    void defaultFor(const QString& id) {
        write(dir.filePath(QStringLiteral("config/mimeapps.list")),
              QStringLiteral("[Default Applications]\nimage/png=%1\n").arg(id));
    }
    // What the programs were asked, a line each, once `lines` are there; with none expected, what came in 300 ms.
    QStringList log(int lines = 1) {
        QStringList out;
        (void)QTest::qWaitFor(
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

private:
    QString logPath() const { return dir.filePath(QStringLiteral("opened.log")); }
    static void write(const QString& path, const QString& text) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }
    QTemporaryDir dir;
    QList<std::pair<const char*, QByteArray>> saved;
};
