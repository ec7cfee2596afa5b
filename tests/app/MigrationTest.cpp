#include "app/Migration.h"
#include "platform/Defaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Migration, CopiesOnlyMissingKeysAndOnlyOnce) {
    QTemporaryDir dir;
    Defaults standard(dir.path(), QStringLiteral("standard"));
    standard.set(QStringLiteral("picto.sizeScale"), 1.1);

    QVariantMap former{{QStringLiteral("picto.sizeScale"), 0.5},
                       {QStringLiteral("wheelModifier"), qlonglong(0x80000)},
                       {QStringLiteral("shortcut.capture"), QByteArray("{}")}};
    EXPECT_EQ(Migration::migrateFromPictolite(standard, former), 2);
    EXPECT_EQ(standard.number(QStringLiteral("picto.sizeScale")), 1.1);
    EXPECT_EQ(standard.integer(QStringLiteral("wheelModifier")), 0x80000);
    EXPECT_EQ(standard.data(QStringLiteral("shortcut.capture")), QByteArray("{}"));
    EXPECT_EQ(standard.boolean(QStringLiteral("migratedFromPictolite")), true);

    // New keys in the former domain after the migration ran are not copied.
    former.insert(QStringLiteral("onboardingSeen"), true);
    EXPECT_EQ(Migration::migrateFromPictolite(standard, former), 0);
    EXPECT_FALSE(standard.contains(QStringLiteral("onboardingSeen")));
}

TEST(Migration, WithoutAFormerDomainItStillMarksItselfDone) {
    QTemporaryDir dir;
    Defaults standard(dir.path(), QStringLiteral("standard"));
    EXPECT_EQ(Migration::migrateFromPictolite(standard, std::nullopt), 0);
    EXPECT_EQ(standard.boolean(QStringLiteral("migratedFromPictolite")), true);

    // Reading back from disk: the flag was written, not only held in memory.
    standard.flush();
    Defaults reread(dir.path(), QStringLiteral("standard"));
    EXPECT_TRUE(reread.boolValue(QStringLiteral("migratedFromPictolite")));
}
