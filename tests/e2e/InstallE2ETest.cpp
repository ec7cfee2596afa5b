// Installed for daily use: `make install`'s step into a throw-away prefix, the desktop entry as a desktop
// reads it, the program started by its Exec line with a picture, the login item pointing at the installed
// program, and `make uninstall` taking away exactly what was put there.

#include "Desktop.h"
#include "imaging/HeifCodec.h"
#include "imaging/IsolatedDecode.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

// Everything under root, folders with a trailing slash.
QSet<QString> filesUnder(const QString& root) {
    QSet<QString> files;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(it.fileInfo().isDir() ? path + QLatin1Char('/') : path);
    }
    return files;
}

// The processes running this very program file, found by what they run rather than by a name.
QList<qint64> runningCopies(const QString& program) {
    QList<qint64> pids;
    const QString wanted = QFileInfo(program).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number &&
            QFileInfo(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")).canonicalFilePath() == wanted)
            pids.append(pid);
    }
    return pids;
}

QString entryValue(const QString& entry, const QString& key) {
    for (const QString& line : entry.split(QLatin1Char('\n')))
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    return {};
}

// An Exec value split into its arguments: blanks separate them, double quotes hold blanks, and inside
// quotes a backslash takes the next character as it is.
QStringList execArguments(const QString& exec) {
    QStringList args;
    QString current;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < exec.size()) {
            current += exec[++i];
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (any || !current.isEmpty())
                args << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        args << current;
    return args;
}

} // namespace

TEST(Install, TheDesktopFindsTheProgramOpensPicturesWithItAndUninstallTakesItAway) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    // The prefix has a space in its name, as a user's folder may; the desktop reads its entries from there.
    const QString prefix = desktop.folder(QStringLiteral("my prefix"));
    const QString share = prefix + QStringLiteral("/share");
    desktop.setEnvironment(QStringLiteral("XDG_DATA_HOME"), share);
    desktop.setEnvironment(QStringLiteral("XDG_DATA_DIRS"), share + QStringLiteral(":/usr/share"));
    // Something of the user's already in the prefix stays there through install and uninstall.
    QDir().mkpath(prefix + QStringLiteral("/bin"));
    QFile own(prefix + QStringLiteral("/bin/users-own-tool"));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("#!/bin/sh\n");
    own.close();
    const QSet<QString> before = filesUnder(prefix);

    int code = -1;
    const QString said = desktop.run(QStringLiteral(SOURCE_DIR "/scripts/install.sh"),
                                     {QStringLiteral(BUILD_DIR), prefix}, &code, 120000);
    ASSERT_EQ(code, 0) << said.toStdString();
    for (const char* file :
         {"/bin/pictolarium", "/bin/pictolarium-screencapture", "/bin/pictolarium-decode", "/bin/pictolarium-pdfwrite"})
        EXPECT_TRUE(QFileInfo(prefix + QLatin1String(file)).isExecutable()) << file;
    EXPECT_TRUE(QFileInfo::exists(share + QStringLiteral("/icons/hicolor/scalable/apps/pictolarium.svg")));
    const QString entryPath = share + QStringLiteral("/applications/pictolarium.desktop");
    QFile entryFile(entryPath);
    ASSERT_TRUE(entryFile.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(entryFile.readAll());

    // The entry as desktops check it, and offered for every kind of file the program opens.
    const QString validation = desktop.run(QStringLiteral("desktop-file-validate"), {entryPath}, &code);
    EXPECT_EQ(code, 0) << validation.toStdString();
    EXPECT_EQ(validation.trimmed().toStdString(), "");
    for (const char* type : {"image/png", "image/jpeg", "image/webp", "image/heic", "image/tiff", "application/pdf"}) {
        const QString apps = desktop.run(QStringLiteral("gio"), {QStringLiteral("mime"), QLatin1String(type)});
        const QString registered = apps.section(QStringLiteral("Registered applications:"), 1);
        EXPECT_TRUE(registered.contains(QStringLiteral("pictolarium.desktop"))) << type << ": " << apps.toStdString();
    }

    // Opened from the file manager: the Exec line with the picture for %F starts the installed program,
    // which shows the picture as a card (decoded by its own helper program beside it).
    ASSERT_TRUE(desktop.writeCardSettings({}));
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(QColor(200, 40, 160));
    const QString png = desktop.home() + QStringLiteral("/Holiday photo.png");
    ASSERT_TRUE(picture.save(png));
    QStringList command = execArguments(entryValue(entry, QStringLiteral("Exec")));
    ASSERT_FALSE(command.isEmpty()) << entry.toStdString();
    EXPECT_EQ(command.first(), prefix + QStringLiteral("/bin/pictolarium"));
    command.replaceInStrings(QStringLiteral("%F"), png);
    desktop.moveTo(QPoint(640, 400));
    QProcess* app = desktop.start(command.first(), command.mid(1));
    ASSERT_TRUE(app->state() == QProcess::Running);
    const quint32 card = desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), true, 10000);
    ASSERT_NE(card, 0u) << "no card for the picture";
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/installed-open-with.png"));
    const QRect shown = desktop.clientGeometry(card);
    int magenta = 0;
    for (int y = shown.top(); y <= shown.bottom(); y += 4)
        for (int x = shown.left(); x <= shown.right(); x += 4)
            magenta += screen.pixelColor(x, y) == QColor(200, 40, 160);
    EXPECT_GT(magenta, 1000) << "the card does not show the picture";

    // The large libraries' modules are installed with the program and found from its prefix: the installed
    // decoding helper reads a HEIC picture through the prefix's HEIC module (the build tree is not nearby).
    for (const char* module : {"/lib/pictolarium/pictolarium-vision.so", "/lib/pictolarium/pictolarium-heif.so"})
        EXPECT_TRUE(QFileInfo::exists(prefix + QLatin1String(module))) << module;
    const QString heic = desktop.home() + QStringLiteral("/Holiday photo.heic");
    QFile heicFile(heic);
    ASSERT_TRUE(heicFile.open(QIODevice::WriteOnly));
    ASSERT_GT(heicFile.write(HeifCodec::encode(picture, 0.9)), 0);
    heicFile.close();
    IsolatedDecode::setProgram(prefix + QStringLiteral("/bin/pictolarium-decode"));
    IsolatedDecode::Job job;
    job.source = heic;
    job.format = ImageFormat::heic;
    const IsolatedDecode::Result decoded = IsolatedDecode::run(job);
    ASSERT_TRUE(decoded.ok()) << decoded.failure.toStdString();
    const QColor middle = decoded.image.pixelColor(150, 100);
    EXPECT_NEAR(middle.red(), 200, 16);
    EXPECT_NEAR(middle.blue(), 160, 16);

    // Launch at Login from the panel menu: the autostart entry names the installed program.
    desktop.key(QStringLiteral("Escape"));
    const QPoint icon = desktop.trayIcon();
    ASSERT_FALSE(icon.isNull()) << "no panel icon";
    desktop.click(icon);
    Desktop::pause(500);
    for (int i = 0; i < 3; ++i)
        desktop.key(QStringLiteral("Up"));
    desktop.key(QStringLiteral("Return"));
    const QString autostart = desktop.configHome() + QStringLiteral("/autostart/pictolarium.desktop");
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(autostart); }, 5000));
    QFile login(autostart);
    ASSERT_TRUE(login.open(QIODevice::ReadOnly));
    const QStringList loginCommand =
        execArguments(entryValue(QString::fromUtf8(login.readAll()), QStringLiteral("Exec")));
    EXPECT_EQ(loginCommand, QStringList{prefix + QStringLiteral("/bin/pictolarium")});

    // Uninstalled: every file the install added is gone, the user's own file stays.
    app->terminate();
    app->waitForFinished(5000);
    const QString removed = desktop.run(QStringLiteral(SOURCE_DIR "/scripts/uninstall.sh"), {prefix}, &code, 60000);
    ASSERT_EQ(code, 0) << removed.toStdString();
    // Gone too are the folders the install made; the program's own data folder (the prefix is the data home
    // here) is the user's.
    QSet<QString> after = filesUnder(prefix);
    after.removeIf([&](const QString& path) { return path.startsWith(share + QStringLiteral("/Pictolarium/")); });
    after.remove(share + QStringLiteral("/"));
    EXPECT_TRUE(after == before) << "left: " << QStringList((after - before).values()).join(u' ').toStdString()
                                 << "; gone: " << QStringList((before - after).values()).join(u' ').toStdString();
    // What stays is said, with where it is.
    EXPECT_TRUE(removed.contains(desktop.configHome() + QStringLiteral("/Pictolarium"))) << removed.toStdString();
    EXPECT_TRUE(removed.contains(QStringLiteral("Pictolarium/llm"))) << removed.toStdString();
}

// Opened by the launchers of a plain X session: xdg-open without a desktop environment reads the Exec line by
// splitting it at blanks, gio parses it by the rules. Either starts the installed program with the picture.
TEST(Install, XdgOpenAndGioOpenStartTheInstalledProgramWithAPicture) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    const QString prefix = desktop.folder(QStringLiteral("prefix"));
    const QString share = prefix + QStringLiteral("/share");
    desktop.setEnvironment(QStringLiteral("XDG_DATA_HOME"), share);
    desktop.setEnvironment(QStringLiteral("XDG_DATA_DIRS"), share + QStringLiteral(":/usr/share"));
    int code = -1;
    const QString said = desktop.run(QStringLiteral(SOURCE_DIR "/scripts/install.sh"),
                                     {QStringLiteral(BUILD_DIR), prefix}, &code, 120000);
    ASSERT_EQ(code, 0) << said.toStdString();
    const QString program = prefix + QStringLiteral("/bin/pictolarium");
    // The user chose us for PNG pictures.
    QFile choice(desktop.configHome() + QStringLiteral("/mimeapps.list"));
    ASSERT_TRUE(QDir().mkpath(desktop.configHome()) && choice.open(QIODevice::WriteOnly));
    choice.write("[Default Applications]\nimage/png=pictolarium.desktop\n");
    choice.close();
    ASSERT_TRUE(desktop.writeCardSettings({}));
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(QColor(40, 160, 200));
    const QString png = desktop.home() + QStringLiteral("/beach.png");
    ASSERT_TRUE(picture.save(png));
    desktop.moveTo(QPoint(640, 400));

    // A session without a desktop environment, as xdg-open tells them apart.
    const QStringList plainSession =
        QStringLiteral("-u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u XDG_SESSION_DESKTOP -u KDE_FULL_SESSION "
                       "-u GNOME_DESKTOP_SESSION_ID -u MATE_DESKTOP_SESSION_ID")
            .split(u' ');
    const std::pair<const char*, QStringList> launchers[] = {
        {"xdg-open", plainSession + QStringList{QStringLiteral("xdg-open"), png}},
        {"gio open", {QStringLiteral("gio"), QStringLiteral("open"), png}},
    };
    for (const auto& [name, command] : launchers) {
        QProcess* launcher = desktop.start(QStringLiteral("env"), command);
        const quint32 card = desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), true, 10000);
        EXPECT_NE(card, 0u) << name << ": no card for the picture";
        const QList<qint64> copies = runningCopies(program);
        EXPECT_EQ(copies.size(), 1) << name;
        for (const qint64 pid : copies)
            ::kill(pid_t(pid), SIGTERM);
        EXPECT_TRUE(Desktop::waitUntil([&] { return runningCopies(program).isEmpty(); }, 10000)) << name;
        // xdg-open waits for the program; gio hands it over and is gone.
        EXPECT_TRUE(launcher->state() == QProcess::NotRunning || launcher->waitForFinished(5000)) << name;
        EXPECT_EQ(launcher->exitCode(), 0) << name;
        desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), false, 3000);
    }
}
