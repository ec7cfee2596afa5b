#include "library/ScreenshotSources.h"

#include "LibraryFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace LibraryFixtures;

TEST(ScreenshotSources, SystemFolderTakesTheFirstSettingThatIsAFolder) {
    QTemporaryDir dir;
    const QString home = dir.path();
    const QString config = home + "/.config";
    QDir().mkpath(home + "/Pictures/Screenshots");
    QDir().mkpath(home + "/Pictures/Bildschirmfotos");
    QDir().mkpath(home + "/kde");
    QDir().mkpath(home + "/xfce");
    QDir().mkpath(home + "/gnome");
    put(home + "/a-file", "x");

    struct Case {
        const char* name;
        QByteArray spectacle, xfce;
        QString gnome, shellName;
        QString expected;
    };
    const Case cases[] = {
        {"KDE url first", "[General]\ndefaultSaveLocation=file://" + home.toUtf8() + "/kde/\n",
         "[x]\nscreenshot_dir=file://" + home.toUtf8() + "/xfce\n", "'file://" + home + "/gnome'", "Screenshots",
         home + "/kde"},
        {"KDE tilde path", "[Save]\ndefaultSaveLocation=~/kde\n", "", "", "Screenshots", home + "/kde"},
        {"KDE names a file: Xfce", "[General]\ndefaultSaveLocation=" + home.toUtf8() + "/a-file\n",
         "screenshot_dir=file://" + home.toUtf8() + "/xfce\n", "", "Screenshots", home + "/xfce"},
        {"gnome-screenshot", "", "", "'file://" + home + "/gnome/'", "Screenshots", home + "/gnome"},
        {"missing folders: shell folder", "defaultSaveLocation=" + home.toUtf8() + "/gone\n", "", "''", "Screenshots",
         home + "/Pictures/Screenshots"},
        {"shell folder in German", "", "", "", "Bildschirmfotos", home + "/Pictures/Bildschirmfotos"},
        {"no shell folder: Pictures", "", "", "", "Captures", home + "/Pictures"},
    };
    for (const Case& c : cases) {
        QFile::remove(config + "/spectaclerc");
        QFile::remove(config + "/xfce4/xfce4-screenshooter");
        if (!c.spectacle.isEmpty())
            put(config + "/spectaclerc", c.spectacle);
        if (!c.xfce.isEmpty())
            put(config + "/xfce4/xfce4-screenshooter", c.xfce);
        ScreenshotSources::Places places{home, config, home + "/Pictures", c.gnome, c.shellName};
        EXPECT_EQ(ScreenshotSources::systemFolder(places), c.expected) << c.name;
    }
}

TEST(ScreenshotSources, ScreenshotsByNameOrByTheGnomeSoftwareText) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        QByteArray bytes;
        bool screenshot;
    };
    const Case cases[] = {
        {"Screenshot from 2026-01-01 10-00-00.png", "x", true},
        {"SCREEN SHOT 2.jpg", "x", true},
        {"Capture d\u2019\u00e9cran 1.png", "x", true},
        {"Capture d'e\u0301cran.png", "x", true},
        {"Ska\u0308rmavbild 2026.png", "x", true}, // decomposed: equal after NFC
        {"Pictolarium 2026-01-01 at 10.00.00.png", "x", false}, // a program's name says nothing of the content
        {"Bildschirmfoto vom 2026-01-01.png", "x", true},
        {"My screenshot.png", "x", false},
        {"holiday.png", png(), false},
        {"IMG_1.png", png("tEXt", "gnome-screenshot"), true},
        {"IMG_2.png", png("iTXt", "gnome-screenshot"), true},
        {"IMG_3.png", png("tEXt", "GIMP 2.10"), false},
        {"IMG_4.jpg", QByteArray("\x89PNG\r\n\x1a\n", 8), false}, // cut off after the signature
    };
    for (const Case& c : cases) {
        const QString path = put(dir.filePath(QString::fromUtf8(c.name)), c.bytes);
        EXPECT_EQ(ScreenshotSources::isScreenshot(path), c.screenshot) << c.name;
    }
    // A FIFO named like a picture is never opened (opening it would block).
    const QString fifo = dir.filePath("IMG_5.png");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(ScreenshotSources::isScreenshot(fifo));
}

TEST(ScreenshotSources, ImagesListsPicturesDirectlyInsideAndKeepsTheError) {
    QTemporaryDir dir;
    put(dir.filePath("a.PNG"));
    put(dir.filePath("b.gif"));
    put(dir.filePath(".c.png"));
    put(dir.filePath("sub/d.png"));
    QDir().mkpath(dir.filePath("folder.png"));
    put(dir.filePath("doc.pdf"));
    put(dir.filePath("noext"));

    const ScreenshotSources::Listing listing = ScreenshotSources::images(dir.path());
    QStringList names;
    for (const QString& file : listing.files)
        names.append(QFileInfo(file).fileName());
    names.sort();
    EXPECT_EQ(names, QStringList({"a.PNG", "doc.pdf", "folder.png"}));
    EXPECT_EQ(listing.error, 0);

    const ScreenshotSources::Listing missing = ScreenshotSources::images(dir.filePath("gone"));
    EXPECT_TRUE(missing.files.isEmpty());
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_FALSE(missing.errorText().isEmpty());
}
