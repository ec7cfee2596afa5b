#include "library/RecentImages.h"

#include "LibraryFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace LibraryFixtures;

namespace {

struct Home {
    QTemporaryDir dir;
    QString path = dir.path();
    RecentConfig config = RecentConfig::forHome(path, path + "/Pictures/Pictolarium");

    QStringList relative(const QStringList& found) const {
        QStringList out;
        for (const QString& file : found)
            out.append(file.mid(path.size() + 1));
        return out;
    }
};

const QDateTime anHourAgo() {
    return QDateTime::currentDateTimeUtc().addSecs(-3600);
}

} // namespace

TEST(RecentImages, FindsNewPicturesAnywhereButWhereTheyDoNotBelong) {
    Home home;
    const QString h = home.path;
    struct Case {
        const char* path;
        QByteArray bytes;
        bool found;
    };
    const Case cases[] = {
        {"Documents/a/b/c/new.png", "x", true},
        {"Downloads/photo.JPG", "x", true},
        {"Music/deep/cover.webp", "x", true},
        {"Code/node_modules/pkg/icon.png", "x", false},
        {".local/share/Trash/files/gone.png", "x", false},
        {".cache/thumb.png", "x", false},
        {"Pictures/Pictolarium/Screen 2026.png", "x", false},
        {"Pictures/Pictolarium X/copy.png", "x", false},
        {"Pictures/Screenshots/Screenshot from 2026.png", "x", false},
        {"Downloads/IMG_1.png", png("tEXt", "gnome-screenshot"), false},
        {"Downloads/IMG_2.png", png(), true},
        {"Documents/report.pdf", "x", false},
        {"Documents/notes", "x", false},
        {"a/b/c/d/e/f/g/h/i/j/k/l/twelve-deep.png", "x", true},
        {"a/b/c/d/e/f/g/h/i/j/k/l/m/thirteen-deep.png", "x", false},
    };
    for (const Case& c : cases)
        put(h + "/" + c.path, c.bytes);
    // Links are not followed, not even to a picture or in a loop; a FIFO is never opened.
    ASSERT_EQ(symlink((h + "/Documents/a/b/c/new.png").toUtf8().constData(),
                      (h + "/Downloads/link.png").toUtf8().constData()),
              0);
    ASSERT_EQ(symlink(h.toUtf8().constData(), (h + "/Documents/loop").toUtf8().constData()), 0);
    ASSERT_EQ(mkfifo((h + "/Downloads/pipe.png").toUtf8().constData(), 0600), 0);
    put(QFile::decodeName(h.toUtf8() + "/Documents/\xff\xfe.png"));
    // Far deeper than the walk goes.
    QString deep = h + "/deep";
    for (int i = 0; i < 1500; ++i)
        deep += "/d";
    ASSERT_TRUE(QDir().mkpath(deep));
    put(deep + "/bottom.png");

    const RecentImages::Result result = RecentImages::search(anHourAgo(), home.config);
    QStringList found;
    for (const RecentImages::Found& f : result.found)
        found.append(f.path);
    const QStringList relative = home.relative(found);
    for (const Case& c : cases)
        EXPECT_EQ(relative.contains(QString::fromUtf8(c.path)), c.found) << c.path;
    EXPECT_EQ(found.size(), QSet<QString>(found.begin(), found.end()).size()) << "each file once";
    EXPECT_FALSE(result.cutShort);
    for (qsizetype i = 1; i < result.found.size(); ++i)
        EXPECT_GE(result.found[i - 1].added, result.found[i].added) << "newest first";

    EXPECT_TRUE(RecentImages::added(QDateTime::currentDateTimeUtc().addSecs(3600), home.config).isEmpty())
        << "nothing arrived after the cut";
}

TEST(RecentImages, ACutShortWalkStillHasTheRecentListAndTheUsualFolders) {
    Home home;
    const QString h = home.path;
    put(h + "/Downloads/sub/arrived.png");
    put(h + "/Music/cover.png");
    put(h + "/Music/unlisted.png");
    put(h + "/Code/node_modules/listed.png");
    put(h + "/Documents/a/b/too-deep-for-the-scan.png");
    QByteArray xbel = "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\">\n";
    for (const QString& href : {"file://" + h + "/Music/cover.png", "file://" + h + "/Code/node_modules/listed.png",
                                "file://" + h + "/../outside.png", QString("file:///etc/hostname.png"),
                                QString("https://example.org/x.png"), "file://" + h + "/Music/unlisted.png"})
        xbel += "<bookmark href=\"" + href.toUtf8() + "\"/>\n";
    // Cut off in the middle of the last entry: what came before it still counts.
    put(home.config.xbelPath, xbel.left(xbel.size() - 20));
    put(h + "/../outside.png");
    home.config.maxEntries = 0;

    const RecentImages::Result result = RecentImages::search(anHourAgo(), home.config);
    QStringList found;
    for (const RecentImages::Found& f : result.found)
        found.append(f.path);
    EXPECT_TRUE(result.cutShort);
    QStringList relative = home.relative(found);
    relative.sort();
    EXPECT_EQ(relative, QStringList({"Downloads/sub/arrived.png", "Music/cover.png"}));
}

TEST(RecentImages, AHugeOrBrokenRecentListIsReadOnlyAsFarAsAllowed) {
    Home home;
    put(home.path + "/Music/cover.png");
    QByteArray xbel = "<xbel><bookmark href=\"file://" + home.path.toUtf8() + "/Music/cover.png\"/>";
    xbel += QByteArray(8 << 20, ' ') + "<bookmark href=\"file:///x";
    put(home.config.xbelPath, xbel);
    home.config.maxEntries = 0;
    home.config.maxXbelBytes = 1 << 20;
    EXPECT_EQ(home.relative(RecentImages::added(anHourAgo(), home.config)), QStringList({"Music/cover.png"}));

    put(home.config.xbelPath, QByteArray("\0\xff<xbel", 7));
    EXPECT_TRUE(RecentImages::added(anHourAgo(), home.config).isEmpty());
}
