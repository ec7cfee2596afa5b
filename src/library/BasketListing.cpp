#include "library/BasketListing.h"

#include "imaging/ShotFiles.h"
#include "library/RecentConfig.h"
#include "library/RecentImages.h"
#include "library/ScreenshotSources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// When the file was made: its birth time, or its last change where the file system keeps no
// birth time (else nothing would ever be listed there). Null when the file cannot be read.
QDateTime createdAt(const QString& path) {
    struct statx st {};
    if (statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_NO_AUTOMOUNT, STATX_BTIME | STATX_MTIME, &st) != 0)
        return {};
    const statx_timestamp& t = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    return QDateTime::fromMSecsSinceEpoch(t.tv_sec * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

} // namespace

BasketListing::Sources BasketListing::standardSources(std::function<bool()> visible) {
    Sources s;
    s.home = QDir::homePath();
    s.shotsFolder = [] { return ShotFiles::shotsFolder(); };
    s.systemFolder = [] { return ScreenshotSources::systemFolder(); };
    s.recent = recentSearch([] { return RecentConfig::standard(ShotFiles::shotsFolder()); });
    s.now = [] { return QDateTime::currentDateTimeUtc(); };
    s.visible = std::move(visible);
    return s;
}

decltype(BasketListing::Sources::recent) BasketListing::recentSearch(std::function<RecentConfig()> makeConfig) {
    return [makeConfig](const QDateTime& since, bool thorough, const std::function<bool()>& cancelled) {
        RecentConfig config = makeConfig();
        if (thorough)
            config.makeThorough();
        config.cancelled = cancelled;
        const RecentImages::Result result = RecentImages::search(since, config);
        RecentFound found;
        for (const RecentImages::Found& file : result.found)
            found.files.append(file.path);
        found.cutShort = result.cutShort;
        return found;
    };
}

BasketListing::BasketListing(Sources given, QObject* parent) : QObject(parent), sources(std::move(given)) {}

QString BasketListing::tilde(const QString& path) const {
    QString shown = path;
    if (!sources.home.isEmpty())
        shown.replace(sources.home, QStringLiteral("~"));
    return shown;
}

void BasketListing::reload() {
    const QDateTime cutoff = sources.now().addSecs(-lookBackSeconds);
    if (showingRecent)
        searchRecent(cutoff);
    else
        listScreenshots(cutoff);
}

void BasketListing::pickTab(int tab) {
    // The other tab's files were never seen here: forgetting them keeps a switch from sparkling every tile.
    if (showingRecent != (tab == 1))
        known.clear();
    showingRecent = tab == 1;
    reload();
}

void BasketListing::fileChanged(const QString& path) {
    if (!path.isEmpty())
        thumbCache.remove(path);
    if (sources.visible && sources.visible())
        reload();
}

void BasketListing::listScreenshots(const QDateTime& cutoff) {
    latest->storeRelaxed(++reloadGeneration); // a Recent search under way is no longer wanted
    emptyTitle = QStringLiteral("No screenshots in the last 24 hours");
    note.clear();

    struct Entry {
        QString path;
        QDateTime date;
    };
    QList<Entry> kept;
    QSet<QString> taken;
    QStringList errors;
    const QString systemFolder = sources.systemFolder();
    const QString folders[] = {sources.shotsFolder(), systemFolder};
    for (int source = 0; source < 2; ++source) {
        const ScreenshotSources::Listing listing = ScreenshotSources::images(folders[source]);
        if (listing.error) {
            errors.append(tilde(folders[source]) + QStringLiteral(": ") + listing.errorText());
            continue;
        }
        for (const QString& file : listing.files) {
            const QString key = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
            if (taken.contains(key))
                continue;
            const QDateTime date = createdAt(file);
            if (date.isNull() || date < cutoff)
                continue;
            // The date first: the screenshot test may have to read the file.
            if (source == 1 && !ScreenshotSources::isScreenshot(file))
                continue;
            taken.insert(key);
            kept.append({file, date});
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) { return a.date > b.date; });
    if (kept.size() > maxFiles)
        kept.resize(maxFiles);

    items.clear();
    for (const Entry& entry : kept)
        items.append(entry.path);
    markFresh();
    const QSet<QString> listed(items.begin(), items.end());
    thumbCache.retainOnly(listed);
    emit itemsChanged();

    emptyShown = items.isEmpty();
    if (emptyShown) {
        QStringList lines{QStringLiteral("Looking in ~/Pictures/Pictolarium and ") + tilde(systemFolder)};
        lines += errors;
        emptyDetail = lines.join(u'\n');
    }
    emit stateChanged();
}

void BasketListing::searchRecent(const QDateTime& cutoff) {
    items = recentCache;
    emit itemsChanged();
    emptyShown = false;
    emit stateChanged();

    const int generation = ++reloadGeneration;
    latest->storeRelaxed(generation);
    QPointer<BasketListing> self(this);
    auto search = sources.recent;
    const std::shared_ptr<QAtomicInt> newest = latest;
    QThreadPool::globalInstance()->start([self, search, cutoff, generation, newest] {
        const std::function<bool()> cancelled = [newest, generation] { return newest->loadRelaxed() != generation; };
        // Handed to the UI thread, where the weak pointer is safe to read.
        const auto hand = [self, generation](const RecentFound& found, bool last) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, generation, found, last] {
                    if (self)
                        self->takeRecent(generation, found, last);
                },
                Qt::QueuedConnection);
        };
        const RecentFound quick = search(cutoff, false, cancelled);
        hand(quick, !quick.cutShort);
        // A big home outlasts the quick walk's budget: the rest is found by a thorough walk, its tiles added
        // when it ends.
        if (quick.cutShort && !cancelled())
            hand(search(cutoff, true, cancelled), true);
    });
}

void BasketListing::takeRecent(int generation, const RecentFound& found, bool last) {
    if (!showingRecent || generation != reloadGeneration)
        return;
    const QStringList& result = found.files;
    const QSet<QString> seen(result.begin(), result.end());
    QStringList merged;
    for (const QString& item : std::as_const(items))
        if (!seen.contains(item) && QFileInfo::exists(item))
            merged.append(item);
    merged += result;
    if (merged.size() > maxFiles)
        merged.resize(maxFiles);
    recentCache = merged;
    if (merged != items) {
        items = merged;
        markFresh();
        emit itemsChanged();
    }
    // Short: the note shares the header with the tabs and the action pill.
    if (!last)
        note = QStringLiteral("Still searching\u2026");
    else if (found.cutShort)
        note = QStringLiteral("List may be incomplete");
    else
        note.clear();
    emptyShown = last && result.isEmpty();
    if (emptyShown) {
        emptyTitle = QStringLiteral("No new images in the last 24 hours");
        emptyDetail = QStringLiteral("Downloads and saves anywhere in your home folder show up here.");
        if (found.cutShort)
            emptyDetail += QStringLiteral("\nYour home folder is too big to search whole: some may be missing.");
    }
    emit stateChanged();
}

void BasketListing::markFresh() {
    const QSet<QString> current(items.begin(), items.end());
    if (sources.visible && sources.visible() && !known.isEmpty())
        for (const QString& file : current)
            if (!known.contains(file))
                fresh.insert(file);
    known = current;
}
