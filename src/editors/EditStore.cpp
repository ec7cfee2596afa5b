#include "editors/EditStore.h"

#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "platform/FileWrites.h"
#include "platform/XdgPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr qint64 keepSeconds = 2'592'000;
// An id is 36 bytes; anything much longer is not one and is not worth reading.
constexpr size_t attributeLimit = 256;

const QString sizeKey = QStringLiteral("fileSize");
const QString modifiedKey = QStringLiteral("fileModified");

QString recordPath(const QString& id, const QString& ext) {
    return EditStore::dir() + QLatin1Char('/') + id + ext;
}

// What a file looked like when it was written: a file changed since then no longer shows its record.
struct Stamp {
    qint64 size = -1;
    qint64 modified = -1;
    bool operator==(const Stamp&) const = default;
};

std::optional<Stamp> stampOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return Stamp{info.size(), info.lastModified().toMSecsSinceEpoch()};
}

std::optional<Stamp> stampIn(const QJsonObject& object) {
    if (!object.value(sizeKey).isDouble() || !object.value(modifiedKey).isDouble())
        return std::nullopt;
    return Stamp{qint64(object.value(sizeKey).toDouble()), qint64(object.value(modifiedKey).toDouble())};
}

QString canonical(const QUrl& file) {
    const QString path = file.toLocalFile();
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QFileInfo(path).absoluteFilePath() : resolved;
}

QJsonObject readIndex() {
    QFile file(EditStore::indexPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isObject() ? document.object() : QJsonObject();
}

bool writeIndex(const QJsonObject& index) {
    QDir().mkpath(QFileInfo(EditStore::indexPath()).absolutePath());
    return FileWrites::replaceWith(EditStore::indexPath(), QJsonDocument(index).toJson(QJsonDocument::Compact)) == 0;
}

std::optional<QString> indexedID(const QUrl& file) {
    const QJsonObject entry = readIndex().value(canonical(file)).toObject();
    const QString id = entry.value(QStringLiteral("id")).toString();
    const std::optional<Stamp> stored = stampIn(entry);
    if (!EditStore::isID(id) || !stored || stampOf(file.toLocalFile()) != stored)
        return std::nullopt;
    return id;
}

void index(const QString& id, const QUrl& file) {
    QJsonObject links = readIndex();
    // Links whose record is gone lead nowhere: drop them while rewriting.
    for (auto it = links.begin(); it != links.end();) {
        const QString linked = it.value().toObject().value(QStringLiteral("id")).toString();
        if (!EditStore::isID(linked) || !QFileInfo::exists(recordPath(linked, QStringLiteral(".json"))))
            it = links.erase(it);
        else
            ++it;
    }
    const std::optional<Stamp> stamp = stampOf(file.toLocalFile());
    if (!stamp)
        return;
    links.insert(canonical(file), QJsonObject{{QStringLiteral("id"), id},
                                              {sizeKey, double(stamp->size)},
                                              {modifiedKey, double(stamp->modified)}});
    writeIndex(links);
}

} // namespace

EditStore::Attributes EditStore::systemAttributes() {
    Attributes system;
    system.read = [](const QString& path) -> std::optional<QByteArray> {
        const QByteArray native = QFile::encodeName(path);
        char buffer[attributeLimit];
        const ssize_t got = ::getxattr(native.constData(), attributeName(), buffer, sizeof buffer);
        if (got <= 0)
            return std::nullopt;
        return QByteArray(buffer, int(got));
    };
    system.write = [](const QString& path, const QByteArray& value) {
        const QByteArray native = QFile::encodeName(path);
        return ::setxattr(native.constData(), attributeName(), value.constData(), size_t(value.size()), 0) == 0;
    };
    return system;
}

EditStore::Attributes& EditStore::attributes() {
    static Attributes current = systemAttributes();
    return current;
}

const char* EditStore::attributeName() {
    return "user.com.quillmerette.picto.edit";
}

QString EditStore::dir() {
    return XdgPaths::dataDir() + QStringLiteral("/Edits");
}

QString EditStore::indexPath() {
    return XdgPaths::dataDir() + QStringLiteral("/EditLinks.json");
}

bool EditStore::isID(const QString& text) {
    // The id names files in the edits folder: nothing but the form we write may reach a path.
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return uuid.match(text).hasMatch();
}

std::optional<QString> EditStore::id(const QUrl& file) {
    const QString path = file.toLocalFile();
    if (path.isEmpty())
        return std::nullopt;
    if (attributes().read) {
        if (const std::optional<QByteArray> value = attributes().read(path)) {
            const QString text = QString::fromUtf8(*value);
            return isID(text) ? std::optional<QString>(text) : std::nullopt;
        }
    }
    return indexedID(file);
}

void EditStore::setID(const QString& id, const QUrl& file) {
    if (!isID(id))
        return;
    const QString path = file.toLocalFile();
    if (attributes().write && attributes().write(path, id.toUtf8()))
        return;
    index(id, file);
}

std::optional<EditStore::Edit> EditStore::load(const QUrl& file) {
    const std::optional<QString> found = id(file);
    if (!found)
        return std::nullopt;
    QFile json(recordPath(*found, QStringLiteral(".json")));
    if (!json.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = json.readAll();
    std::optional<std::vector<ShapeRecord>> shapes = ShapeRecords::decode(text);
    if (!shapes)
        return std::nullopt;
    // Another program may have rewritten the picture in place, keeping the attribute: the record then
    // describes a picture that is no longer there.
    const QJsonObject document = QJsonDocument::fromJson(text).object();
    if (const std::optional<Stamp> stored = stampIn(document); stored && stampOf(file.toLocalFile()) != stored)
        return std::nullopt;
    const QString basePath = recordPath(*found, QStringLiteral(".png"));
    if (!QFileInfo::exists(basePath))
        return std::nullopt;
    try {
        QImage base = ImageConvert::load(QUrl::fromLocalFile(basePath));
        if (base.isNull())
            return std::nullopt;
        return Edit{*found, std::move(base), std::move(*shapes)};
    } catch (const UserError&) {
        return std::nullopt;
    }
}

namespace {

// Writes the base picture (once: a base is never rewritten) and the shapes with the stamp of the picture they
// were drawn on; the id, or nothing on failure.
std::optional<QString> writeRecord(const std::optional<QString>& given, const QImage& base,
                                   const std::vector<ShapeRecord>& shapes, const std::optional<Stamp>& stamp) {
    const QString id =
        given && EditStore::isID(*given) ? *given : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    QDir().mkpath(EditStore::dir());
    const QString basePath = recordPath(id, QStringLiteral(".png"));
    if (!QFileInfo::exists(basePath)) {
        try {
            ShotFiles::write(base, QUrl::fromLocalFile(basePath));
        } catch (const UserError&) {
            return std::nullopt;
        }
    }
    const std::optional<QByteArray> encoded = ShapeRecords::encode(shapes);
    if (!encoded)
        return std::nullopt;
    QJsonObject document = QJsonDocument::fromJson(*encoded).object();
    if (stamp) {
        document.insert(sizeKey, double(stamp->size));
        document.insert(modifiedKey, double(stamp->modified));
    }
    if (FileWrites::replaceWith(recordPath(id, QStringLiteral(".json")),
                                QJsonDocument(document).toJson(QJsonDocument::Compact)) != 0)
        return std::nullopt;
    return id;
}

} // namespace

std::optional<QString> EditStore::save(const std::optional<QString>& given, const QImage& base,
                                       const std::vector<ShapeRecord>& shapes, const QUrl& file) {
    const std::optional<QString> id = writeRecord(given, base, shapes, stampOf(file.toLocalFile()));
    if (!id)
        return std::nullopt;
    setID(*id, file);
    prune();
    return id;
}

std::optional<QString> EditStore::saveBeforeNaming(const std::optional<QString>& given, const QImage& base,
                                                   const std::vector<ShapeRecord>& shapes, int fd) {
    // The open file's own inode: its size and time are the named file's, for a link changes neither.
    const QString open = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    const std::optional<QString> id = writeRecord(given, base, shapes, stampOf(open));
    if (!id)
        return std::nullopt;
    if (attributes().write)
        attributes().write(open, id->toUtf8());
    prune();
    return id;
}

bool EditStore::linkCopy(const QUrl& original, const QUrl& copy) {
    const std::optional<QString> found = id(original);
    if (!found)
        return false;
    QFile json(recordPath(*found, QStringLiteral(".json")));
    if (!json.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = json.readAll();
    json.close();
    if (!ShapeRecords::decode(text))
        return false;
    QJsonObject document = QJsonDocument::fromJson(text).object();
    // The edit describes the original as it was written; a copy of anything else would reopen with shapes
    // drawn for another picture.
    const std::optional<Stamp> stored = stampIn(document);
    const std::optional<Stamp> copied = stampOf(copy.toLocalFile());
    if (!copied || (stored && (stampOf(original.toLocalFile()) != stored || copied->size != stored->size)))
        return false;
    const QString basePath = recordPath(*found, QStringLiteral(".png"));
    if (!QFileInfo::exists(basePath))
        return false;

    const QString newID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString newBase = recordPath(newID, QStringLiteral(".png"));
    // A base is never rewritten once stored, so both records may share its bytes.
    if (::link(QFile::encodeName(basePath).constData(), QFile::encodeName(newBase).constData()) != 0 &&
        !QFile::copy(basePath, newBase))
        return false;
    document.insert(sizeKey, double(copied->size));
    document.insert(modifiedKey, double(copied->modified));
    if (FileWrites::replaceWith(recordPath(newID, QStringLiteral(".json")),
                                QJsonDocument(document).toJson(QJsonDocument::Compact)) != 0) {
        QFile::remove(newBase);
        return false;
    }
    setID(newID, copy);
    return true;
}

void EditStore::forget(const QUrl& file) {
    const std::optional<QString> found = id(file);
    if (!found)
        return;
    QFile::remove(recordPath(*found, QStringLiteral(".json")));
    QFile::remove(recordPath(*found, QStringLiteral(".png")));
}

void EditStore::prune(const QDateTime& now) {
    const QDateTime cutoff = now.addSecs(-keepSeconds);
    QDir folder(dir());
    if (!folder.exists())
        return;
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QDateTime modified = entry.lastModified();
        if (!modified.isValid() || modified >= cutoff)
            continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}
