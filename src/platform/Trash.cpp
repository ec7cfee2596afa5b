#include "platform/Trash.h"

#include "platform/FileOps.h"
#include "platform/UnnamedFile.h"
#include "platform/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Trash {

namespace {

// One trash directory: where the files and their records go, and what a record's Path is relative to.
struct Place {
    QString files;
    QString info;
    QString topdir; // empty for the home Trash, whose records hold absolute paths
};

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

bool lstatPath(const QString& path, struct stat* st) {
    return ::lstat(encoded(path).constData(), st) == 0;
}

// Creates dir with mode 0700 when missing; accepts it only as a real directory of ours (never a symlink
// planted by someone else, which could redirect trashed files).
bool ownDirectory(const QString& dir) {
    if (::mkdir(encoded(dir).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return lstatPath(dir, &st) && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool prepare(const QString& trashDir, Place* place) {
    if (!ownDirectory(trashDir) || !ownDirectory(trashDir + QStringLiteral("/files")) ||
        !ownDirectory(trashDir + QStringLiteral("/info")))
        return false;
    place->files = trashDir + QStringLiteral("/files");
    place->info = trashDir + QStringLiteral("/info");
    return true;
}

QString realPath(const QString& path) {
    char* resolved = ::realpath(encoded(path).constData(), nullptr);
    if (!resolved)
        return {};
    const QString result = QFile::decodeName(resolved);
    std::free(resolved);
    return result;
}

// The mount point holding `dir`: the last ancestor on the same device.
QString topDirectory(const QString& dir, dev_t device) {
    QString top = dir;
    while (top != QStringLiteral("/")) {
        const QString parent = QFileInfo(top).path();
        struct stat st;
        if (!lstatPath(parent, &st) || st.st_dev != device)
            break;
        top = parent;
    }
    return top;
}

// $topdir/.Trash/$uid when the administrator made $topdir/.Trash a sticky directory, else $topdir/.Trash-$uid.
bool volumePlace(const QString& topdir, Place* place) {
    const QString uid = QString::number(::getuid());
    const QString base = topdir == QStringLiteral("/") ? QString() : topdir;
    const QString shared = base + QStringLiteral("/.Trash");
    struct stat st;
    if (lstatPath(shared, &st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        prepare(shared + QLatin1Char('/') + uid, place)) {
        place->topdir = topdir;
        return true;
    }
    if (prepare(base + QStringLiteral("/.Trash-") + uid, place)) {
        place->topdir = topdir;
        return true;
    }
    return false;
}

// "photo.png", then "photo 2.png", "photo 3.png": the extension stays last so the file manager still knows it.
QString candidateName(const QString& name, int n) {
    if (n == 1)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + QLatin1Char(' ') + QString::number(n);
    return name.left(dot) + QLatin1Char(' ') + QString::number(n) + name.mid(dot);
}

QByteArray recordText(const QString& storedPath) {
    // The record keeps the path's bytes as the filesystem has them, URL-escaped, so that names in any
    // encoding and names with '%', newlines or '=' read back exactly.
    QByteArray text = "[Trash Info]\nPath=";
    text += encoded(storedPath).toPercentEncoding("/");
    text += "\nDeletionDate=";
    text += QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1();
    text += '\n';
    return text;
}

// Reserves info/<name>.trashinfo exclusively, whole: the record is written without a name and named only
// once it is on the disk, so that an end meanwhile leaves no empty record behind. Returns 0, EEXIST when the name
// is taken, or an errno.
int reserveRecord(const QString& infoPath, const QByteArray& text) {
    UnnamedFile record(QFileInfo(infoPath).path());
    if (!record.isOpen())
        return errno != 0 ? errno : EIO;
    if (!record.write(text))
        return errno != 0 ? errno : EIO;
    return record.link(infoPath);
}

Result failure(const QString& name, const QString& reason) {
    Result r;
    r.error = QStringLiteral("Couldn't move %1 to the Trash: %2").arg(name, reason);
    return r;
}

} // namespace

QString homeTrash() {
    return QFileInfo(XdgPaths::dataDir()).path() + QStringLiteral("/Trash");
}

Result moveToTrash(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    struct stat st;
    if (name.isEmpty() || !lstatPath(info.absoluteFilePath(), &st))
        return failure(name.isEmpty() ? path : name, FileOps::errorText(name.isEmpty() ? EINVAL : errno));
    if (S_ISDIR(st.st_mode))
        return failure(name, QStringLiteral("it is a folder"));

    // The folder is resolved so that a record's path and the volume's top directory agree with the mounts.
    const QString folder = realPath(info.absolutePath());
    if (folder.isEmpty())
        return failure(name, FileOps::errorText(errno));
    const QString source = (folder == QStringLiteral("/") ? QString() : folder) + QLatin1Char('/') + name;

    // Files on the home Trash's device go there and nowhere else; others go to their volume's own Trash.
    Place place;
    const QString home = homeTrash();
    const QString dataHome = QFileInfo(home).path();
    QDir().mkpath(dataHome);
    struct stat dataSt;
    if (::stat(encoded(dataHome).constData(), &dataSt) == 0 && dataSt.st_dev == st.st_dev) {
        if (!prepare(home, &place))
            return failure(name, QStringLiteral("the Trash folder %1 can't be used").arg(home));
    } else {
        struct stat folderSt;
        if (!lstatPath(folder, &folderSt) || !volumePlace(topDirectory(folder, folderSt.st_dev), &place))
            return failure(name, QStringLiteral("this volume has no Trash this user can write to"));
    }

    QString stored = source;
    if (!place.topdir.isEmpty())
        stored = source.mid(place.topdir == QStringLiteral("/") ? 1 : place.topdir.size() + 1);
    const QByteArray text = recordText(stored);

    for (int n = 1; n < 10000; ++n) {
        const QString entry = candidateName(name, n);
        const QString infoPath = place.info + QLatin1Char('/') + entry + QStringLiteral(".trashinfo");
        const QString target = place.files + QLatin1Char('/') + entry;
        const int reserved = reserveRecord(infoPath, text);
        if (reserved == EEXIST)
            continue;
        if (reserved != 0)
            return failure(name, FileOps::errorText(reserved));
        const int moved = FileOps::renameNoReplace(source, target);
        if (moved == 0) {
            Result r;
            r.trashedPath = target;
            r.infoPath = infoPath;
            return r;
        }
        ::unlink(encoded(infoPath).constData());
        if (moved == EEXIST)
            continue; // a stray file without a record holds the name
        if (moved == EXDEV)
            return failure(name, QStringLiteral("the Trash is on another device"));
        return failure(name, FileOps::errorText(moved));
    }
    return failure(name, QStringLiteral("no free name in the Trash"));
}

} // namespace Trash
