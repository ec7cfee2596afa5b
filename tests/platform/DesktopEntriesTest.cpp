#include "platform/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

void writeEntry(const QString& folder, const QString& file, const QString& text) {
    QDir().mkpath(folder);
    QFile f(folder + QLatin1Char('/') + file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

TEST(DesktopEntries, NamesWindowsByTheirInstalledEntry) {
    QTemporaryDir dir;
    const QString user = dir.filePath(QStringLiteral("user")), system = dir.filePath(QStringLiteral("system"));
    writeEntry(system, QStringLiteral("debian-xterm.desktop"),
               QStringLiteral("[Desktop Entry]\nName=XTerm\nStartupWMClass=XTerm\n"));
    writeEntry(system, QStringLiteral("firefox.desktop"),
               QStringLiteral("[Desktop Entry]\nName=Firefox Web Browser\nName[de]=Firefox-Webbrowser\n"
                              "[Desktop Action new-window]\nName=New Window\n"));
    writeEntry(system, QStringLiteral("org.example.Editor.desktop"),
               QStringLiteral("[Desktop Entry]\nName=Editor\nStartupWMClass=Gnome-editor\n"));
    writeEntry(system, QStringLiteral("secret.desktop"), QStringLiteral("[Desktop Entry]\nName=Secret\n"));
    writeEntry(system, QStringLiteral("nameless.desktop"), QStringLiteral("[Desktop Entry]\nExec=x\n"));
    // The user's own entries win over the system's, and a hidden one removes it.
    writeEntry(user, QStringLiteral("org.example.Editor.desktop"),
               QStringLiteral("[Desktop Entry]\nName=My Editor\nStartupWMClass=Gnome-editor\n"));
    writeEntry(user, QStringLiteral("secret.desktop"), QStringLiteral("[Desktop Entry]\nHidden=true\n"));

    DesktopEntries entries({user, system});
    const struct {
        const char* wmClass;
        const char* instance;
        const char* expected;
    } cases[] = {
        {"XTerm", "xterm", "XTerm"},
        {"firefox", "Navigator", "Firefox Web Browser"},
        {"Firefox", "Navigator", "Firefox Web Browser"},
        {"Navigator-X", "firefox", "Firefox Web Browser"},
        {"Gnome-editor", "gnome-editor", "My Editor"},
        {"Secret", "secret", "Secret"},
        {"Nameless", "nameless", "Nameless"},
        {"Unknown-app", "unknown", "Unknown-app"},
        {"", "xterm", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(entries.nameFor(QLatin1String(c.wmClass), QLatin1String(c.instance)), QLatin1String(c.expected))
            << c.wmClass;

    const QLocale before;
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    DesktopEntries german({user, system});
    EXPECT_EQ(german.nameFor(QStringLiteral("firefox")), QStringLiteral("Firefox-Webbrowser"));
    QLocale::setDefault(before);

    // A program installed while we run is found at the next look-up.
    QThread::msleep(20);
    writeEntry(user, QStringLiteral("newcomer.desktop"),
               QStringLiteral("[Desktop Entry]\nName=New Comer\nStartupWMClass=NewComer\n"));
    EXPECT_EQ(entries.nameFor(QStringLiteral("NewComer")), QStringLiteral("New Comer"));
}

} // namespace
