#pragma once
// A typed key-value store for settings: one JSON file per domain, every write atomic,
// and reads that hand back exactly the type that was stored.

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class Defaults {
public:
    // The application's own domain, stored under XdgPaths::configDir().
    static Defaults& standard();
    static QString standardDomainName();

    // A domain stored as <directory>/<domain>.json. Tests hand in a temporary directory.
    Defaults(QString directory, QString domain);
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // Another domain's contents as last written, or nothing when the domain has no file.
    // Used to read a former application's settings without taking ownership of its file.
    static std::optional<QVariantMap> persistentDomain(const QString& directory, const QString& domain);

    // The stored object, or an invalid QVariant when absent. Types are exactly one of
    // bool, qlonglong, double, QString, QByteArray, QVariantList, QVariantMap.
    QVariant object(const QString& key) const;
    bool contains(const QString& key) const { return object(key).isValid(); }

    // Typed reads: nothing when the key is absent or holds another type. An integer reads as a
    // double too, since a number typed by hand into the file may lack its decimal point.
    std::optional<bool> boolean(const QString& key) const;
    std::optional<qlonglong> integer(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QVariantList> array(const QString& key) const;
    std::optional<QVariantMap> dictionary(const QString& key) const;

    // Convenience reads with the platform's zero values for absent keys.
    bool boolValue(const QString& key) const { return boolean(key).value_or(false); }
    qlonglong integerValue(const QString& key) const { return integer(key).value_or(0); }
    double doubleValue(const QString& key) const { return number(key).value_or(0.0); }

    // The value is kept at once and the file written on a thread of its own, whole and flushed, in the order
    // of the calls: a slow disk never holds the caller. A value of an unsupported type is refused and returns
    // false. A write that fails is told on standard error, to the report, and by flush().
    bool set(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    // Waits until every value set so far is on the disk, or failed to get there: whether it got there. Contents
    // whose write failed are tried once more first. Called at the program's end; the destructor waits as well,
    // without the second try.
    bool flush();
    ~Defaults();

    QVariantMap dictionaryRepresentation() const;
    QString filePath() const { return path; }

    // Where a damaged file, or one too large to read, was moved before the domain was started afresh, if that
    // happened.
    QString damagedCopy() const { return keptAside; }

    // A settings file larger than this is not read: no real one comes near it, and reading it would hold the
    // start and the memory for nothing.
    static constexpr qint64 readLimit = 1024 * 1024;

    // What the user should be told about the settings, as a sentence for the screen: a file that could not be
    // read and was kept aside, and writes that fail (once for a run of failures, again after one got through).
    // Called on the writer's thread, or, for what happened before it was set, at once by setReport(); never with
    // a lock of ours held. An empty report stops the telling.
    using Report = std::function<void(const QString& message)>;
    void setReport(Report report);

    static bool isStorable(const QVariant& value);

private:
    void load();
    // Hands the values as they are now to the writer. With `mutex` held.
    void save();
    void writeLoop();
    void tell(const QString& message);

    QString path;
    QString keptAside;
    QVariantMap values;
    mutable QMutex mutex;

    // The writer's side: the newest contents waiting to be written, and how far the writes have come.
    std::mutex writeLock;
    std::condition_variable wake, caughtUp;
    QVariantMap waiting;
    quint64 asked = 0, written = 0;
    bool lastWriteOk = true;
    int lastError = 0;
    std::optional<QVariantMap> unwritten; // the newest contents, when their write failed
    bool stopping = false;
    // Set when a file we could not read could not be kept aside either: it is left as it is, and nothing is
    // written over it.
    bool writesOff = false;
    Report report;
    QStringList untold; // what happened before a report was set
    std::thread writer;
};
