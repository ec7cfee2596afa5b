#include "library/RecentImages.h"

#include "library/ScreenshotSources.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RecentImages {

namespace {

QDateTime fromTimestamp(const statx_timestamp& t) {
    return QDateTime::fromMSecsSinceEpoch(t.tv_sec * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

bool hasPictureExt(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && pictureExts().contains(name.mid(dot + 1).toLower());
}

// The same test on a raw name, without decoding it: every extension is plain ASCII.
bool hasPictureExt(const char* name) {
    const char* dot = strrchr(name, '.');
    if (!dot || strlen(dot + 1) > 4)
        return false;
    char ext[5] = {};
    for (int i = 0; dot[1 + i]; ++i)
        ext[i] = char(tolower(static_cast<unsigned char>(dot[1 + i])));
    return pictureExts().contains(QLatin1String(ext));
}

// Mount points strictly below the home folder: never entered, so a hung network mount there
// cannot hold the search.
QSet<QByteArray> mountsBelow(const QByteArray& home) {
    QSet<QByteArray> mounts;
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return mounts;
    const QByteArray prefix = home + '/';
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().split(' ');
        if (fields.size() < 5)
            continue;
        QByteArray point;
        const QByteArray& raw = fields.at(4);
        for (qsizetype i = 0; i < raw.size(); ++i) {
            // Blanks and backslashes come as three octal digits.
            if (raw.at(i) == '\\' && i + 3 < raw.size()) {
                point.append(char(raw.mid(i + 1, 3).toInt(nullptr, 8)));
                i += 3;
            } else {
                point.append(raw.at(i));
            }
        }
        if (point.startsWith(prefix))
            mounts.insert(point);
    }
    return mounts;
}

class Search {
public:
    Search(const QDateTime& since, const RecentConfig& config) : since(since), config(config) {
        home = QFile::encodeName(config.home);
        mounts = mountsBelow(home);
        for (const QString& prefix : config.excludedPrefixes)
            excluded.append(QFile::encodeName(prefix));
    }

    void walk();
    void walkFolder(int fd, const QByteArray& path, int depth);
    void readRecentlyUsed();
    void scanFolders();
    Result finish();

private:
    bool isExcluded(const QByteArray& path) const {
        return std::any_of(excluded.begin(), excluded.end(), [&](const QByteArray& p) { return path.startsWith(p); });
    }
    bool overBudget() const {
        return result.entriesSeen >= config.maxEntries || clock.elapsed() >= config.maxMillis ||
               (config.cancelled && config.cancelled());
    }
    // The file's arrival (its inode change: creation, copy, move in) when it is a regular file
    // that arrived since the cut and is no screenshot; the name has passed the cheap tests.
    void consider(int dirFd, const char* name, const QByteArray& path);

    QDateTime since;
    const RecentConfig& config;
    QByteArray home;
    QSet<QByteArray> mounts;
    QList<QByteArray> excluded;
    QSet<QByteArray> seen;
    QElapsedTimer clock;
    Result result;
    dev_t homeDevice = 0;
    qint64 sinceSeconds = 0;
};

void Search::consider(int dirFd, const char* name, const QByteArray& path) {
    if (seen.contains(path) || isExcluded(path))
        return;
    struct statx st {};
    if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_CTIME, &st) != 0)
        return;
    if (!S_ISREG(st.stx_mode))
        return;
    const QDateTime added = fromTimestamp(st.stx_ctime);
    if (added < since)
        return;
    // The date before the screenshot test: the test may read the file.
    const QString decoded = QFile::decodeName(path);
    // A name that is not valid in the locale's encoding could not be opened by the path we hand on.
    if (QFile::encodeName(decoded) != path || ScreenshotSources::isScreenshot(decoded))
        return;
    seen.insert(path);
    result.found.append({decoded, added});
}

void Search::walk() {
    clock.start();
    struct stat homeStat {};
    if (stat(home.constData(), &homeStat) != 0)
        return;
    homeDevice = homeStat.st_dev;
    sinceSeconds = since.toSecsSinceEpoch();
    const int fd = open(home.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        walkFolder(fd, home, 0);
}

// Depth first, each folder opened relative to its parent: no path is resolved twice, and at most
// maxDepth + 1 folders are open at once.
void Search::walkFolder(int fd, const QByteArray& path, int depth) {
    if (result.cutShort || overBudget()) {
        result.cutShort = true;
        close(fd);
        return;
    }
    struct stat dirStat {};
    if (fstat(fd, &dirStat) != 0 || dirStat.st_dev != homeDevice) {
        close(fd);
        return;
    }
    // A folder whose entries did not change since the cut holds no new arrivals; its subfolders
    // still may.
    const bool changed = dirStat.st_mtim.tv_sec >= sinceSeconds;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return;
    }
    const int dfd = dirfd(d);
    while (dirent* entry = readdir(d)) {
        if ((++result.entriesSeen & 1023) == 0 && overBudget())
            result.cutShort = true;
        if (result.cutShort)
            break;
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            if (depth + 1 > config.maxDepth || !strcmp(name, "node_modules"))
                continue;
            const QByteArray child = path + '/' + name;
            if (mounts.contains(child) || isExcluded(child + '/'))
                continue;
            const int childFd = openat(dfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (childFd >= 0)
                walkFolder(childFd, child, depth + 1);
        } else if (type == DT_REG && changed && hasPictureExt(name)) {
            consider(dfd, name, path + '/' + name);
        }
    }
    closedir(d);
}

void Search::readRecentlyUsed() {
    QFile file(config.xbelPath);
    struct stat st {};
    if (stat(QFile::encodeName(config.xbelPath).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(QIODevice::ReadOnly))
        return;
    // A huge or cut-off list gives what could be read of it.
    QXmlStreamReader xml(file.read(config.maxXbelBytes));
    const QString homeSlash = config.home + u'/';
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"bookmark")
            continue;
        const QUrl url(xml.attributes().value(QStringLiteral("href")).toString());
        if (!url.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(url.toLocalFile());
        if (!path.startsWith(homeSlash) || !hasPictureExt(path))
            continue;
        const QStringList parts = path.mid(homeSlash.size()).split(u'/');
        const bool hidden = std::any_of(parts.begin(), parts.end(), [](const QString& part) {
            return part.startsWith(u'.') || part == u"node_modules";
        });
        const QByteArray encoded = QFile::encodeName(path);
        const bool mounted =
            std::any_of(mounts.begin(), mounts.end(), [&](const QByteArray& m) { return encoded.startsWith(m + '/'); });
        if (hidden || mounted)
            continue;
        consider(AT_FDCWD, encoded.constData(), encoded);
    }
}

void Search::scanFolders() {
    auto list = [](const QByteArray& folder, auto&& each) {
        DIR* d = opendir(folder.constData());
        if (!d)
            return;
        while (dirent* entry = readdir(d))
            if (entry->d_name[0] != '.')
                each(dirfd(d), entry);
        closedir(d);
    };
    const QByteArray homeSlash = home + '/';
    for (const QString& folderName : config.scanFolders) {
        const QByteArray folder = QFile::encodeName(folderName);
        // A walk that went all the way has seen these two levels already.
        if (!result.cutShort && folder.startsWith(homeSlash) &&
            std::none_of(mounts.begin(), mounts.end(),
                         [&](const QByteArray& m) { return (folder + '/').startsWith(m + '/'); }))
            continue;
        if (isExcluded(folder + '/'))
            continue;
        list(folder, [&](int fd, const dirent* entry) {
            const char* name = entry->d_name;
            const QByteArray path = folder + '/' + name;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    return;
                type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            }
            if (type == DT_DIR) {
                if (isExcluded(path + '/') || mounts.contains(path))
                    return;
                list(path, [&](int innerFd, const dirent* inner) {
                    if (inner->d_type != DT_DIR && hasPictureExt(inner->d_name))
                        consider(innerFd, inner->d_name, path + '/' + inner->d_name);
                });
            } else if (hasPictureExt(name)) {
                consider(fd, name, path);
            }
        });
    }
}

Result Search::finish() {
    std::stable_sort(result.found.begin(), result.found.end(),
                     [](const Found& a, const Found& b) { return a.added > b.added; });
    return std::move(result);
}

} // namespace

const QSet<QString>& pictureExts() {
    static const QSet<QString> exts = {
        QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
        QStringLiteral("png"),  QStringLiteral("gif"),  QStringLiteral("webp"), QStringLiteral("tiff"),
        QStringLiteral("tif"),  QStringLiteral("bmp"),  QStringLiteral("avif"), QStringLiteral("dng"),
    };
    return exts;
}

Result search(const QDateTime& since, const RecentConfig& config) {
    Search search(since, config);
    search.walk();
    search.readRecentlyUsed();
    search.scanFolders();
    return search.finish();
}

QStringList added(const QDateTime& since, const RecentConfig& config) {
    QStringList paths;
    for (const Found& found : search(since, config).found)
        paths.append(found.path);
    return paths;
}

} // namespace RecentImages
