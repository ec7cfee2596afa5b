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

namespace {

// The pictures the decoding child has no reader for (GIF, BMP: simple formats whose readers allocate no more
// than the picture) are decoded on a worker, held to the child's memory limit before anything is allocated.
// The file is read whole only once its start says it is such a picture and one that fits.
IsolatedDecode::Result decodeHere(const QString& path, qint64 pixelLimit) {
    IsolatedDecode::Result result;
    QByteArray head;
    qint64 fileSize = 0;
    if (!ImageCodec::readHead(path, ImageCodec::headLength, &head, &fileSize)) {
        result.failure = QStringLiteral("it could not be read");
        return result;
    }
    if (!ImageCodec::recognizes(head)) {
        result.failure = QStringLiteral("it is not a picture or PDF");
        return result;
    }
    const auto tooLarge = [&](QSize size) {
        const qint64 pixels = qint64(size.width()) * size.height();
        return size.isValid() &&
               (pixels * 4 > IsolatedDecode::memoryLimit - fileSize || (pixelLimit > 0 && pixels > pixelLimit));
    };
    // The bytes and the pixels are held together, and these readers' pixels take no less room than their file.
    QByteArray bytes;
    if (tooLarge(ImageCodec::pictureSize(head)) || fileSize > IsolatedDecode::memoryLimit / 2) {
        result.failure = QStringLiteral("the picture is too large");
        result.tooLarge = true;
        return result;
    }
    if (!ImageCodec::readFile(path, &bytes)) {
        result.failure = QStringLiteral("it could not be read");
        return result;
    }
    if (tooLarge(ImageCodec::pictureSize(bytes))) {
        result.failure = QStringLiteral("the picture is too large");
        result.tooLarge = true;
        return result;
    }
    result.image = ImageCodec::decode(bytes);
    if (result.image.isNull())
        result.failure = QStringLiteral("it is not a picture or PDF");
    else if (tooLarge(result.image.size())) {
        // Its header told less than its frames hold.
        result.image = QImage();
        result.failure = QStringLiteral("the picture is too large");
        result.tooLarge = true;
    }
    return result;
}

} // namespace

void start(const QUrl& url, QObject* context, std::function<void(const IsolatedDecode::Result&)> done,
           qint64 pixelLimit) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    QPointer<QObject> alive(context);
    // Even the first bytes that tell the file's kind are read on a worker: a file on a slow or stalled disk
    // holds that worker, never the thread that answers the user.
    Dispatch::global([alive = std::move(alive), done = std::move(done), path, pixelLimit]() mutable {
        const auto format = path.isEmpty() ? std::nullopt : formatOf(path);
        if (!format && ChildProcesses::notAFile(path).isEmpty()) {
            IsolatedDecode::Result result = decodeHere(path, pixelLimit);
            Dispatch::main([alive = std::move(alive), done = std::move(done), result = std::move(result)] {
                if (alive)
                    done(result);
            });
            return;
        }
        // Anything that is no regular file is refused by the decoder in its own words, before any child runs.
        IsolatedDecode::Job job;
        job.source = path;
        job.format = format.value_or(ImageFormat::png);
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
