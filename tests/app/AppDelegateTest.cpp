#include "app/AppDelegate.h"
#include "library/LibraryFixtures.h"
#include "platform/Defaults.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePlatform.h"
#include "shortcuts/HotKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Gives each test its own home folder, restored afterwards.
struct ScopedHome {
    ScopedHome() : previous(qgetenv("HOME")) { qputenv("HOME", dir.path().toUtf8()); }
    ~ScopedHome() { qputenv("HOME", previous); }
    QString path(const char* relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    QTemporaryDir dir;
    QByteArray previous;
};

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(ShotsFolder, IsCreatedUnderPicturesOnEveryRead) {
    ScopedHome home;
    EXPECT_EQ(AppDelegate::shotsFolder(), home.path("Pictures/Pictolarium"));
    EXPECT_TRUE(QFileInfo(home.path("Pictures/Pictolarium")).isDir());
    QDir(home.path("Pictures/Pictolarium")).removeRecursively();
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo(home.path("Pictures/Pictolarium")).isDir());
}

TEST(ShotsFolder, TakesOverTheFirstLegacyFolderWithItsFiles) {
    ScopedHome home;
    touch(home.path("Pictures/Merin/a.png"));
    touch(home.path("Pictures/Tallowcap/b.png"));
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Pictolarium/a.png")));
    EXPECT_FALSE(QFileInfo::exists(home.path("Pictures/Merin")));
    // Once the folder exists the second legacy folder is left alone.
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Tallowcap/b.png")));
}

TEST(ShotsFolder, NeverMergesALegacyFolderIntoAnExistingOne) {
    ScopedHome home;
    touch(home.path("Pictures/Pictolarium/mine.png"));
    touch(home.path("Pictures/Merin/old.png"));
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Pictolarium/mine.png")));
    EXPECT_FALSE(QFileInfo::exists(home.path("Pictures/Pictolarium/old.png")));
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Merin/old.png")));
}

TEST(Launch, DropsStoredShortcutsOnceThenKeepsThem) {
    ScopedHome home;
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("standard"));
    defaults.set(QStringLiteral("shortcut.capture"), QByteArray(R"({"keyCode":0,"modifiers":256,"keyName":"A"})"));
    defaults.set(QStringLiteral("shortcut.library"), QByteArray(R"({"keyCode":11,"modifiers":256,"keyName":"B"})"));
    defaults.set(QStringLiteral("onboardingSeen"), true);
    FakeGlobalKeys keys;
    HotKeys registry(keys);
    FakePlatform platform;
    {
        AppDelegate delegate(defaults, platform);
        delegate.hotKeys = &registry;
        delegate.applicationDidFinishLaunching();
    }
    EXPECT_FALSE(defaults.contains(QStringLiteral("shortcut.capture")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("shortcut.library")));
    EXPECT_EQ(defaults.boolean(QStringLiteral("shortcutsV2")), true);

    // A shortcut chosen after the reset survives the next launch.
    defaults.set(QStringLiteral("shortcut.capture"), QByteArray(R"({"keyCode":0,"modifiers":256,"keyName":"A"})"));
    {
        AppDelegate delegate(defaults, platform);
        delegate.hotKeys = &registry;
        delegate.applicationDidFinishLaunching();
    }
    EXPECT_TRUE(defaults.contains(QStringLiteral("shortcut.capture")));
}

TEST(LatestShot, RefusesAPictureWhoseHeaderClaimsMoreThanTheDecodingBudget) {
    ScopedHome home;
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("standard"));
    FakePlatform platform;
    AppDelegate delegate(defaults, platform);
    // 65535 × 65535 pixels claimed, no pixels given.
    const QString huge = AppDelegate::shotsFolder() + QStringLiteral("/huge.png");
    LibraryFixtures::put(huge, QByteArray::fromHex("89504e470d0a1a0a") +
                                   LibraryFixtures::chunk("IHDR", QByteArray::fromHex("0000ffff0000ffff0806000000")) +
                                   LibraryFixtures::chunk("IDAT", QByteArray(16, 0)) +
                                   LibraryFixtures::chunk("IEND", {}));
    EXPECT_FALSE(delegate.latestShot().has_value());
}
