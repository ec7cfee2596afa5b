#include "platform/Defaults.h"

#include "platform/FileWrites.h"
#include "platform/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

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
        const auto result = QByteArray::fromBase64Encoding(v.toString().toLatin1(),
                                                           QByteArray::AbortOnBase64DecodingErrors);
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
    QVariantMap values;
};

ReadResult readDomainFile(const QString& path) {
    ReadResult result;
    QFile file(path);
    if (!file.exists())
        return result;
    result.exists = true;
    if (!file.open(QIODevice::ReadOnly)) {
        result.damaged = true;
        return result;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
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

} // namespace

QString Defaults::standardDomainName() { return QStringLiteral("org.pictolarium.Pictolarium"); }

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
    if (result.damaged) {
        // Keep the damaged file for the user before the next write replaces it.
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString aside = path + QStringLiteral(".damaged-") + stamp;
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
        if (QFile::rename(path, aside))
            keptAside = aside;
        else if (QFile::copy(path, aside))
            keptAside = aside;
    }
}

void Defaults::save() {
    QJsonObject root;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (const auto encoded = encode(it.value()))
            root[it.key()] = *encoded;
    }
    QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    const std::lock_guard hold(writeLock);
    // Only the newest contents matter: one still waiting is replaced, never written after this.
    waiting = std::move(bytes);
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
        const QByteArray bytes = std::exchange(waiting, {});
        hold.unlock();
        QDir().mkpath(QFileInfo(path).absolutePath());
        const int error = FileWrites::replaceWith(path, bytes);
        // Told once for a run of writes that fail alike (a full disk fails every one of a burst), and again
        // once one got through or the reason changed.
        if (error != 0 && error != lastError)
            std::fprintf(stderr, "pictolarium: couldn't write the settings to %s: %s\n", qPrintable(path),
                         std::strerror(error));
        hold.lock();
        written = generation;
        lastWriteOk = error == 0;
        lastError = error;
        // Kept until a write gets through, for flush() to try once more: the disk may have room again by then.
        unwritten = error != 0 ? bytes : QByteArray();
        caughtUp.notify_all();
    }
}

bool Defaults::flush() {
    std::unique_lock hold(writeLock);
    caughtUp.wait(hold, [this] { return written == asked; });
    // The last contents failed to reach the disk and nothing newer came: the reason may have gone since
    // (room made on a full disk), and what the user changed would otherwise be lost at the end.
    if (!lastWriteOk && !unwritten.isEmpty() && !stopping) {
        waiting = std::exchange(unwritten, {});
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
