// The freedesktop Trash: records a file manager can restore from, and failures that leave the file alone.

#include "platform/Trash.h"
#include "platform/FileOps.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The record's Path, decoded the way a file manager restoring the file decodes it.
QString recordedPath(const QString& infoPath) {
    const QList<QByteArray> lines = contents(infoPath).split('\n');
    for (const QByteArray& line : lines)
        if (line.startsWith("Path="))
            return QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5)));
    return {};
}

class TrashTest : public testing::Test {
protected:
    void SetUp() override {
        QDir(Trash::homeTrash()).removeRecursively();
        QFile::remove(Trash::homeTrash());
    }
    QTemporaryDir dir{TestEnv::home() + QStringLiteral("/trash-XXXXXX")};
};

} // namespace

TEST_F(TrashTest, RecordsTheEncodedPathSoTheFileCanBeRestored) {
    const QString names[] = {QStringLiteral("photo.png"), QStringLiteral("50% off #1 & more?.png"),
                             QStringLiteral("line\nbreak=odd.jpg"), QStringLiteral("Grüße 写真.heic")};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.path() + QLatin1Char('/') + name;
        put(path, name.toUtf8());
        const Trash::Result r = Trash::moveToTrash(path);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_EQ(r.trashedPath, Trash::homeTrash() + QStringLiteral("/files/") + name);

        const QByteArray info = contents(r.infoPath);
        EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=/"));
        EXPECT_FALSE(info.mid(12).contains(' ')) << "the path is escaped";
        EXPECT_TRUE(QRegularExpression(QStringLiteral("\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$"))
                        .match(QString::fromLatin1(info))
                        .hasMatch());
        // Restoring by the record puts the same bytes back under the same name.
        ASSERT_EQ(FileOps::renameNoReplace(r.trashedPath, recordedPath(r.infoPath)), 0);
        EXPECT_EQ(contents(path), name.toUtf8());
    }
}

TEST_F(TrashTest, SameNamesGetTheirOwnEntriesAndNothingIsReplaced) {
    for (const char* folder : {"a", "b", "c"}) {
        QDir().mkpath(dir.path() + QLatin1Char('/') + QLatin1String(folder));
        put(dir.path() + QLatin1Char('/') + QLatin1String(folder) + QStringLiteral("/shot.png"), folder);
    }
    ASSERT_TRUE(Trash::moveToTrash(dir.path() + QStringLiteral("/a/shot.png")).ok());
    // A stray file without a record holds the next name; it must survive.
    put(Trash::homeTrash() + QStringLiteral("/files/shot 2.png"), "stray");
    const Trash::Result b = Trash::moveToTrash(dir.path() + QStringLiteral("/b/shot.png"));
    const Trash::Result c = Trash::moveToTrash(dir.path() + QStringLiteral("/c/shot.png"));
    ASSERT_TRUE(b.ok() && c.ok());
    EXPECT_EQ(QFileInfo(b.trashedPath).fileName(), QStringLiteral("shot 3.png"));
    EXPECT_EQ(QFileInfo(c.trashedPath).fileName(), QStringLiteral("shot 4.png"));
    EXPECT_EQ(contents(Trash::homeTrash() + QStringLiteral("/files/shot.png")), "a");
    EXPECT_EQ(contents(Trash::homeTrash() + QStringLiteral("/files/shot 2.png")), "stray");
    EXPECT_EQ(contents(b.trashedPath), "b");
    EXPECT_EQ(contents(c.trashedPath), "c");
    QStringList infos = QDir(Trash::homeTrash() + QStringLiteral("/info")).entryList(QDir::Files);
    infos.sort();
    EXPECT_EQ(infos, (QStringList{"shot 3.png.trashinfo", "shot 4.png.trashinfo", "shot.png.trashinfo"}));

    // A dotfile is all name: its second copy is ".hidden 2", not " 2.hidden".
    for (const char* folder : {"a", "b"})
        put(dir.path() + QLatin1Char('/') + QLatin1String(folder) + QStringLiteral("/.hidden"), folder);
    ASSERT_TRUE(Trash::moveToTrash(dir.path() + QStringLiteral("/a/.hidden")).ok());
    const Trash::Result hidden = Trash::moveToTrash(dir.path() + QStringLiteral("/b/.hidden"));
    ASSERT_TRUE(hidden.ok());
    EXPECT_EQ(QFileInfo(hidden.trashedPath).fileName(), QStringLiteral(".hidden 2"));
}

TEST_F(TrashTest, FailuresLeaveTheFileAndNoRecord) {
    const QString path = dir.path() + QStringLiteral("/keep.png");
    put(path, "keep");
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString target;
    };
    const Case cases[] = {
        {"trash is a plain file", [] { put(Trash::homeTrash(), "x"); }, path},
        {"files folder is a plain file",
         [] {
             QDir().mkpath(Trash::homeTrash() + QStringLiteral("/info"));
             put(Trash::homeTrash() + QStringLiteral("/files"), "x");
         },
         path},
        {"file is missing", [] {}, dir.path() + QStringLiteral("/gone.png")},
        {"folder is missing", [] {}, dir.path() + QStringLiteral("/gone/x.png")},
        {"a folder", [] {}, dir.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        const Trash::Result r = Trash::moveToTrash(c.target);
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(r.error.startsWith(QStringLiteral("Couldn't move "))) << r.error.toStdString();
        EXPECT_EQ(contents(path), "keep");
        EXPECT_TRUE(QDir(Trash::homeTrash() + QStringLiteral("/info")).entryList(QDir::Files).isEmpty());
    }
}

TEST_F(TrashTest, FilesOnAnotherDeviceUseThatVolumesTrash) {
    struct stat shm, home;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(QFile::encodeName(TestEnv::home()).constData(), &home) != 0 ||
        shm.st_dev == home.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable second device at /dev/shm";
    QTemporaryDir volume(QStringLiteral("/dev/shm/pictolarium-trash-XXXXXX"));
    const QString path = volume.path() + QStringLiteral("/far away.png");
    put(path, "far");
    const Trash::Result r = Trash::moveToTrash(path);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    const QString trashDir = QStringLiteral("/dev/shm/.Trash-") + QString::number(::getuid());
    EXPECT_TRUE(r.trashedPath.startsWith(trashDir + QStringLiteral("/files/"))) << r.trashedPath.toStdString();
    EXPECT_EQ(contents(r.trashedPath), "far");
    // Records in a volume's Trash are relative to the volume's top directory.
    const QString stored = recordedPath(r.infoPath);
    EXPECT_EQ(QStringLiteral("/dev/shm/") + stored, path);
    QFile::remove(r.trashedPath);
    QFile::remove(r.infoPath);
    QDir().rmdir(trashDir + QStringLiteral("/files"));
    QDir().rmdir(trashDir + QStringLiteral("/info"));
    QDir().rmdir(trashDir);
}
