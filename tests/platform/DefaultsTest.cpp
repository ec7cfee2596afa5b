#include "platform/Defaults.h"
#include "support/NoRoomToWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString domainFile(const QTemporaryDir& dir, const char* domain = "test") {
    return dir.filePath(QString::fromLatin1(domain) + QStringLiteral(".json"));
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Standard error taken into a pipe for as long as it lives: a pipe, unlike a file, can grow where no file may.
class StderrPipe {
public:
    StderrPipe() {
        std::fflush(stderr);
        saved = ::dup(2);
        if (::pipe2(ends, O_NONBLOCK) == 0)
            ::dup2(ends[1], 2);
    }
    std::string text() {
        std::fflush(stderr);
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, size_t(n));
        return out;
    }
    ~StderrPipe() {
        ::dup2(saved, 2);
        ::close(saved);
        ::close(ends[0]);
        ::close(ends[1]);
    }

private:
    int saved = -1;
    int ends[2] = {-1, -1};
};

} // namespace

TEST(Defaults, ReadsBackEveryTypeExactlyAsWrittenAfterARestart) {
    QTemporaryDir dir;
    const QVariantMap nested{{QStringLiteral("a"), qlonglong(1)}, {QStringLiteral("b"), QStringLiteral("x")}};
    const QVariantList list{true, 2.5, QByteArray("\x00\xff", 2)};
    {
        Defaults d(dir.path(), QStringLiteral("test"));
        EXPECT_TRUE(d.set(QStringLiteral("bool"), true));
        EXPECT_TRUE(d.set(QStringLiteral("int"), qlonglong(9007199254740993LL))); // above 2^53
        EXPECT_TRUE(d.set(QStringLiteral("intFromInt"), 7));
        EXPECT_TRUE(d.set(QStringLiteral("double"), 0.8));
        EXPECT_TRUE(d.set(QStringLiteral("wholeDouble"), 2.0));
        EXPECT_TRUE(d.set(QStringLiteral("string"), QStringLiteral("Grüße")));
        EXPECT_TRUE(d.set(QStringLiteral("data"), QByteArray("{\"keyCode\":2}")));
        EXPECT_TRUE(d.set(QStringLiteral("array"), list));
        EXPECT_TRUE(d.set(QStringLiteral("dict"), nested));
    }
    Defaults d(dir.path(), QStringLiteral("test"));
    EXPECT_EQ(d.boolean(QStringLiteral("bool")), true);
    EXPECT_EQ(d.integer(QStringLiteral("int")), 9007199254740993LL);
    EXPECT_EQ(d.integer(QStringLiteral("intFromInt")), 7);
    EXPECT_EQ(d.number(QStringLiteral("double")), 0.8);
    // A double that happens to be whole stays a double: 2.0 must not come back as an integer.
    EXPECT_EQ(d.object(QStringLiteral("wholeDouble")).metaType().id(), QMetaType::Double);
    EXPECT_EQ(d.string(QStringLiteral("string")), QStringLiteral("Grüße"));
    EXPECT_EQ(d.data(QStringLiteral("data")), QByteArray("{\"keyCode\":2}"));
    EXPECT_EQ(d.array(QStringLiteral("array")), list);
    EXPECT_EQ(d.dictionary(QStringLiteral("dict")), nested);
}

TEST(Defaults, AReadOfTheWrongTypeIsAbsent) {
    QTemporaryDir dir;
    Defaults d(dir.path(), QStringLiteral("test"));
    d.set(QStringLiteral("flag"), QStringLiteral("YES"));
    d.set(QStringLiteral("count"), 3.5);
    d.set(QStringLiteral("shortcut"), QStringLiteral("not data"));

    EXPECT_FALSE(d.boolean(QStringLiteral("flag")).has_value());
    EXPECT_FALSE(d.boolValue(QStringLiteral("flag")));
    EXPECT_FALSE(d.integer(QStringLiteral("count")).has_value());
    EXPECT_EQ(d.number(QStringLiteral("count")), 3.5);
    // A whole number, stored by us or typed into the file by hand, still reads as a number.
    d.set(QStringLiteral("whole"), qlonglong(3));
    EXPECT_EQ(d.number(QStringLiteral("whole")), 3.0);
    EXPECT_FALSE(d.data(QStringLiteral("shortcut")).has_value());
    EXPECT_FALSE(d.string(QStringLiteral("missing")).has_value());
    EXPECT_EQ(d.doubleValue(QStringLiteral("missing")), 0.0);
}

TEST(Defaults, DamagedEntriesReadAsAbsentAndTheRestSurvives) {
    QTemporaryDir dir;
    writeFile(domainFile(dir), R"({
        "good": {"t": "bool", "v": true},
        "wrongValue": {"t": "bool", "v": "yes"},
        "unknownType": {"t": "date", "v": 1},
        "bareValue": 12,
        "badData": {"t": "data", "v": "***"},
        "badNested": {"t": "array", "v": [{"t": "int", "v": "x"}]},
        "nan": {"t": "double", "v": "nan"}
    })");
    Defaults d(dir.path(), QStringLiteral("test"));
    EXPECT_EQ(d.boolean(QStringLiteral("good")), true);
    for (const char* key : {"wrongValue", "unknownType", "bareValue", "badData", "badNested"})
        EXPECT_FALSE(d.contains(QString::fromLatin1(key))) << key;
    EXPECT_TRUE(std::isnan(d.doubleValue(QStringLiteral("nan"))));
    EXPECT_TRUE(d.damagedCopy().isEmpty());
}

TEST(Defaults, AFileThatIsNotJsonIsKeptAsideBeforeAnyWrite) {
    const QList<QByteArray> damaged{"{\"a\": {\"t\": \"bool\", \"v\": tr", "[1, 2, 3]", QByteArray("\x00\x01\x02", 3)};
    for (const QByteArray& bytes : damaged) {
        QTemporaryDir dir;
        writeFile(domainFile(dir), bytes);
        Defaults d(dir.path(), QStringLiteral("test"));
        EXPECT_TRUE(d.dictionaryRepresentation().isEmpty());
        ASSERT_FALSE(d.damagedCopy().isEmpty());
        EXPECT_TRUE(d.damagedCopy().startsWith(domainFile(dir) + QStringLiteral(".damaged-")));

        d.set(QStringLiteral("new"), true);
        d.flush();
        QFile kept(d.damagedCopy());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes);
    }
}

TEST(Defaults, AnotherDomainIsReadWithoutTakingItOver) {
    QTemporaryDir dir;
    EXPECT_FALSE(Defaults::persistentDomain(dir.path(), QStringLiteral("absent")).has_value());
    {
        Defaults other(dir.path(), QStringLiteral("other"));
        other.set(QStringLiteral("k"), qlonglong(5));
    }
    const auto domain = Defaults::persistentDomain(dir.path(), QStringLiteral("other"));
    ASSERT_TRUE(domain.has_value());
    EXPECT_EQ(domain->value(QStringLiteral("k")), QVariant(qlonglong(5)));
}

TEST(Defaults, RefusesValuesItCannotStoreAndKeepsTheOldOne) {
    QTemporaryDir dir;
    Defaults d(dir.path(), QStringLiteral("test"));
    d.set(QStringLiteral("k"), QStringLiteral("kept"));
    EXPECT_FALSE(d.set(QStringLiteral("k"), QVariant::fromValue(QPoint(1, 2))));
    EXPECT_EQ(d.string(QStringLiteral("k")), QStringLiteral("kept"));
}

TEST(Defaults, AWriteThatCannotReachTheDiskIsReported) {
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QDir().mkpath(locked);
    Defaults d(locked, QStringLiteral("test"));
    ASSERT_TRUE(d.set(QStringLiteral("before"), qlonglong(1)));
    ASSERT_TRUE(d.flush());
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    {
        // The folder's mode does not bind root; no room to write binds everyone.
        const NoRoomToWrite full;
        StderrPipe said;
        for (const char* key : {"k", "k1", "k2"}) {
            EXPECT_TRUE(d.set(QString::fromLatin1(key), true)) << "kept, to be written";
            EXPECT_FALSE(d.flush());
        }
        // A burst of writes failing alike is told once, not once a write.
        const std::string told = said.text();
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
        EXPECT_NE(told.find("couldn't write the settings"), std::string::npos) << told;
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The file on disk is the one from before, not an empty one in its place.
    EXPECT_FALSE(Defaults(locked, QStringLiteral("test")).contains(QStringLiteral("k")));
    // Room made again before the end: what failed reaches the disk then, with nothing newer set.
    EXPECT_TRUE(d.flush());
    const Defaults reread(locked, QStringLiteral("test"));
    EXPECT_EQ(reread.boolean(QStringLiteral("k2")), true);
    EXPECT_EQ(reread.integer(QStringLiteral("before")), 1);
    // A settings file the user made read-only is not replaced, whoever runs the program.
    const QString file = QDir(locked).filePath(QStringLiteral("test.json"));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup);
    d.set(QStringLiteral("readOnly"), true);
    EXPECT_FALSE(d.flush());
    EXPECT_FALSE(Defaults(locked, QStringLiteral("test")).contains(QStringLiteral("readOnly")));
}

TEST(Defaults, AProcessKilledMidWriteLeavesTheOldOrTheNewContent) {
    QTemporaryDir dir;
    const QByteArray big(256 * 1024, 'x');
    {
        Defaults d(dir.path(), QStringLiteral("test"));
        d.set(QStringLiteral("generation"), qlonglong(0));
        d.set(QStringLiteral("payload"), big);
    }
    for (int round = 0; round < 8; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Defaults d(dir.path(), QStringLiteral("test"));
            for (qlonglong g = 1;; ++g)
                d.set(QStringLiteral("generation"), g);
        }
        usleep(20000 + round * 7000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        Defaults d(dir.path(), QStringLiteral("test"));
        EXPECT_TRUE(d.damagedCopy().isEmpty()) << "round " << round;
        EXPECT_TRUE(d.integer(QStringLiteral("generation")).has_value()) << "round " << round;
        EXPECT_EQ(d.data(QStringLiteral("payload")), big) << "round " << round;
    }
}

// Settings kept elsewhere and linked in (a dotfiles folder): a write goes to the file linked to, and the link stays.
TEST(Defaults, ALinkedSettingsFileIsWrittenThroughTheLink) {
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("dotfiles/test.json"));
    QDir().mkpath(dir.filePath(QStringLiteral("dotfiles")));
    writeFile(kept, "{}");
    QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(QFile::link(kept, domainFile(dir)));
    Defaults d(dir.path(), QStringLiteral("test"));
    ASSERT_TRUE(d.set(QStringLiteral("k"), qlonglong(7)));
    ASSERT_TRUE(d.flush());
    EXPECT_TRUE(QFileInfo(domainFile(dir)).isSymLink());
    EXPECT_EQ(Defaults(dir.filePath(QStringLiteral("dotfiles")), QStringLiteral("test")).integer(QStringLiteral("k")),
              7);
    EXPECT_FALSE(QFile::permissions(kept) & (QFile::ReadGroup | QFile::ReadOther)) << "the linked file's mode is kept";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "nothing left beside it";
}
