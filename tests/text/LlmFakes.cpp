#include "text/LlmFakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace LlmFakes {

namespace {
std::mutex logLock;
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

LocalLLM::Config testConfig(const QString& folder) {
    LocalLLM::Config c;
    // Nothing listens here: a test that forgets to set its addresses fails instead of going out.
    c.modelUrl = QUrl(QStringLiteral("http://127.0.0.1:1/model"));
    c.engineUrl = QUrl(QStringLiteral("http://127.0.0.1:1/engine"));
    c.folder = folder;
    c.port = freePort();
    c.probePauseMs = 50;
    c.probeCount = 200;
    c.downloadStallMs = 10000;
    c.chatStallMs = 10000;
    return c;
}

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString copyProgram(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    QFile::copy(from, to);
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return to;
}

QString installServer(const QString& modelFolder) {
    const QString tag = QString::fromLatin1(LocalLLM::releaseTag);
    return copyProgram(QStringLiteral(FAKE_LLAMA_SERVER), modelFolder + QStringLiteral("/engine-") + tag +
                                                              QStringLiteral("/llama-") + tag +
                                                              QStringLiteral("/llama-server"));
}

QByteArray tarGz(const std::vector<TarEntry>& entries) {
    QByteArray tar;
    for (const TarEntry& e : entries) {
        QByteArray header(512, '\0');
        const auto put = [&](int at, int width, const QByteArray& value) {
            header.replace(at, std::min<int>(width, value.size()), value.left(width));
        };
        const auto octal = [&](int at, int width, qint64 value) {
            put(at, width, QByteArray::number(value, 8).rightJustified(width - 1, '0'));
        };
        put(0, 100, e.name);
        octal(100, 8, e.mode);
        octal(108, 8, 0);
        octal(116, 8, 0);
        octal(124, 12, e.type == '0' ? e.data.size() : 0);
        octal(136, 12, 1700000000);
        put(148, 8, QByteArray(8, ' '));
        header[156] = e.type;
        put(157, 100, e.link);
        put(257, 6, QByteArray("ustar", 6));
        put(263, 2, "00");
        int sum = 0;
        for (char ch : header)
            sum += static_cast<unsigned char>(ch);
        put(148, 7, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
        tar += header;
        if (e.type == '0') {
            tar += e.data;
            tar += QByteArray((512 - e.data.size() % 512) % 512, '\0');
        }
    }
    tar += QByteArray(1024, '\0');

    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(tar.size()))) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(tar.data());
    z.avail_in = uInt(tar.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

Host::Host(const QString& root) : logPath(root + QStringLiteral("/../requests.log")) {
    process.start(QStringLiteral(FAKE_DOWNLOAD_HOST),
                  {QStringLiteral("--root"), root, QStringLiteral("--log"), logPath});
    if (process.waitForReadyRead(10000))
        port = quint16(process.readLine().trimmed().toUInt());
}

Host::~Host() {
    process.terminate();
    process.waitForFinished(5000);
}

QUrl Host::url(const char* mode, const QString& name) const {
    return QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port) + QLatin1Char('/') + QLatin1String(mode) +
                QLatin1Char('/') + name);
}

QStringList Host::requests() const {
    return QString::fromUtf8(readFile(logPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

StatusLog::StatusLog() : list(std::make_shared<QStringList>()) {
    LocalLLM::setProgressHandler([l = list](const QString& text) {
        std::lock_guard guard(logLock);
        l->append(text);
    });
}

StatusLog::~StatusLog() {
    LocalLLM::setProgressHandler({});
}

QStringList StatusLog::texts() const {
    std::lock_guard guard(logLock);
    return *list;
}

QStringList StatusLog::steps() const {
    QStringList result;
    for (const QString& text : texts())
        if (text.endsWith(QChar(0x2026)))
            result.append(text);
    return result;
}

} // namespace LlmFakes
