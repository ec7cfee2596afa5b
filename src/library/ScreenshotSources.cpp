#include "library/ScreenshotSources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ScreenshotSources {

namespace {

// The word for "screenshot" in people's languages, never a program's name: a name is no sign of what a file holds.
// Row order matters only for speed; "capture d" stops before the apostrophe so any apostrophe fits.
const QStringList& prefixes() {
    static const QStringList list = {
        QStringLiteral("screenshot"),       QStringLiteral("screen shot"),     QStringLiteral("bildschirmfoto"),
        QString::fromUtf8("skärmavbild"),   QString::fromUtf8("skærmbillede"), QStringLiteral("skjermbilde"),
        QString::fromUtf8("näyttökuva"),    QStringLiteral("capture d"),       QStringLiteral("captura de pantalla"),
        QStringLiteral("schermafbeelding"), QStringLiteral("istantanea"),
    };
    return list;
}

// A location as the tools store it: a file URL, a path, or a path with a leading tilde.
QString localPath(QString value, const QString& home) {
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'\'' || value.front() == u'"') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    if (value.startsWith(QStringLiteral("file:")))
        value = QUrl(value).toLocalFile();
    if (value == u"~" || value.startsWith(QStringLiteral("~/")))
        value = home + value.mid(1);
    return value;
}

// The value of the first "key=" line of a small settings file, whatever its group.
QString iniValue(const QString& file, const QString& key) {
    QFile f(file);
    if (QFileInfo(file).size() > 1 << 20 || !QFileInfo(file).isFile() || !f.open(QIODevice::ReadOnly))
        return {};
    QTextStream in(&f);
    const QString wanted = key + u'=';
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(wanted))
            return line.mid(wanted.size());
    }
    return {};
}

bool isFolder(const QString& path) {
    return !path.isEmpty() && QDir::isAbsolutePath(path) && QFileInfo(path).isDir();
}

QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

quint32 bigEndian(const unsigned char* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

bool namesTheTool(const QByteArray& text) {
    return text.trimmed().toLower().startsWith("gnome-screenshot");
}

// A "Software" keyword in a tEXt or an uncompressed iTXt chunk.
bool softwareChunk(const QByteArray& type, const QByteArray& data) {
    static const QByteArray keyword("Software", 9); // with its terminating zero
    if (!data.startsWith(keyword))
        return false;
    if (type == "tEXt")
        return namesTheTool(data.mid(keyword.size()));
    // iTXt: compression flag, method, language tag \0, translated keyword \0, text.
    qsizetype at = keyword.size();
    if (data.size() < at + 2 || data.at(at) != 0)
        return false;
    at += 2;
    for (int skip = 0; skip < 2; ++skip) {
        at = data.indexOf('\0', at);
        if (at < 0)
            return false;
        ++at;
    }
    return namesTheTool(data.mid(at));
}

} // namespace

const QSet<QString>& imageExts() {
    static const QSet<QString> exts = {QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                       QStringLiteral("webp"), QStringLiteral("heic"), QStringLiteral("tiff"),
                                       QStringLiteral("tif"),  QStringLiteral("pdf")};
    return exts;
}

QString Listing::errorText() const {
    if (!error)
        return {};
    char buffer[256];
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

Listing images(const QString& folder) {
    Listing listing;
    const QByteArray encoded = QFile::encodeName(folder);
    DIR* dir = opendir(encoded.constData());
    if (!dir) {
        listing.error = errno;
        return listing;
    }
    const QString base = withoutTrailingSlash(folder) + u'/';
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        const QByteArray raw(name);
        const QString decoded = QFile::decodeName(raw);
        // A name that does not survive the round trip could never be opened by its decoded path.
        if (QFile::encodeName(decoded) != raw)
            continue;
        const qsizetype dot = decoded.lastIndexOf(u'.');
        if (dot < 0 || !imageExts().contains(decoded.mid(dot + 1).toLower()))
            continue;
        listing.files.append(base + decoded);
    }
    if (errno) {
        listing.error = errno;
        listing.files.clear();
    }
    closedir(dir);
    return listing;
}

Places currentPlaces() {
    Places places;
    places.home = withoutTrailingSlash(QDir::homePath());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    places.configHome = QDir::isAbsolutePath(config) ? config : places.home + QStringLiteral("/.config");
    places.pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (QFile::exists(QStringLiteral("/usr/share/glib-2.0/schemas/org.gnome.gnome-screenshot.gschema.xml"))) {
        QProcess gsettings;
        gsettings.start(QStringLiteral("gsettings"),
                        {QStringLiteral("get"), QStringLiteral("org.gnome.gnome-screenshot"),
                         QStringLiteral("auto-save-directory")});
        if (gsettings.waitForFinished(500) && gsettings.exitCode() == 0)
            places.gnomeAutoSave = QString::fromUtf8(gsettings.readAllStandardOutput()).trimmed();
        else
            gsettings.kill();
    }
    // The shell names its screenshot folder in the session's language.
    places.screenshotsName = QString::fromUtf8(dgettext("gnome-shell", "Screenshots"));
    return places;
}

QString systemFolder(const Places& places) {
    const QString candidates[] = {
        localPath(iniValue(places.configHome + QStringLiteral("/spectaclerc"), QStringLiteral("defaultSaveLocation")),
                  places.home),
        localPath(iniValue(places.configHome + QStringLiteral("/xfce4/xfce4-screenshooter"),
                           QStringLiteral("screenshot_dir")),
                  places.home),
        localPath(places.gnomeAutoSave, places.home),
        places.pictures.isEmpty() ? QString() : places.pictures + u'/' + places.screenshotsName,
    };
    for (const QString& candidate : candidates)
        if (isFolder(candidate))
            return withoutTrailingSlash(QDir::cleanPath(candidate));
    return places.pictures.isEmpty() ? places.home + QStringLiteral("/Pictures") : places.pictures;
}

QString systemFolder() {
    return systemFolder(currentPlaces());
}

bool hasScreenshotName(const QString& fileName) {
    const QString name = fileName.normalized(QString::NormalizationForm_C).toLower();
    for (const QString& prefix : prefixes())
        if (name.startsWith(prefix))
            return true;
    return false;
}

bool hasScreenshotChunk(const QString& path) {
    // Non-blocking, and only after fstat says regular: a FIFO or a device named x.png is never read.
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    bool found = false;
    unsigned char head[8];
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && read(fd, head, 8) == 8 && !memcmp(head, signature, 8)) {
        // Text chunks come before the pixels; give up at the first IDAT or after a bounded look.
        for (int chunk = 0; chunk < 64; ++chunk) {
            unsigned char header[8];
            if (read(fd, header, 8) != 8)
                break;
            const quint32 length = bigEndian(header);
            const QByteArray type(reinterpret_cast<const char*>(header + 4), 4);
            if (type == "IDAT" || type == "IEND" || length > 0x7fffffff)
                break;
            if ((type == "tEXt" || type == "iTXt") && length <= 65536) {
                QByteArray data(qsizetype(length), Qt::Uninitialized);
                if (read(fd, data.data(), length) != ssize_t(length))
                    break;
                if (softwareChunk(type, data)) {
                    found = true;
                    break;
                }
                if (lseek(fd, 4, SEEK_CUR) < 0)
                    break;
            } else if (lseek(fd, off_t(length) + 4, SEEK_CUR) < 0) {
                break;
            }
        }
    }
    close(fd);
    return found;
}

bool isScreenshot(const QString& path) {
    return hasScreenshotName(QFileInfo(path).fileName()) || hasScreenshotChunk(path);
}

} // namespace ScreenshotSources
