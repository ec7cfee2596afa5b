#include "library/ThumbCache.h"

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
    auto it = entries.find(file);
    if (it == entries.end())
        return;
    uses.erase(it->use);
    entries.erase(it);
}

void ThumbCache::retainOnly(const QSet<QString>& files) {
    for (auto it = uses.begin(); it != uses.end();) {
        if (files.contains(*it)) {
            ++it;
            continue;
        }
        entries.remove(*it);
        it = uses.erase(it);
    }
}
