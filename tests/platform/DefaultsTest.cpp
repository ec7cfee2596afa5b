#include "platform/Defaults.h"
#include "support/NoRoomToWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QMutex>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

// What a domain tells the user, from whichever thread it tells it.
struct Told {
    QMutex lock;
    QStringList messages;
    Defaults::Report report() {
        return [this](const QString& message) {
            const QMutexLocker hold(&lock);
            messages.append(message);
        };
    }
    QStringList all() {
        const QMutexLocker hold(&lock);
        return messages;
    }
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

    // What is written is what the next start reads: many small values, too many for an indented file of the size
    // the start reads, are written compact; a domain too large even for that is not written, is told, and the file
    // before it stays.
    QVariantMap many;
    for (int n = 0; many.size() * 50 < Defaults::readLimit; ++n)
        many.insert(QStringLiteral("key%1").arg(n, 7, 10, QLatin1Char('0')), qlonglong(n));
    for (const bool fits : {true, false}) {
        SCOPED_TRACE(fits ? "many values" : "too large for a settings file");
        QTemporaryDir big;
        Told told;
        {
            Defaults d(big.path(), QStringLiteral("test"));
            d.setReport(told.report());
            EXPECT_TRUE(d.set(QStringLiteral("before"), true));
            ASSERT_TRUE(d.flush());
            if (!fits)
                EXPECT_TRUE(d.set(QStringLiteral("data"), QByteArray(int(Defaults::readLimit), 'x')));
            EXPECT_TRUE(d.set(QStringLiteral("many"), many));
            EXPECT_EQ(d.flush(), fits);
        }
        const Defaults reread(big.path(), QStringLiteral("test"));
        EXPECT_TRUE(reread.damagedCopy().isEmpty()) << reread.damagedCopy().toStdString();
        EXPECT_EQ(reread.boolean(QStringLiteral("before")), true);
        EXPECT_EQ(reread.dictionary(QStringLiteral("many")).value_or(QVariantMap()).size(), fits ? many.size() : 0);
        EXPECT_EQ(told.all().size(), fits ? 0 : 1);
        if (!fits && !told.all().isEmpty())
            EXPECT_TRUE(told.all()[0].endsWith(QStringLiteral("MB a settings file may hold")))
                << told.all()[0].toStdString();
    }
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

// Our own file, but anything may be in its place: what is not JSON, too large to be a settings file or no file at all
// is neither read whole nor waited on; it is kept under a name of its own, over no other file, before any write, and
// the user is told (also when the report comes after the start).
TEST(Defaults, AFileThatCannotBeReadIsKeptAsideBeforeAnyWrite) {
    const QByteArray valid = "{\"k\": {\"t\": \"bool\", \"v\": true}}";
    enum Put { Bytes, Sparse, Pipe, Folder };
    const struct {
        const char* what;
        Put put;
        QByteArray bytes; // padded with spaces to `size`
        qint64 size;
        const char* kept; // nothing: read
        const char* was;  // as the user is told
    } rows[] = {
        {"cut short", Bytes, "{\"a\": {\"t\": \"bool\", \"v\": tr", 0, ".damaged-", "damaged"},
        {"not an object", Bytes, "[1, 2, 3]", 0, ".damaged-", "damaged"},
        {"binary", Bytes, QByteArray("\x00\x01\x02", 3), 0, ".damaged-", "damaged"},
        {"valid, at the limit", Bytes, valid, Defaults::readLimit, nullptr, nullptr},
        {"valid, a byte over", Bytes, valid, Defaults::readLimit + 1, ".too-large-", "too large to read"},
        {"150 MB, sparse", Sparse, {}, 150 * 1024 * 1024, ".too-large-", "too large to read"},
        {"a pipe", Pipe, {}, 0, ".damaged-", "not a plain file"},
        {"a folder", Folder, {}, 0, ".damaged-", "a folder"},
    };
    // Each row on its own: a failed assertion ends its row only.
    const auto check = [&](const auto& row) {
        QTemporaryDir dir;
        const QString file = domainFile(dir);
        const QByteArray path = QFile::encodeName(file);
        QByteArray bytes = row.bytes;
        if (row.put == Pipe) {
            ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
        } else if (row.put == Folder) {
            ASSERT_TRUE(QDir().mkpath(file + QStringLiteral("/inside")));
        } else if (row.put == Sparse) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
            ASSERT_TRUE(fd >= 0 && ::ftruncate(fd, row.size) == 0);
            ::close(fd);
        } else {
            bytes.append(QByteArray(std::max<int>(0, int(row.size) - bytes.size()), ' '));
            writeFile(file, bytes);
        }
        // Someone's files already under the names it would take this second and the next.
        QStringList theirs;
        for (const QDateTime& at : {QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(1)}) {
            theirs.append(file + QString::fromLatin1(row.kept ? row.kept : ".x-") +
                          at.toString(QStringLiteral("yyyyMMdd-HHmmss")));
            writeFile(theirs.last(), "theirs");
        }

        // Made on a thread of its own: reading a pipe would wait for good.
        std::unique_ptr<Defaults> d;
        std::atomic<bool> made = false;
        std::thread making([&] {
            d = std::make_unique<Defaults>(dir.path(), QStringLiteral("test"));
            made = true;
        });
        for (int waited = 0; !made && waited < 5000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!made)
            ::close(::open(path.constData(), O_WRONLY | O_NONBLOCK)); // lets the stuck read go
        making.join();
        ASSERT_TRUE(made) << "the start waited on the file";
        Told told;
        d->setReport(told.report());
        if (!row.kept) {
            EXPECT_EQ(d->boolean(QStringLiteral("k")), true);
            EXPECT_TRUE(d->damagedCopy().isEmpty());
            EXPECT_TRUE(told.all().isEmpty());
            return;
        }
        EXPECT_TRUE(d->dictionaryRepresentation().isEmpty());
        ASSERT_TRUE(d->damagedCopy().startsWith(file + QString::fromLatin1(row.kept)))
            << d->damagedCopy().toStdString();
        for (const QString& other : theirs) {
            QFile f(other);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == "theirs") << other.toStdString();
        }
        const QString said = QStringLiteral("Your settings file was ") + QString::fromLatin1(row.was) +
                             QStringLiteral("; it was kept as ") + d->damagedCopy();
        EXPECT_EQ(told.all(), QStringList{said});

        ASSERT_TRUE(d->set(QStringLiteral("new"), true));
        ASSERT_TRUE(d->flush());
        const QFileInfo kept(d->damagedCopy());
        EXPECT_EQ(kept.isFile(), row.put == Bytes || row.put == Sparse);
        EXPECT_EQ(kept.isDir(), row.put == Folder);
        if (row.put != Folder)
            EXPECT_EQ(kept.size(), row.put == Sparse ? row.size : bytes.size());
        else
            EXPECT_TRUE(QFileInfo(kept.filePath() + QStringLiteral("/inside")).isDir());
        if (row.put == Bytes) {
            QFile f(kept.filePath());
            EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == bytes);
        }
        EXPECT_EQ(Defaults(dir.path(), QStringLiteral("test")).dictionaryRepresentation().keys(),
                  QStringList{QStringLiteral("new")});
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        check(row);
    }

    // A file the user may not read, or in a folder the user may not enter, is neither read, moved nor written over:
    // it is told, and kept as it is. Tried as a user the modes bind, in a child process.
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "a folder that can't be entered" : "a file that can't be read");
        QTemporaryDir locked;
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                 QFile::ReadOther | QFile::ExeOther);
        writeFile(domainFile(locked), valid);
        if (folder)
            QFile::setPermissions(locked.path(), QFileDevice::Permissions());
        else
            QFile::setPermissions(domainFile(locked), QFileDevice::Permissions());
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(
            {
                if (geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                       ::setresuid(65534, 65534, 65534) != 0))
                    std::exit(2);
                Defaults d(locked.path(), QStringLiteral("test"));
                d.set(QStringLiteral("k"), false);
                std::exit(!d.flush() && d.damagedCopy().isEmpty() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "Your settings file can't be read \\(there is no permission to read it\\)");
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(QDir(locked.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("test.json")});
        QFile::setPermissions(domainFile(locked), QFile::ReadOwner | QFile::WriteOwner);
        QFile f(domainFile(locked));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == valid);
    }

    // Where it can't be moved (a folder made immutable binds root as well), it is left as it is and nothing is
    // written over it.
    QTemporaryDir dir;
    const QString file = domainFile(dir);
    writeFile(file, "{}" + QByteArray(int(Defaults::readLimit), ' '));
    const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    ::ioctl(folder, FS_IOC_GETFLAGS, &flags);
    const int locked = flags | FS_IMMUTABLE_FL;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0500);
    const bool immutable = ::ioctl(folder, FS_IOC_SETFLAGS, &locked) == 0;
    const auto unlock = qScopeGuard([&] {
        if (immutable)
            ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
        ::close(folder);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    });
    if (geteuid() == 0 && !immutable)
        GTEST_SKIP() << "no folder here keeps root from moving a file";
    Defaults d(dir.path(), QStringLiteral("test"));
    Told told;
    d.setReport(told.report());
    EXPECT_TRUE(d.damagedCopy().isEmpty());
    EXPECT_TRUE(d.set(QStringLiteral("k"), true));
    EXPECT_FALSE(d.flush());
    EXPECT_EQ(QFileInfo(file).size(), Defaults::readLimit + 2);
    ASSERT_EQ(told.all().size(), 1);
    EXPECT_TRUE(told.all()[0].endsWith(QStringLiteral("settings changed now won't be saved")))
        << told.all()[0].toStdString();
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
    Told shown;
    d.setReport(shown.report());
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    {
        // The folder's mode does not bind root; no room to write binds everyone.
        const NoRoomToWrite full;
        StderrPipe said;
        for (const char* key : {"k", "k1", "k2"}) {
            EXPECT_TRUE(d.set(QString::fromLatin1(key), true)) << "kept, to be written";
            EXPECT_FALSE(d.flush());
        }
        // A burst of writes failing alike is told once, not once a write, and on the screen as well.
        const std::string told = said.text();
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
        EXPECT_NE(told.find("couldn't write the settings"), std::string::npos) << told;
        EXPECT_EQ(shown.all(), QStringList{QStringLiteral("Couldn't save your settings in \u201c") + locked +
                                           QStringLiteral("\u201d: the file is larger than this system allows")});
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
    // A new failure after one got through is told again.
    ASSERT_EQ(shown.all().size(), 2);
    EXPECT_TRUE(shown.all()[1].endsWith(QStringLiteral(": the file or its folder is read-only")))
        << shown.all()[1].toStdString();

    // A file where the settings' folder should be: told in words, not as the system's "Not a directory".
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    writeFile(blocked, "theirs");
    Defaults under(blocked + QStringLiteral("/inner"), QStringLiteral("test"));
    Told toldUnder;
    under.setReport(toldUnder.report());
    under.set(QStringLiteral("k"), true);
    EXPECT_FALSE(under.flush());
    EXPECT_EQ(toldUnder.all(), QStringList{QStringLiteral("Couldn't save your settings in \u201c") + blocked +
                                           QStringLiteral("/inner\u201d: a file stands where its folder should be")});
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
    // Through one link and through a chain of them, as long as the system follows: every link stays a link.
    for (const int links : {1, 3, 40}) {
        SCOPED_TRACE(links);
        QTemporaryDir dir;
        const QString kept = dir.filePath(QStringLiteral("dotfiles/test.json"));
        QDir().mkpath(dir.filePath(QStringLiteral("dotfiles")));
        writeFile(kept, "{}");
        QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
        QString to = kept;
        for (int n = 1; n < links; ++n) {
            const QString link = dir.filePath(QStringLiteral("dotfiles/link%1").arg(n));
            ASSERT_TRUE(QFile::link(to, link));
            to = link;
        }
        ASSERT_TRUE(QFile::link(to, domainFile(dir)));
        Defaults d(dir.path(), QStringLiteral("test"));
        ASSERT_TRUE(d.set(QStringLiteral("k"), qlonglong(7)));
        ASSERT_TRUE(d.flush());
        EXPECT_TRUE(QFileInfo(domainFile(dir)).isSymLink());
        for (int n = 1; n < links; ++n)
            EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("dotfiles/link%1").arg(n))).isSymLink()) << n;
        EXPECT_EQ(
            Defaults(dir.filePath(QStringLiteral("dotfiles")), QStringLiteral("test")).integer(QStringLiteral("k")), 7);
        EXPECT_FALSE(QFile::permissions(kept) & (QFile::ReadGroup | QFile::ReadOther))
            << "the linked file's mode is kept";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "nothing left beside it";
    }

    // A relative link read from the folder it really is in, under a linked folder; and a damaged file at the end is
    // kept beside itself, with the links left for the new file to be written through.
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("dotfiles/config")), end = dir.filePath(QStringLiteral("dotfiles/pict.json"));
        QDir().mkpath(real);
        writeFile(end, "{ damaged");
        ASSERT_TRUE(QFile::link(QStringLiteral("dotfiles/config"), dir.filePath(QStringLiteral("config"))));
        ASSERT_TRUE(QFile::link(QStringLiteral("../pict.json"), real + QStringLiteral("/test.json")));
        Defaults d(dir.filePath(QStringLiteral("config")), QStringLiteral("test"));
        Told told;
        d.setReport(told.report());
        ASSERT_TRUE(d.damagedCopy().startsWith(end + QStringLiteral(".damaged-"))) << d.damagedCopy().toStdString();
        EXPECT_EQ(told.all(), QStringList{QStringLiteral("Your settings file was damaged; it was kept as ") +
                                          d.damagedCopy()});
        ASSERT_TRUE(d.set(QStringLiteral("k"), qlonglong(9)));
        ASSERT_TRUE(d.flush());
        EXPECT_TRUE(QFileInfo(real + QStringLiteral("/test.json")).isSymLink());
        EXPECT_EQ(Defaults(dir.filePath(QStringLiteral("dotfiles")), QStringLiteral("pict")).integer(QStringLiteral("k")), 9);
        QFile kept(d.damagedCopy());
        EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "{ damaged");
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("pict.json")))) << "read from the path's text";
    }

    // Links that lead round in a circle are left as they are, and the user is told in words.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(domainFile(dir), domainFile(dir)));
    Defaults d(dir.path(), QStringLiteral("test"));
    Told told;
    d.setReport(told.report());
    d.set(QStringLiteral("k"), true);
    EXPECT_FALSE(d.flush());
    EXPECT_EQ(QFileInfo(domainFile(dir)).symLinkTarget(), domainFile(dir));
    EXPECT_EQ(told.all(), QStringList{QStringLiteral("Your settings file can't be read (its links lead round in a "
                                                     "circle, or through more than the system follows); it is left "
                                                     "as it is, and settings changed now won't be saved")});

    // The end's name is not text, or a pipe took its place while the program ran: nothing is written in its place
    // or beside it, and the user is told.
    QTemporaryDir other;
    const QByteArray notText = QFile::encodeName(other.path()) + "/caf\xe9.json";
    {
        QFile f;
        const int fd = ::open(notText.constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && f.write("{}") == 2);
    }
    ASSERT_EQ(::symlink(notText.constData(), QFile::encodeName(domainFile(other, "linked")).constData()), 0);
    Defaults linked(other.path(), QStringLiteral("linked"));
    Told toldLinked;
    linked.setReport(toldLinked.report());
    linked.set(QStringLiteral("k"), true);
    EXPECT_FALSE(linked.flush());
    // Counted by the system: a listing in text would not show the name that isn't.
    int names = 0;
    if (DIR* folder = ::opendir(QFile::encodeName(other.path()).constData())) {
        while (const dirent* entry = ::readdir(folder))
            names += entry->d_name[0] != '.';
        ::closedir(folder);
    }
    EXPECT_EQ(names, 2) << "nothing beside";
    ASSERT_EQ(toldLinked.all().size(), 1);
    EXPECT_TRUE(toldLinked.all()[0].endsWith(QStringLiteral(": a link names it in characters that aren't text")))
        << toldLinked.all()[0].toStdString();

    const QString pipe = other.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QFile::remove(domainFile(other, "linked"));
    ASSERT_TRUE(QFile::link(pipe, domainFile(other, "linked")));
    linked.set(QStringLiteral("k2"), true);
    EXPECT_FALSE(linked.flush());
    struct stat after {};
    EXPECT_TRUE(::stat(QFile::encodeName(pipe).constData(), &after) == 0 && S_ISFIFO(after.st_mode));
}
