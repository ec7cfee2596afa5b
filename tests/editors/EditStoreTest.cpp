// Stored edits: reopening, the link by attribute or index, damaged and stale records, pruning.

#include "editors/EditStore.h"
#include "EditorFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace EditorFixtures;

namespace {

std::vector<ShapeRecord> arrowRecords() {
    return {ShapeRecord::of({Annotation::Arrow{{10, 10}, {50, 40}}, Annotation::palette()[0], 4, false, {}})};
}

QString recordFile(const QString& id, const char* ext) {
    return EditStore::dir() + QLatin1Char('/') + id + QLatin1String(ext);
}

void overwrite(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::Truncate) {
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | mode));
    out.write(bytes);
}

// Each case starts with no store, the attributes in memory and a picture of its own.
class EditStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(EditStore::dir()).removeRecursively();
        QFile::remove(EditStore::indexPath());
        file = written(folder, QStringLiteral("shot annotated.png"), filled(80, 60, Qt::red));
    }
    std::optional<QString> save(const QUrl& url) {
        return EditStore::save(std::nullopt, filled(80, 60), arrowRecords(), url);
    }

    MemoryAttributes attributes;
    QTemporaryDir folder;
    QUrl file;
};

} // namespace

TEST_F(EditStoreTest, SaveLinksTheFileAndReopensItsShapes) {
    EXPECT_FALSE(EditStore::load(file)) << "a file without a link";
    EXPECT_FALSE(QFileInfo::exists(EditStore::dir())) << "loading creates nothing";

    const std::optional<QString> id = save(file);
    ASSERT_TRUE(id);
    EXPECT_TRUE(EditStore::isID(*id));
    EXPECT_EQ(attributes.stored.value(file.toLocalFile()), id->toUtf8());
    std::optional<EditStore::Edit> edit = EditStore::load(file);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->id, *id);
    EXPECT_EQ(edit->base.size(), QSize(80, 60));
    EXPECT_EQ(edit->base.pixelColor(0, 0), QColor(Qt::gray));
    EXPECT_EQ(edit->shapes, arrowRecords());

    // A later save keeps the first base picture and rewrites the shapes.
    EXPECT_EQ(EditStore::save(id, filled(80, 60, Qt::blue), {}, file), id);
    edit = EditStore::load(file);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->base.pixelColor(0, 0), QColor(Qt::gray));
    EXPECT_TRUE(edit->shapes.empty());

    // Without its base picture the record is gone, though the link stays.
    QFile::remove(recordFile(*id, ".png"));
    EXPECT_FALSE(EditStore::load(file));
    EXPECT_TRUE(attributes.stored.contains(file.toLocalFile()));
}

TEST_F(EditStoreTest, RefusedAttributesFallBackOnTheIndex) {
    attributes.refuse = true;
    const std::optional<QString> id = save(file);
    ASSERT_TRUE(id);
    EXPECT_TRUE(QFileInfo::exists(EditStore::indexPath()));
    ASSERT_TRUE(EditStore::load(file));
    EXPECT_EQ(EditStore::load(file)->id, *id);

    // A second picture's link drops the first one's once its record is gone.
    const QUrl other = written(folder, QStringLiteral("other.png"), filled(80, 60));
    QFile::remove(recordFile(*id, ".json"));
    ASSERT_TRUE(save(other));
    QFile index(EditStore::indexPath());
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QByteArray text = index.readAll();
    EXPECT_FALSE(text.contains(file.toLocalFile().toUtf8()));
    EXPECT_TRUE(text.contains(other.toLocalFile().toUtf8()));
}

TEST_F(EditStoreTest, OnlyAnUpperCaseUUIDNamesARecord) {
    const std::optional<QString> id = save(file);
    ASSERT_TRUE(id);
    // A record file that a hostile attribute might point at.
    QFile::copy(recordFile(*id, ".json"), EditStore::dir() + QStringLiteral("/../x.json"));
    QFile::copy(recordFile(*id, ".png"), EditStore::dir() + QStringLiteral("/../x.png"));
    const QByteArray junk[] = {"../x", id->toLower().toUtf8(), QByteArray("\xff\xfe\x80", 3), QByteArray(4096, 'A'),
                               id->toUtf8() + '\0'};
    for (const QByteArray& value : junk) {
        attributes.stored.insert(file.toLocalFile(), value);
        EXPECT_FALSE(EditStore::load(file)) << value.left(40).toHex().constData();
    }
}

TEST_F(EditStoreTest, DamagedOrStaleRecordsDoNotLoad) {
    const std::optional<QString> id = save(file);
    ASSERT_TRUE(id);
    QFile json(recordFile(*id, ".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QByteArray good = json.readAll();
    json.close();
    for (const QByteArray& bad : {good.left(good.size() / 2), QByteArray("{\"other\":[]}"), QByteArray()}) {
        overwrite(recordFile(*id, ".json"), bad);
        EXPECT_FALSE(EditStore::load(file)) << bad.constData();
    }
    overwrite(recordFile(*id, ".json"), good);
    ASSERT_TRUE(EditStore::load(file));

    overwrite(recordFile(*id, ".png"), "not a picture");
    EXPECT_FALSE(EditStore::load(file));
    QFile::remove(recordFile(*id, ".png"));
    EditStore::save(id, filled(80, 60), arrowRecords(), file);
    ASSERT_TRUE(EditStore::load(file));

    // Another program rewrote the picture in place and the attribute stayed: the shapes belong elsewhere.
    overwrite(file.toLocalFile(), "extra", QIODevice::Append);
    EXPECT_FALSE(EditStore::load(file));
}

TEST_F(EditStoreTest, AnUnwritableStoreFailsQuietly) {
    // A file where the folder should be refuses every write, also to root.
    overwrite(EditStore::dir(), {});
    EXPECT_FALSE(save(file));
    EXPECT_FALSE(attributes.stored.contains(file.toLocalFile()));
    QFile::remove(EditStore::dir());
}

TEST_F(EditStoreTest, PruneDeletesWhatIsOlderThanThirtyDays) {
    QDir().mkpath(EditStore::dir());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto& [name, daysOld] :
         {std::pair("old.json", 31), std::pair(".hidden", 31), std::pair("young.json", 29)}) {
        QFile entry(EditStore::dir() + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("x");
        entry.flush();
        entry.setFileTime(now.addDays(-daysOld), QFileDevice::FileModificationTime);
    }
    EditStore::prune(now);
    EXPECT_EQ(QDir(EditStore::dir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("young.json")});
}
