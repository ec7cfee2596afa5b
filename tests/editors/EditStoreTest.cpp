// Stored edits: reopening, the link by attribute or index, damaged and stale records, pruning.

#include "editors/EditStore.h"
#include "imaging/ShotFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QImage picture(int w, int h, QColor colour = Qt::gray) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

std::vector<ShapeRecord> arrowRecords() {
    Annotation::Shape shape{Annotation::Arrow{{10, 10}, {50, 40}}, Annotation::palette()[0], 4, false, {}};
    return {ShapeRecord::of(shape)};
}

QString recordFile(const QString& id, const char* ext) {
    return EditStore::dir() + QLatin1Char('/') + id + QLatin1String(ext);
}

// Each case starts with no store, the system's attributes and a picture of its own.
class EditStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(EditStore::dir()).removeRecursively();
        QFile::remove(EditStore::indexPath());
        EditStore::attributes() = EditStore::systemAttributes();
        file = QUrl::fromLocalFile(folder.filePath(QStringLiteral("shot annotated.png")));
        ShotFiles::write(picture(80, 60, Qt::red), file);
    }
    void TearDown() override { EditStore::attributes() = EditStore::systemAttributes(); }

    // An attribute store in memory, so that the cases don't depend on the test folder's file system.
    void memoryAttributes(bool refuse) {
        EditStore::attributes().read = [this](const QString& path) -> std::optional<QByteArray> {
            if (!stored.contains(path))
                return std::nullopt;
            return stored.value(path);
        };
        EditStore::attributes().write = [this, refuse](const QString& path, const QByteArray& value) {
            if (refuse)
                return false;
            stored.insert(path, value);
            return true;
        };
    }

    QTemporaryDir folder;
    QUrl file;
    QHash<QString, QByteArray> stored;
};

} // namespace

TEST_F(EditStoreTest, SaveLinksTheFileAndReopensItsShapes) {
    memoryAttributes(false);
    EXPECT_FALSE(EditStore::load(file)) << "a file without a link";
    EXPECT_FALSE(QFileInfo::exists(EditStore::dir())) << "loading creates nothing";

    const std::optional<QString> id = EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), file);
    ASSERT_TRUE(id);
    EXPECT_TRUE(EditStore::isID(*id));
    EXPECT_EQ(stored.value(file.toLocalFile()), id->toUtf8());
    std::optional<EditStore::Edit> edit = EditStore::load(file);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->id, *id);
    EXPECT_EQ(edit->base.size(), QSize(80, 60));
    EXPECT_EQ(edit->base.pixelColor(0, 0), QColor(Qt::gray));
    EXPECT_EQ(edit->shapes, arrowRecords());

    // A later save keeps the first base picture and rewrites the shapes.
    EXPECT_EQ(EditStore::save(id, picture(80, 60, Qt::blue), {}, file), id);
    edit = EditStore::load(file);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->base.pixelColor(0, 0), QColor(Qt::gray));
    EXPECT_TRUE(edit->shapes.empty());

    // Without its base picture the record is gone, though the link stays.
    QFile::remove(recordFile(*id, ".png"));
    EXPECT_FALSE(EditStore::load(file));
    EXPECT_TRUE(stored.contains(file.toLocalFile()));
}

TEST_F(EditStoreTest, RefusedAttributesFallBackOnTheIndex) {
    memoryAttributes(true);
    const std::optional<QString> id = EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), file);
    ASSERT_TRUE(id);
    EXPECT_TRUE(QFileInfo::exists(EditStore::indexPath()));
    ASSERT_TRUE(EditStore::load(file));
    EXPECT_EQ(EditStore::load(file)->id, *id);

    // A second picture's link drops the first one's once its record is gone.
    const QUrl other = QUrl::fromLocalFile(folder.filePath(QStringLiteral("other.png")));
    ShotFiles::write(picture(80, 60), other);
    QFile::remove(recordFile(*id, ".json"));
    ASSERT_TRUE(EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), other));
    QFile index(EditStore::indexPath());
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QByteArray text = index.readAll();
    EXPECT_FALSE(text.contains(file.toLocalFile().toUtf8()));
    EXPECT_TRUE(text.contains(other.toLocalFile().toUtf8()));
}

TEST_F(EditStoreTest, OnlyAnUpperCaseUUIDNamesARecord) {
    memoryAttributes(false);
    const std::optional<QString> id = EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), file);
    ASSERT_TRUE(id);
    // A record file that a hostile attribute might point at.
    QFile::copy(recordFile(*id, ".json"), EditStore::dir() + QStringLiteral("/../x.json"));
    QFile::copy(recordFile(*id, ".png"), EditStore::dir() + QStringLiteral("/../x.png"));
    const QByteArray junk[] = {"../x", id->toLower().toUtf8(), QByteArray("\xff\xfe\x80", 3), QByteArray(4096, 'A'),
                               id->toUtf8() + '\0'};
    for (const QByteArray& value : junk) {
        stored.insert(file.toLocalFile(), value);
        EXPECT_FALSE(EditStore::load(file)) << value.left(40).toHex().constData();
    }
}

TEST_F(EditStoreTest, DamagedOrStaleRecordsDoNotLoad) {
    memoryAttributes(false);
    const std::optional<QString> id = EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), file);
    ASSERT_TRUE(id);
    QFile json(recordFile(*id, ".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QByteArray good = json.readAll();
    json.close();
    const auto writeRecord = [&](const QByteArray& text) {
        QFile out(recordFile(*id, ".json"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
    };
    for (const QByteArray& bad : {good.left(good.size() / 2), QByteArray("{\"other\":[]}"), QByteArray()}) {
        writeRecord(bad);
        EXPECT_FALSE(EditStore::load(file)) << bad.constData();
    }
    writeRecord(good);
    ASSERT_TRUE(EditStore::load(file));

    {
        QFile base(recordFile(*id, ".png"));
        ASSERT_TRUE(base.open(QIODevice::WriteOnly | QIODevice::Truncate));
        base.write("not a picture");
    }
    EXPECT_FALSE(EditStore::load(file));
    QFile::remove(recordFile(*id, ".png"));
    EditStore::save(id, picture(80, 60), arrowRecords(), file);
    ASSERT_TRUE(EditStore::load(file));

    // Another program rewrote the picture in place and the attribute stayed: the shapes belong elsewhere.
    QFile picture(file.toLocalFile());
    ASSERT_TRUE(picture.open(QIODevice::Append));
    picture.write("extra");
    picture.close();
    EXPECT_FALSE(EditStore::load(file));
}

TEST_F(EditStoreTest, AnUnwritableStoreFailsQuietly) {
    memoryAttributes(false);
    // A file where the folder should be refuses every write, also to root.
    QFile blocker(EditStore::dir());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(EditStore::save(std::nullopt, picture(80, 60), arrowRecords(), file));
    EXPECT_FALSE(stored.contains(file.toLocalFile()));
    QFile::remove(EditStore::dir());
}

TEST_F(EditStoreTest, PruneDeletesWhatIsOlderThanThirtyDays) {
    QDir().mkpath(EditStore::dir());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto entry = [&](const QString& name, int daysOld) {
        QFile file(EditStore::dir() + QLatin1Char('/') + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.flush();
        file.setFileTime(now.addDays(-daysOld), QFileDevice::FileModificationTime);
    };
    entry(QStringLiteral("old.json"), 31);
    entry(QStringLiteral(".hidden"), 31);
    entry(QStringLiteral("young.json"), 29);
    EditStore::prune(now);
    EXPECT_EQ(QDir(EditStore::dir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("young.json")});
}
