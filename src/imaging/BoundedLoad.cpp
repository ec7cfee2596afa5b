#include "imaging/BoundedLoad.h"

#include "imaging/ChildProcesses.h"
#include "imaging/ImageCodec.h"
#include "platform/Dispatch.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BoundedLoad {

namespace {

QByteArray headOf(const QString& path, qsizetype length = 16) {
    QByteArray head;
    ImageCodec::readHead(path, length, &head);
    return head;
}

std::optional<ImageFormat> sniffed(const QByteArray& head) {
    if (isPng(head))
        return ImageFormat::png;
    if (head.startsWith("\xff\xd8\xff"))
        return ImageFormat::jpeg;
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return ImageFormat::webp;
    if (head.startsWith("II*\0") || head.startsWith(QByteArray("MM\0*", 4)))
        return ImageFormat::tiff;
    if (head.startsWith("%PDF"))
        return ImageFormat::pdf;
    if (head.mid(4, 4) == "ftyp") {
        const QByteArray brand = head.mid(8, 4);
        for (const char* heif : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
            if (brand == heif)
                return ImageFormat::heic;
    }
    return std::nullopt;
}

} // namespace

bool isPng(const QByteArray& bytes) {
    return bytes.startsWith("\x89PNG\r\n\x1a\n");
}

std::optional<ImageFormat> formatOf(const QString& path) {
    if (const auto format = sniffed(headOf(path)))
        return format;
    return ImageFormat::readAs(QUrl::fromLocalFile(path));
}

void start(const QUrl& url, QObject* context, std::function<void(const IsolatedDecode::Result&)> done,
           qint64 pixelLimit) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    QPointer<QObject> alive(context);
    // Even the first bytes that tell the file's kind are read on a worker: a file on a slow or stalled disk
    // holds that worker, never the thread that answers the user.
    Dispatch::global([alive = std::move(alive), done = std::move(done), path, pixelLimit]() mutable {
        const auto format = path.isEmpty() ? std::nullopt : formatOf(path);
        // Anything that is no regular file is refused by the decoder in its own words, before any child runs. A
        // picture of none of our formats (a GIF, a BMP) is decoded by the child as well, by its first bytes.
        IsolatedDecode::Job job;
        job.source = path;
        job.format = format.value_or(ImageFormat::png);
        job.byContent = !format;
        job.pdf = format == ImageFormat::pdf;
        job.pixelLimit = pixelLimit;
        Dispatch::main([alive = std::move(alive), done = std::move(done), job]() mutable {
            if (alive)
                IsolatedDecode::start(job, alive.data(), std::move(done));
        });
    });
}

QString refusal(const QUrl& url, const IsolatedDecode::Result& result) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    return QStringLiteral("Can't open ") + QFileInfo(path).fileName() + QStringLiteral(": ") + result.failure;
}

void encodePng(QImage image, QObject* context, std::function<void(const QByteArray&)> done) {
    QPointer<QObject> alive(context);
    Dispatch::global([alive = std::move(alive), done = std::move(done), image = std::move(image)]() mutable {
        QByteArray bytes = ImageCodec::encode(image, ImageFormat::png, 0.9);
        // The pixels go before the bytes are handed over: a large picture is held once at a time.
        image = QImage();
        Dispatch::main([alive = std::move(alive), done = std::move(done), bytes = std::move(bytes)] {
            if (alive)
                done(bytes);
        });
    });
}

bool isWholePng(const QString& path, qint64* size) {
    // The start and the end chunk, read from where they must stand; a regular file only, opened without blocking.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    QByteArray head(8, '\0'), tail(12, '\0');
    const bool whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 8 + 12 &&
                       ::pread(fd, head.data(), 8, 0) == 8 && ::pread(fd, tail.data(), 12, st.st_size - 12) == 12 &&
                       isPng(head) && tail == QByteArray::fromHex("0000000049454e44ae426082");
    ::close(fd);
    if (size)
        *size = st.st_size;
    return whole;
}

void offeredPng(const QString& path, QImage image, QObject* context, std::function<void(const QByteArray&)> done) {
    QPointer<QObject> alive(context);
    Dispatch::global([alive = std::move(alive), done = std::move(done), image = std::move(image), path]() mutable {
        // The file was decoded within the limits just now: its own bytes are read only when they are a whole PNG
        // of about the size such a picture takes (eight bytes a pixel at most, and room for its profile and
        // notes), never a small picture padded out to a large file.
        const qint64 most = qint64(image.width()) * image.height() * 8 + image.height() + (qint64(1) << 20);
        qint64 size = 0;
        QByteArray bytes;
        if (!(isWholePng(path, &size) && size <= most && ImageCodec::readFile(path, &bytes) && isPng(bytes)))
            bytes = ImageCodec::encode(image, ImageFormat::png, 0.9);
        image = QImage();
        Dispatch::main([alive = std::move(alive), done = std::move(done), bytes = std::move(bytes)] {
            if (alive)
                done(bytes);
        });
    });
}

} // namespace BoundedLoad
