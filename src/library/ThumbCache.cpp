#include "library/ThumbCache.h"

#include <QFileInfo>

QImage ThumbCache::value(const QString& file) {
    auto it = entries.find(file);
    if (it == entries.end())
        return {};
    touch(*it);
    return it->image;
}

void ThumbCache::touch(Entry& entry) {
    uses.splice(uses.begin(), uses, entry.use);
}

void ThumbCache::insert(const QString& file, const QImage& image) {
    failures.remove(file);
    auto it = entries.find(file);
    if (it != entries.end()) {
        it->image = image;
        touch(*it);
        return;
    }
    uses.push_front(file);
    entries.insert(file, Entry{image, uses.begin()});
    while (entries.size() > limit && !uses.empty()) {
        entries.remove(uses.back());
        uses.pop_back();
    }
}

void ThumbCache::remove(const QString& file) {
    failures.remove(file);
    auto it = entries.find(file);
    if (it == entries.end())
        return;
    uses.erase(it->use);
    entries.erase(it);
}

void ThumbCache::retainOnly(const QSet<QString>& files) {
    for (auto it = failures.begin(); it != failures.end();)
        it = files.contains(it.key()) ? std::next(it) : failures.erase(it);
    for (auto it = uses.begin(); it != uses.end();) {
        if (files.contains(*it)) {
            ++it;
            continue;
        }
        entries.remove(*it);
        it = uses.erase(it);
    }
}

ThumbCache::Stamp ThumbCache::stampOf(const QString& file) {
    const QFileInfo info(file);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
}

void ThumbCache::markFailed(const QString& file) {
    failures.insert(file, stampOf(file));
}

bool ThumbCache::failedUnchanged(const QString& file) const {
    const auto it = failures.constFind(file);
    return it != failures.constEnd() && *it == stampOf(file);
}
