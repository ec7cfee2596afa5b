#include "library/BasketListing.h"

#include "LibraryFixtures.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace LibraryFixtures;

namespace {

// A home with the program's folder and the desktop's screenshot folder; the Recent search answers
// from a script, each call waiting until the test lets it go.
struct Basket {
    QTemporaryDir dir;
    QString home = dir.path();
    QString shots = home + "/Pictures/Pictolarium";
    QString system = home + "/Pictures/Screenshots";
    QDateTime now = QDateTime::currentDateTimeUtc();
    bool visible = false;

    struct Script {
        QList<QStringList> answers;
        QSemaphore go;
        QAtomicInt started;
        QMutex lock;
        QHash<QString, bool> cancelled; // by the answer's first file: whether the search was told to stop
    };
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<BasketListing> listing;

    Basket() {
        QDir().mkpath(shots);
        QDir().mkpath(system);
        BasketListing::Sources s;
        s.home = home;
        s.shotsFolder = [this] { return shots; };
        s.systemFolder = [this] { return system; };
        s.now = [this] { return now; };
        s.visible = [this] { return visible; };
        auto script = this->script;
        s.recent = [script](const QDateTime&, bool, const std::function<bool()>& cancelled) {
            QMutexLocker hold(&script->lock);
            const QStringList answer = script->answers.isEmpty() ? QStringList() : script->answers.takeFirst();
            hold.unlock();
            script->started.fetchAndAddOrdered(1);
            script->go.acquire();
            hold.relock();
            if (!answer.isEmpty())
                script->cancelled.insert(answer.first(), cancelled());
            return BasketListing::RecentFound{answer};
        };
        listing = std::make_unique<BasketListing>(s);
    }
    ~Basket() { script->go.release(100); }

    // Files made a little apart, so their birth times order them.
    QString make(const QString& path, const QByteArray& bytes = "x") {
        QThread::msleep(12);
        return put(path, bytes);
    }
    void answer(const QStringList& files) {
        QMutexLocker hold(&script->lock);
        script->answers.append(files);
    }
};

} // namespace

TEST(BasketListing, ScreenshotsNewestFirstFromBothFoldersEachOnce) {
    Basket b;
    const QString own = b.make(b.shots + "/Slice 2026.png");
    const QString named = b.make(b.system + "/Screenshot from 2026.png");
    const QString flagged = b.make(b.system + "/IMG_1.png", png("tEXt", "gnome-screenshot"));
    b.make(b.system + "/holiday.png", png());
    const QString newest = b.make(b.shots + "/Screen 2026.png");
    b.listing->thumbCache.insert(b.system + "/holiday.png", QImage(1, 1, QImage::Format_RGB32));
    b.listing->thumbCache.insert(own, QImage(1, 1, QImage::Format_RGB32));

    b.listing->reload();
    EXPECT_EQ(b.listing->items, QStringList({newest, flagged, named, own}));
    EXPECT_FALSE(b.listing->emptyShown);
    EXPECT_EQ(b.listing->thumbCache.keys(), QStringList({own})) << "thumbnails of unlisted files go";

    // The desktop saving into our own folder: each file once, taken without the screenshot test.
    b.system = b.shots + "/";
    b.listing->reload();
    EXPECT_EQ(b.listing->items, QStringList({newest, own}));
}

TEST(BasketListing, ScreenshotsKeepTheLastDayAndAThousand) {
    Basket b;
    for (int i = 0; i < 1001; ++i)
        put(b.shots + QString("/Slice %1.png").arg(i));
    b.listing->reload();
    EXPECT_EQ(b.listing->items.size(), 1000);

    b.now = b.now.addSecs(BasketListing::lookBackSeconds + 60);
    b.listing->reload();
    EXPECT_TRUE(b.listing->items.isEmpty()) << "a day and a minute later";
    EXPECT_TRUE(b.listing->emptyShown);
    EXPECT_EQ(b.listing->emptyTitle, "No screenshots in the last 24 hours");

    // The empty state says where it looked and what failed.
    b.system = b.home + "/gone";
    b.listing->reload();
    EXPECT_EQ(b.listing->emptyDetail,
              "Looking in ~/Pictures/Pictolarium and ~/gone\n~/gone: " + QString::fromLocal8Bit(strerror(ENOENT)));
}

TEST(BasketListing, RecentTakesOnlyTheNewestSearchAndKeepsWhatStillExists) {
    Basket b;
    const QString kept = b.make(b.home + "/Downloads/kept.png");
    const QString vanished = b.make(b.home + "/Downloads/vanished.png");
    const QString first = b.make(b.home + "/Downloads/first.png");
    const QString second = b.make(b.home + "/Downloads/second.png");

    b.answer({kept, vanished});
    b.listing->pickTab(1);
    b.script->go.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.listing->items == QStringList({kept, vanished}); }));
    EXPECT_EQ(b.listing->recentCache, b.listing->items);

    // A search overtaken by a tab switch and a newer search is dropped.
    b.answer({first});
    b.answer({second});
    b.listing->reload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.script->started.loadAcquire() == 2; }));
    b.listing->pickTab(0);
    b.listing->pickTab(1);
    EXPECT_EQ(b.listing->items, QStringList({kept, vanished})) << "the cached list at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.script->started.loadAcquire() == 3; }));
    QFile::remove(vanished);
    b.script->go.release(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.listing->items == QStringList({kept, second}); }));
    QTest::qWait(50);
    EXPECT_EQ(b.listing->items, QStringList({kept, second})) << "the overtaken result never lands";

    // Nothing new: the tiles stay and the empty state says so over them.
    b.answer({});
    b.listing->reload();
    b.script->go.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.listing->emptyShown; }));
    EXPECT_EQ(b.listing->items, QStringList({kept, second}));
    EXPECT_EQ(b.listing->emptyTitle, "No new images in the last 24 hours");
    EXPECT_EQ(b.listing->emptyDetail, "Downloads and saves anywhere in your home folder show up here.");

    // An overtaken search is told to stop, so that its walk of the home folder ends early: by a reload, and by
    // a switch to the other tab. The search still wanted is not.
    const int before = b.script->started.loadAcquire();
    const auto started = [&](int count) {
        return QTest::qWaitFor([&] { return b.script->started.loadAcquire() == before + count; });
    };
    const auto toldToStop = [&](const QString& answer) {
        std::optional<bool> told;
        (void)QTest::qWaitFor([&] {
            QMutexLocker hold(&b.script->lock);
            if (b.script->cancelled.contains(answer))
                told = b.script->cancelled.value(answer);
            return told.has_value();
        });
        return told;
    };
    for (const char* answer : {"reloaded", "switched", "newest"})
        b.answer({QString::fromLatin1(answer)});
    b.listing->reload();
    ASSERT_TRUE(started(1));
    b.listing->reload();
    ASSERT_TRUE(started(2));
    b.listing->pickTab(0);
    b.script->go.release(2);
    EXPECT_EQ(toldToStop("reloaded"), true) << "overtaken by a reload";
    EXPECT_EQ(toldToStop("switched"), true) << "overtaken by a tab switch";
    b.listing->pickTab(1);
    ASSERT_TRUE(started(3));
    b.script->go.release();
    EXPECT_EQ(toldToStop("newest"), false);
}

TEST(BasketListing, OnlyFilesThatAppearWhileShownAreFresh) {
    Basket b;
    b.listing->reload(); // empty: nothing known yet
    b.visible = true;
    const QString a = b.make(b.shots + "/a.png");
    b.listing->reload();
    EXPECT_TRUE(b.listing->fresh.isEmpty()) << "nothing was known to compare with";

    b.visible = false;
    const QString hidden = b.make(b.shots + "/while-hidden.png");
    b.listing->reload();
    EXPECT_TRUE(b.listing->fresh.isEmpty());

    b.visible = true;
    const QString shown = b.make(b.shots + "/while-shown.png");
    b.listing->fileChanged({});
    EXPECT_EQ(b.listing->fresh, QSet<QString>({shown}));
    EXPECT_EQ(b.listing->items.size(), 3);
}

TEST(BasketListing, RecentFindsWhatAQuickSearchCutShortMissedAndSaysWhenItCannot) {
    // A big home: two thousand files ahead of the search, and new pictures deep down where only the walk goes.
    QTemporaryDir dir;
    const QString home = dir.path();
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 100; ++file)
            put(home + QStringLiteral("/src/m%1/f%2.txt").arg(folder).arg(file));
    // One in each of 15 of the 20 folders: a walk that stops after half of them misses some, whatever order
    // the folders come in.
    QStringList pictures;
    for (int i = 0; i < 15; ++i)
        pictures.append(put(home + QStringLiteral("/src/m%1/deep/in/new%1.png").arg(i), png()));
    pictures.sort();
    const auto listingWith = [&](qint64 maxEntries) {
        BasketListing::Sources s;
        s.home = home;
        s.shotsFolder = [home] { return home + QStringLiteral("/Pictures/Pictolarium"); };
        s.systemFolder = [] { return QString(); };
        s.now = [] { return QDateTime::currentDateTimeUtc(); };
        s.recent = BasketListing::recentSearch([home, maxEntries] {
            RecentConfig config = RecentConfig::forHome(home, home + QStringLiteral("/Pictures/Pictolarium"));
            config.maxEntries = maxEntries;
            return config;
        });
        return std::make_unique<BasketListing>(s);
    };
    const auto sorted = [](QStringList files) {
        files.sort();
        return files;
    };

    // The quick search stops at its budget; the thorough one that follows lists every picture.
    auto listing = listingWith(500);
    QStringList notes;
    QObject::connect(listing.get(), &BasketListing::stateChanged, [&] { notes << listing->note; });
    listing->pickTab(1);
    // (QtTest's QTRY macros only return on failure here: gtest never hears of it.)
    EXPECT_TRUE(QTest::qWaitFor([&] { return sorted(listing->items) == pictures; }, 20000))
        << listing->items.size() << " of 15";
    EXPECT_TRUE(QTest::qWaitFor([&] { return listing->note.isEmpty(); }, 5000)) << listing->note.toStdString();
    EXPECT_TRUE(notes.contains(QStringLiteral("Still searching\u2026"))) << notes.join('|').toStdString();

    // Too big even for the thorough one: the tab says the list may miss pictures.
    listing = listingWith(20);
    listing->pickTab(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listing->note == u"List may be incomplete"; }, 20000))
        << listing->note.toStdString();
}
