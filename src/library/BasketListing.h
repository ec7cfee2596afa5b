#pragma once
// What the basket lists: the last day's screenshots or the pictures that arrived lately, the tab
// that chooses between them, which files are new since the last look, and the cached thumbnails
// of listed files. Lives on the UI thread; the Recent search runs on the thread pool.

#include "library/RecentConfig.h"
#include "library/ThumbCache.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class BasketListing : public QObject {
    Q_OBJECT
public:
    struct RecentFound {
        QStringList files; // newest first
        bool cutShort = false;
    };
    struct Sources {
        QString home;
        std::function<QString()> shotsFolder;  // the program's own folder, listed without the screenshot test
        std::function<QString()> systemFolder; // where the desktop saves screenshots
        // Blocking; runs on the thread pool with the moment a day back. A quick search first; when it could not
        // look everywhere, a thorough one follows (`thorough`). `cancelled` turns true once a newer listing
        // started: the search may stop then.
        std::function<RecentFound(const QDateTime& since, bool thorough, const std::function<bool()>& cancelled)>
            recent;
        std::function<QDateTime()> now;
        // Whether the basket is on screen: only then do new files sparkle.
        std::function<bool()> visible;
    };
    // The sources of this session.
    static Sources standardSources(std::function<bool()> visible);
    // The Recent search of RecentImages on what `config` gives; a thorough search has a far larger budget.
    static decltype(Sources::recent) recentSearch(std::function<RecentConfig()> config);

    static constexpr int lookBackSeconds = 86400;
    static constexpr int maxFiles = 1000;

    explicit BasketListing(Sources sources, QObject* parent = nullptr);

    void reload();
    // 0: Screenshots, 1: Recent images.
    void pickTab(int tab);
    // The program's own screenshot folder.
    QString shotsFolder() const { return sources.shotsFolder ? sources.shotsFolder() : QString(); }
    // A file was written or changed: forget its thumbnail, and list anew while on screen.
    void fileChanged(const QString& path);

    QStringList items;
    ThumbCache thumbCache;
    bool showingRecent = false;
    QStringList recentCache;
    QSet<QString> known;
    QSet<QString> fresh;
    int reloadGeneration = 0;

    QString emptyTitle = QStringLiteral("No screenshots in the last 24 hours");
    QString emptyDetail;
    bool emptyShown = false;
    // Said beside the tiles while the list is known to be incomplete; empty otherwise.
    QString note;

signals:
    // items was replaced: the grid lists it anew.
    void itemsChanged();
    // The empty state or the count may have changed; sent at the end of every listing step.
    void stateChanged();

private:
    void listScreenshots(const QDateTime& cutoff);
    void searchRecent(const QDateTime& cutoff);
    void takeRecent(int generation, const RecentFound& result, bool last);
    void markFresh();
    QString tilde(const QString& path) const;

    Sources sources;
    // The generation of the newest listing, for searches running on the pool.
    std::shared_ptr<QAtomicInt> latest = std::make_shared<QAtomicInt>(0);
};
