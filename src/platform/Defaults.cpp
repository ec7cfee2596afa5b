#include "platform/Defaults.h"

#include "platform/FileOps.h"
#include "platform/FileWrites.h"
#include "platform/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

// On disk every value is an object {"t": type, "v": value}. JSON alone cannot tell an integer
// from a double or bytes from text, and reads must return the type that was written.
namespace {

const auto kType = QStringLiteral("t");
const auto kValue = QStringLiteral("v");

std::optional<QJsonValue> encode(const QVariant& value) {
    QJsonObject out;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        out[kType] = QStringLiteral("bool");
        out[kValue] = value.toBool();
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        // Stored as text: a double would lose precision above 2^53.
        out[kType] = QStringLiteral("int");
        out[kValue] = QString::number(value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        out[kType] = QStringLiteral("double");
        const double d = value.toDouble();
        if (std::isfinite(d))
            out[kValue] = d;
        else
            out[kValue] = QString::number(d); // "nan", "inf", "-inf"
        break;
    }
    case QMetaType::QString:
        out[kType] = QStringLiteral("string");
        out[kValue] = value.toString();
        break;
    case QMetaType::QByteArray:
        out[kType] = QStringLiteral("data");
        out[kValue] = QString::fromLatin1(value.toByteArray().toBase64());
        break;
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray items;
        for (const QVariant& item : value.toList()) {
            const auto encoded = encode(item);
            if (!encoded)
                return std::nullopt;
            items.append(*encoded);
        }
        out[kType] = QStringLiteral("array");
        out[kValue] = items;
        break;
    }
    case QMetaType::QVariantMap: {
        QJsonObject items;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const auto encoded = encode(it.value());
            if (!encoded)
                return std::nullopt;
            items[it.key()] = *encoded;
        }
        out[kType] = QStringLiteral("dict");
        out[kValue] = items;
        break;
    }
    default:
        return std::nullopt;
    }
    return out;
}

// An entry that does not decode is dropped: one bad key must not cost the user every setting.
QVariant decode(const QJsonValue& json) {
    if (!json.isObject())
        return {};
    const QJsonObject obj = json.toObject();
    const QString type = obj.value(kType).toString();
    const QJsonValue v = obj.value(kValue);
    if (type == u"bool") {
        return v.isBool() ? QVariant(v.toBool()) : QVariant();
    } else if (type == u"int") {
        bool ok = false;
        const qlonglong n = v.isString() ? v.toString().toLongLong(&ok) : 0;
        if (!ok && v.isDouble() && v.toDouble() == std::floor(v.toDouble()))
            return QVariant(qlonglong(v.toDouble()));
        return ok ? QVariant(n) : QVariant();
    } else if (type == u"double") {
        if (v.isDouble())
            return QVariant(v.toDouble());
        if (v.isString()) {
            const QString s = v.toString();
            if (s == u"nan")
                return QVariant(std::nan(""));
            if (s == u"inf")
                return QVariant(std::numeric_limits<double>::infinity());
            if (s == u"-inf")
                return QVariant(-std::numeric_limits<double>::infinity());
        }
        return {};
    } else if (type == u"string") {
        return v.isString() ? QVariant(v.toString()) : QVariant();
    } else if (type == u"data") {
        if (!v.isString())
            return {};
        const auto result =
            QByteArray::fromBase64Encoding(v.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        return result ? QVariant(*result) : QVariant();
    } else if (type == u"array") {
        if (!v.isArray())
            return {};
        QVariantList list;
        for (const QJsonValue& item : v.toArray()) {
            const QVariant decoded = decode(item);
            if (!decoded.isValid())
                return {};
            list.append(decoded);
        }
        return list;
    } else if (type == u"dict") {
        if (!v.isObject())
            return {};
        QVariantMap map;
        const QJsonObject items = v.toObject();
        for (auto it = items.begin(); it != items.end(); ++it) {
            const QVariant decoded = decode(it.value());
            if (!decoded.isValid())
                return {};
            map.insert(it.key(), decoded);
        }
        return map;
    }
    return {};
}

struct ReadResult {
    bool exists = false;
    bool damaged = false;
    bool tooLarge = false;
    int unreadable = 0; // why the file, or a folder on its way, could not be read
    QString standing; // what stood in the file's place, where it was no plain file
    QVariantMap values;
};

ReadResult readDomainFile(const QString& path) {
    ReadResult result;
    struct stat seen {};
    if (::stat(QFile::encodeName(path).constData(), &seen) != 0) {
        // Only a file that isn't there is absent: one the system can't reach (a folder on the way the user may not
        // enter, links too many) is not taken for absent and written over.
        if (errno != ENOENT && errno != ENOTDIR) {
            result.exists = true;
            result.unreadable = errno;
        }
        return result;
    }
    const QFileInfo info(path);
    result.exists = true;
    // Only a plain file is read: a pipe or a device put in its place would hold the start for good.
    if (!info.isFile()) {
        result.damaged = true;
        result.standing = info.isDir() ? QStringLiteral("a folder") : QStringLiteral("not a plain file");
        return result;
    }
    if (info.size() > Defaults::readLimit) {
        result.tooLarge = true;
        return result;
    }
    // Opened without waiting, and looked at again once open: a pipe put in its place meanwhile is not read.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        result.unreadable = errno;
        return result;
    }
    struct stat opened {};
    QFile file;
    if (::fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        result.damaged = true;
        result.standing = QStringLiteral("not a plain file");
        return result;
    }
    // Bounded again: the file may have grown since it was looked at.
    const QByteArray bytes = file.read(Defaults::readLimit + 1);
    if (bytes.size() > Defaults::readLimit) {
        result.tooLarge = true;
        return result;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        result.damaged = true;
        return result;
    }
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QVariant decoded = decode(it.value());
        if (decoded.isValid())
            result.values.insert(it.key(), decoded);
    }
    return result;
}

// A path as the user knows it, for a message.
QString shownPath(const QString& path) {
    const QString home = QDir::homePath();
    if (path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

// The reason given for contents larger than a file we would read back at the next start.
constexpr int tooLargeToKeep = E2BIG;

// The file for `values`: indented for a reader, compact where that is too large to be read back, and nothing
// where even that is.
QByteArray fileContents(const QVariantMap& values) {
    QJsonObject root;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (const auto encoded = encode(it.value()))
            root[it.key()] = *encoded;
    }
    const QJsonDocument document(root);
    QByteArray bytes = document.toJson(QJsonDocument::Indented);
    if (bytes.size() > Defaults::readLimit)
        bytes = document.toJson(QJsonDocument::Compact);
    return bytes.size() > Defaults::readLimit ? QByteArray() : bytes;
}

// Why a write failed, in the user's words where the reason is a common one.
QString failureText(int error) {
    switch (error) {
    case tooLargeToKeep:
        return QStringLiteral("they are larger than the ") + QString::number(Defaults::readLimit / (1024 * 1024)) +
               QStringLiteral(" MB a settings file may hold");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
    case EACCES:
    case EPERM:
        return QStringLiteral("the file or its folder is read-only");
    case ENOTDIR:
        return QStringLiteral("a file stands where its folder should be");
    case ENOENT:
        return QStringLiteral("it is linked to a place that doesn't exist");
    case ELOOP:
        return QStringLiteral("its links lead round in a circle, or through more than the system follows");
    case EILSEQ:
        return QStringLiteral("a link names it in characters that aren't text");
    case EEXIST:
        return QStringLiteral("something other than a settings file stands in its place");
    case EFBIG:
        // A file-size limit of the session or of the file system.
        return QStringLiteral("the file is larger than this system allows");
    default:
        return FileOps::errorText(error);
    }
}

} // namespace

QString Defaults::standardDomainName() {
    return QStringLiteral("org.pictolarium.Pictolarium");
}

Defaults& Defaults::standard() {
    static Defaults instance(XdgPaths::configDir(), standardDomainName());
    return instance;
}

Defaults::Defaults(QString directory, QString domain)
    : path(QDir(directory).filePath(domain + QStringLiteral(".json"))) {
    load();
}

std::optional<QVariantMap> Defaults::persistentDomain(const QString& directory, const QString& domain) {
    const ReadResult result = readDomainFile(QDir(directory).filePath(domain + QStringLiteral(".json")));
    if (!result.exists)
        return std::nullopt;
    return result.values;
}

void Defaults::load() {
    const ReadResult result = readDomainFile(path);
    values = result.values;
    if (result.unreadable) {
        // Most likely the user's own doing (a mode, an owner): nothing is moved, and nothing written over it.
        writesOff = true;
        const QString message = QStringLiteral("Your settings file can't be read (") +
                                (result.unreadable == EACCES || result.unreadable == EPERM
                                     ? QStringLiteral("there is no permission to read it")
                                     : failureText(result.unreadable)) +
                                QStringLiteral("); it is left as it is, and settings changed now won't be saved");
        std::fprintf(stderr, "pictolarium: %s.\n", qPrintable(message));
        tell(message);
        return;
    }
    if (!result.damaged && !result.tooLarge)
        return;
    // Kept for the user before the next write replaces it, under a name of its own: nothing there is replaced.
    // A plain file at the end of links is kept beside itself, and the links stay for the next write to go through;
    // anything else (a device, a pipe, a folder) is left where it is and the link to it is moved.
    int linkError = 0;
    const QString end = FileOps::throughLinks(path, linkError);
    const QString moved = linkError == 0 && end != path && QFileInfo(end).isFile() ? end : path;
    // A file at the end of links that can't be named again stays, with its links, and nothing is written.
    const bool unnamed = linkError != 0 && linkError != ELOOP;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString stem = moved + (result.tooLarge ? QStringLiteral(".too-large-") : QStringLiteral(".damaged-")) + stamp;
    QString aside = stem;
    int error = unnamed ? linkError : FileOps::renameNoReplace(moved, aside);
    for (int n = 2; error == EEXIST && n < 100; ++n) {
        aside = stem + QLatin1Char('-') + QString::number(n);
        error = FileOps::renameNoReplace(moved, aside);
    }
    // A damaged file is small (it was read): where it can't be moved, a copy keeps it.
    if (error == 0 || (!unnamed && result.damaged && QFileInfo(moved).isFile() && QFile::copy(moved, aside)))
        keptAside = aside;
    const QString what = result.tooLarge              ? QStringLiteral("too large to read")
                         : result.standing.isEmpty() ? QStringLiteral("damaged")
                                                     : result.standing;
    QString message;
    if (keptAside.isEmpty()) {
        writesOff = true;
        message = QStringLiteral("Your settings file is ") + what + QStringLiteral(" and couldn't be kept aside (") +
                  (error == EEXIST ? QStringLiteral("every name to keep it under is taken") : failureText(error)) +
                  QStringLiteral("); it is left as it is, and settings changed now won't be saved");
    } else {
        message = QStringLiteral("Your settings file was ") + what + QStringLiteral("; it was kept as ") +
                  shownPath(keptAside);
    }
    std::fprintf(stderr, "pictolarium: %s.\n", qPrintable(message));
    tell(message);
}

void Defaults::setReport(Report to) {
    QStringList waiting;
    {
        const std::lock_guard hold(writeLock);
        report = std::move(to);
        if (report)
            waiting = std::exchange(untold, {});
        to = report;
    }
    for (const QString& message : waiting)
        to(message);
}

void Defaults::tell(const QString& message) {
    Report to;
    {
        const std::lock_guard hold(writeLock);
        if (!report) {
            untold.append(message);
            return;
        }
        to = report;
    }
    to(message);
}

void Defaults::save() {
    const std::lock_guard hold(writeLock);
    if (writesOff)
        return;
    // Only the newest contents matter: ones still waiting are replaced, never written after these. They are
    // encoded by the writer: for a large domain that takes long, and the map is shared, not copied, here.
    waiting = values;
    ++asked;
    if (!writer.joinable())
        writer = std::thread([this] { writeLoop(); });
    wake.notify_one();
}

void Defaults::writeLoop() {
    std::unique_lock hold(writeLock);
    while (true) {
        wake.wait(hold, [this] { return stopping || written < asked; });
        if (written == asked)
            return;
        const quint64 generation = asked;
        const QVariantMap contents = std::exchange(waiting, {});
        hold.unlock();
        const QByteArray bytes = fileContents(contents);
        int error = tooLargeToKeep;
        if (!bytes.isEmpty()) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            error = FileWrites::replaceWith(path, bytes);
        }
        // Told once for a run of writes that fail alike (a full disk fails every one of a burst), and again
        // once one got through or the reason changed.
        if (error != 0 && error != lastError)
            std::fprintf(stderr, "pictolarium: couldn't write the settings to %s: %s\n", qPrintable(path),
                         qPrintable(failureText(error)));
        hold.lock();
        // On the screen once for the whole run of failures, whatever their reasons.
        const bool newFailure = error != 0 && lastError == 0;
        written = generation;
        lastWriteOk = error == 0;
        lastError = error;
        // Kept until a write gets through, for flush() to try once more: the disk may have room again by then.
        if (error != 0)
            unwritten = contents;
        else
            unwritten.reset();
        caughtUp.notify_all();
        if (newFailure) {
            hold.unlock();
            // Named where the file really is: at the end of its links.
            int linkError = 0;
            const QString end = FileOps::throughLinks(path, linkError);
            tell(QStringLiteral("Couldn't save your settings in \u201c") +
                 shownPath(QFileInfo(linkError ? path : end).absolutePath()) +
                 QStringLiteral("\u201d: ") + failureText(error));
            hold.lock();
        }
    }
}

bool Defaults::flush() {
    std::unique_lock hold(writeLock);
    caughtUp.wait(hold, [this] { return written == asked; });
    if (writesOff)
        return false;
    // The last contents failed to reach the disk and nothing newer came: the reason may have gone since
    // (room made on a full disk), and what the user changed would otherwise be lost at the end.
    if (!lastWriteOk && unwritten && !stopping) {
        waiting = *std::exchange(unwritten, std::nullopt);
        ++asked;
        wake.notify_one();
        caughtUp.wait(hold, [this] { return written == asked; });
    }
    return lastWriteOk;
}

Defaults::~Defaults() {
    {
        // No second try here: the standard domain goes with the process's statics, after the ones a write uses
        // where files can't be made without a name.
        std::unique_lock hold(writeLock);
        // Nobody is left to be told: what the report reached may be going too.
        report = nullptr;
        caughtUp.wait(hold, [this] { return written == asked; });
        stopping = true;
        wake.notify_one();
    }
    if (writer.joinable())
        writer.join();
}

bool Defaults::isStorable(const QVariant& value) {
    return encode(value).has_value();
}

QVariant Defaults::object(const QString& key) const {
    QMutexLocker lock(&mutex);
    return values.value(key);
}

std::optional<bool> Defaults::boolean(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool();
    return std::nullopt;
}

std::optional<qlonglong> Defaults::integer(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::LongLong)
        return v.toLongLong();
    return std::nullopt;
}

std::optional<double> Defaults::number(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::Double || v.metaType().id() == QMetaType::LongLong)
        return v.toDouble();
    return std::nullopt;
}

std::optional<QString> Defaults::string(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

std::optional<QByteArray> Defaults::data(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::QByteArray)
        return v.toByteArray();
    return std::nullopt;
}

std::optional<QVariantList> Defaults::array(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::QVariantList)
        return v.toList();
    return std::nullopt;
}

std::optional<QVariantMap> Defaults::dictionary(const QString& key) const {
    const QVariant v = object(key);
    if (v.metaType().id() == QMetaType::QVariantMap)
        return v.toMap();
    return std::nullopt;
}

bool Defaults::set(const QString& key, const QVariant& value) {
    if (!value.isValid())
        return remove(key);
    const auto encoded = encode(value);
    if (!encoded)
        return false;
    QMutexLocker lock(&mutex);
    // Normalise to the decoded form so reads in this process match reads after a restart.
    values.insert(key, decode(*encoded));
    save();
    return true;
}

bool Defaults::remove(const QString& key) {
    QMutexLocker lock(&mutex);
    if (!values.contains(key))
        return true;
    values.remove(key);
    save();
    return true;
}

QVariantMap Defaults::dictionaryRepresentation() const {
    QMutexLocker lock(&mutex);
    return values;
}
