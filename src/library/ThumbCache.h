#pragma once
// The basket's thumbnails by file, bounded: once full, the one used longest ago makes room.
// A thousand listed screenshots would otherwise keep close to a gigabyte of pictures.

#include <QHash>
#include <QImage>
#include <QSet>
#include <QString>
#include <QStringList>

#include <list>

class ThumbCache {
public:
    static constexpr int defaultLimit = 300;
    explicit ThumbCache(int limit = defaultLimit) : limit(limit) {}

    bool contains(const QString& file) const { return entries.contains(file); }
    // The thumbnail, or a null image; a hit counts as a use.
    QImage value(const QString& file);
    void insert(const QString& file, const QImage& image);
    void remove(const QString& file);
    // Forgets every file not in the set.
    void retainOnly(const QSet<QString>& files);

    // A file no thumbnail could be made of is not decoded again on every repaint: the failure is kept
    // with the file's size and time of change, and holds until either differs (or the file is removed).
    void markFailed(const QString& file);
    bool failedUnchanged(const QString& file) const;
    qsizetype size() const { return entries.size(); }
    QStringList keys() const { return QStringList(uses.begin(), uses.end()); }

private:
    struct Entry {
        QImage image;
        std::list<QString>::iterator use;
    };
    void touch(Entry& entry);

    struct Stamp {
        qint64 size = -1;
        qint64 modified = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const QString& file);

    int limit;
    QHash<QString, Entry> entries;
    QHash<QString, Stamp> failures;
    std::list<QString> uses; // most recent first
};
