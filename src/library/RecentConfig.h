#pragma once
// Everything the search for recently arrived pictures reads: where to look, what to leave out, how
// long it may take, and the clock. standard() describes this session; tests build their own.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

struct RecentConfig {
    QString home; // no trailing slash
    // Paths starting with one of these are never returned (a folder name without a slash also
    // covers its siblings that begin with the same name).
    QStringList excludedPrefixes;
    // Searched one level deep after the home walk, for what a cut-short walk missed.
    QStringList scanFolders;
    QString xbelPath; // the desktop's list of recently used files

    int maxDepth = 12;
    qint64 maxEntries = 500000;
    int maxMillis = 1500;
    qint64 maxXbelBytes = 16 << 20;

    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    // Asked along the walk: true ends it as the budget would (the result is no longer wanted).
    std::function<bool()> cancelled;

    // The budget of a walk that may take its time, in the background, after a quick one was cut short.
    void makeThorough() {
        maxEntries *= 20;
        maxMillis = 60000;
    }

    // The home folder and the XDG folders of this session; shotsFolder is the program's own.
    static RecentConfig standard(const QString& shotsFolder);
    // The same layout under another home folder, with the XDG folders at their default names.
    static RecentConfig forHome(const QString& home, const QString& shotsFolder);
};
