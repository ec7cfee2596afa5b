#pragma once
// Pictures that arrived anywhere in the home folder since a moment: a bounded walk of the home
// folder, the desktop's recently-used list, and a shallow look at the usual folders. Screenshots
// and the excluded folders are left out. Blocking: call it off the UI thread.

#include "library/RecentConfig.h"

#include <QDateTime>
#include <QSet>
#include <QStringList>

namespace RecentImages {

// The extensions that count as pictures here (PDF does not).
const QSet<QString>& pictureExts();

struct Found {
    QString path;
    QDateTime added;
};

struct Result {
    QList<Found> found; // newest first
    qint64 entriesSeen = 0;
    bool cutShort = false; // the walk stopped at its entry or time budget
};

Result search(const QDateTime& since, const RecentConfig& config);
// The paths alone, newest first.
QStringList added(const QDateTime& since, const RecentConfig& config);

} // namespace RecentImages
