#include "imaging/IsolatedDecode.h"
#include "imaging/IsolatedDecodeWire.h"

#include "imaging/ChildProcesses.h"
#include "imaging/ImageCodec.h"
#include "platform/Dispatch.h"
#include "platform/UnnamedFile.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

// The parent's half. The child (IsolatedDecodeChild.cpp) reads the source once, writes those very bytes to the
// copy when asked, decodes them and writes the pixels to the output: a small header, then the rows as QImage
// keeps them. Output and copy are files
// without a name that the parent opened and hands over as descriptors 3 and 4. Its exit code says what went
// wrong; a child that runs out of time or memory is killed or dies, and says so that way.

namespace IsolatedDecode {

namespace {

using namespace Wire;

QString& injectedProgram() {
    static QString path;
    return path;
}

QString program() {
    return injectedProgram().isEmpty()
               ? ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode"))
               : injectedProgram();
}


QString modeOf(const Job& job) {
    if (job.pdf)
        return QStringLiteral("pdf");
    if (job.thumbnail > 0)
        return QStringLiteral("thumbnail");
    return job.byContent ? QStringLiteral("content") : QStringLiteral("picture");
}

// A PDF page, and when its text is asked for, the ranges of it whose boxes are: "3", "3;", "3;10+5,40+12".
QString pageArgument(const Job& job) {
    QString out = QString::number(job.page);
    if (job.text || !job.textRanges.empty())
        out += u';';
    for (size_t i = 0; i < job.textRanges.size(); ++i)
        out += (i == 0 ? QString() : QStringLiteral(",")) + QString::number(job.textRanges[i].first) + u'+' +
               QString::number(job.textRanges[i].second);
    return out;
}

QStringList arguments(const Job& job) {
    return {modeOf(job),
            job.source,
            job.pdf         ? pageArgument(job)
            : job.thumbnail ? QString::number(job.thumbnail)
            : job.byContent ? QStringLiteral("-")
                            : job.format.rawValue(),
            job.copyInto.isEmpty() ? QStringLiteral("-") : QString::number(copyDescriptor),
            QString::number(outDescriptor),
            QString::number(std::max<qint64>(job.pixelLimit, 0))};
}

// The files the child writes, made before it starts; `failure` says why they could not be.
struct Files {
    std::shared_ptr<UnnamedFile> out, copy;
    QString failure;
};

Files makeFiles(const Job& job) {
    Files files;
    files.out = std::make_shared<UnnamedFile>(QDir::tempPath());
    if (!files.out->isOpen()) {
        files.failure = QStringLiteral("there is no room for a temporary file");
        return files;
    }
    if (!job.copyInto.isEmpty()) {
        files.copy = std::make_shared<UnnamedFile>(job.copyInto);
        if (!files.copy->isOpen())
            files.failure = QStringLiteral("it could not be copied into the screenshot folder");
    }
    return files;
}

// Our own descriptors are closed on exec; the child gets its two at the numbers it expects. Runs in the child
// between fork and exec: only calls that are safe there.
void handOver(QProcess& child, const Files& files) {
    const int out = files.out->fd(), copy = files.copy ? files.copy->fd() : -1;
    child.setChildProcessModifier([out, copy] {
        // Nothing it makes is of use once we are gone, and a hostile file would keep it busy up to its limit.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Moved out of the way first, so that neither lands on the other's number.
        const int high = ::fcntl(out, F_DUPFD_CLOEXEC, 10);
        const int highCopy = copy >= 0 ? ::fcntl(copy, F_DUPFD_CLOEXEC, 10) : -1;
        ::dup2(high, outDescriptor);
        if (highCopy >= 0)
            ::dup2(highCopy, copyDescriptor);
    });
}

QString failureText(const Job& job, int code) {
    switch (code) {
    case Unreadable:
        if ((job.thumbnail > 0 || job.byContent) && !job.pdf)
            return QStringLiteral("it is not a picture or PDF");
        return job.pdf ? QStringLiteral("it is not a readable PDF")
                       : QStringLiteral("it is not a readable ") + job.format.title() + QStringLiteral(" picture");
    case TooLarge:
        return job.pdf ? QStringLiteral("the page is too large to show") : QStringLiteral("the picture is too large");
    case NoPage:
        return QStringLiteral("there is no such page");
    case PasswordNeeded:
        return QStringLiteral("it is protected by a password");
    case NotRegular:
        return QStringLiteral("it is not a regular file");
    case Empty:
        return QStringLiteral("the file is empty");
    case CopyFailed:
        return QStringLiteral("it could not be copied into the screenshot folder");
    case NoPermission:
        return ChildProcesses::notOpened(EACCES, job.source);
    case LinkLoop:
        return ChildProcesses::notOpened(ELOOP, job.source);
    case Gone:
        return ChildProcesses::notOpened(ENOENT, job.source);
    default:
        return QStringLiteral("it could not be read");
    }
}

// The output from its start: the child wrote it through a descriptor that shares our file position.
bool openOutput(QFile& out, const UnnamedFile& file) {
    return ::lseek(file.fd(), 0, SEEK_SET) == 0 &&
           out.open(file.fd(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
}

Result readOutput(const Job& job, const UnnamedFile& file) {
    Result result;
    Header header;
    QFile out;
    if (!openOutput(out, file) || out.read(reinterpret_cast<char*>(&header), sizeof header) != sizeof header ||
        header.magic != headerMagic || header.width == 0 || header.height == 0 || header.width > 1u << 20 ||
        header.height > 1u << 20) {
        result.failure = QStringLiteral("it could not be read");
        return result;
    }
    const QSize size(int(header.width), int(header.height));
    const auto format = QImage::Format(header.format);
    if (!ImageCodec::fitsBudget(size) ||
        (job.pixelLimit > 0 && qint64(size.width()) * size.height() > job.pixelLimit) ||
        (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied)) {
        result.failure = failureText(job, TooLarge);
        result.tooLarge = true;
        return result;
    }
    QImage image(size, format);
    if (image.isNull() || quint64(image.bytesPerLine()) != header.bytesPerLine) {
        result.failure = failureText(job, TooLarge);
        result.tooLarge = true;
        return result;
    }
    const qint64 bytes = qint64(image.sizeInBytes());
    if (out.read(reinterpret_cast<char*>(image.bits()), bytes) != bytes) {
        result.failure = QStringLiteral("it could not be read");
        return result;
    }
    if (header.textBytes > 0 && header.textBytes <= quint64(64) << 20) {
        QDataStream text(out.read(qint64(header.textBytes)));
        QList<QRectF> boxes;
        text >> result.pageText >> boxes;
        if (text.status() != QDataStream::Ok)
            result.pageText.clear(), boxes.clear();
        result.textBoxes.assign(boxes.begin(), boxes.end());
    }
    result.image = image;
    result.pageCount = int(header.pageCount);
    result.pagePoints = QSizeF(header.pointsWidth, header.pointsHeight);
    result.pageTurn = header.pageTurn % 90 == 0 ? int(header.pageTurn % 360) : 0;
    return result;
}

// Why the picture's codec is missing, as the child wrote it.
QString noCodecText(const Job& job, const UnnamedFile& file) {
    QFile out;
    const QString why = openOutput(out, file) ? QString::fromUtf8(out.read(2000)).trimmed() : QString();
    return why.isEmpty()
               ? QStringLiteral("this computer can't read ") + job.format.title() + QStringLiteral(" pictures")
               : why;
}

// How the child ended, taken from its process object on the thread that owns it.
struct Ended {
    bool timedOut = false;
    bool failedToStart = false;
    bool crashed = false;
    int exitCode = 0;
};

Ended endOf(const QProcess& child, bool timedOut) {
    return Ended{timedOut, child.error() == QProcess::FailedToStart, child.exitStatus() == QProcess::CrashExit,
                 child.exitCode()};
}

// Reads what the child wrote: a large picture's pixels take a while to copy, so this may run on a worker.
Result finished(const Job& job, const Ended& ended, const Files& files) {
    const UnnamedFile& out = *files.out;
    Result result;
    if (ended.timedOut) {
        result.failure = QStringLiteral("it takes too long to read");
        result.tooLarge = true;
    } else if (ended.failedToStart) {
        result.failure = QStringLiteral("the decoder could not be started");
    } else if (ended.crashed) {
        // Out of memory shows as a crash or an abort; out of processor time as SIGXCPU, which is the same to us.
        result.failure = QStringLiteral("it needs more memory or time than allowed");
        result.tooLarge = true;
    } else if (ended.exitCode == NoCodec && !job.pdf) {
        result.failure = noCodecText(job, out);
    } else if (ended.exitCode != Ok) {
        result.failure = failureText(job, ended.exitCode);
        result.tooLarge = ended.exitCode == TooLarge;
    } else {
        result = readOutput(job, out);
        if (result.ok())
            result.copy = files.copy;
        // The copy is named on the main thread: its bytes reach the disk here, so that naming it waits for nothing.
        if (result.copy)
            result.copy->sync();
    }
    return result;
}


} // namespace

Result run(const Job& job) {
    Result result;
    if (const QString why = ChildProcesses::notAFile(job.source); !why.isEmpty()) {
        result.failure = why;
        return result;
    }
    const Files files = makeFiles(job);
    if (!files.failure.isEmpty()) {
        result.failure = files.failure;
        return result;
    }
    QProcess child;
    // The codecs' own complaints about a broken file say nothing the exit code does not.
    child.setStandardErrorFile(QProcess::nullDevice());
    handOver(child, files);
    child.start(program(), arguments(job));
    QElapsedTimer clock;
    clock.start();
    const bool timedOut = ChildProcesses::waitWithin(child, job.timeLimitMs, clock);
    return finished(job, endOf(child, timedOut), files);
}

namespace {

// Starts the child over files made for it; on the thread that answers the user, which it never holds.
void launch(const Job& job, QObject* context, std::function<void(const Result&)> done, const Files& files) {
    // Killed when the context goes, and never reported then; held by the application, which lets go of one killed
    // at the very end, and not by the context, whose destructor would delete it while half taken down.
    auto* child = new QProcess(QCoreApplication::instance());
    const auto held = std::make_shared<Files>(files);
    QObject::connect(context, &QObject::destroyed, child, [child, held] {
        child->setProperty("reported", true);
        // Let go once it has ended, never waited for here: a process taking down a gigabyte of pixels, or one
        // caught on a slow disk, takes its time to end, and a newer copy or a closed window must not wait for it.
        Dispatch::global([files = std::exchange(*held, Files())] {});
        if (child->state() == QProcess::NotRunning) {
            delete child;
            return;
        }
        QObject::connect(child, &QProcess::finished, child, &QObject::deleteLater);
        child->kill();
    });
    auto* limit = new QTimer(child);
    auto timedOut = std::make_shared<bool>(false);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, child, [child, timedOut] {
        *timedOut = true;
        child->kill();
    });
    QPointer<QObject> alive(context);
    const auto finish = [job, child, held, timedOut, done, alive] {
        if (child->property("reported").toBool())
            return;
        child->setProperty("reported", true);
        const Ended ended = endOf(*child, *timedOut);
        child->deleteLater();
        // The pixels are copied out, and the child's output let go, on a worker: hundreds of megabytes of a large
        // picture would hold up the thread that answers the user.
        Dispatch::global([job, ended, files = std::exchange(*held, Files()), done, alive]() mutable {
            Result result = finished(job, ended, files);
            files = Files();
            Dispatch::main([done, alive, result = std::move(result)] {
                if (alive)
                    done(result);
            });
        });
    };
    QObject::connect(child, &QProcess::finished, child, finish);
    QObject::connect(child, &QProcess::errorOccurred, child, [child, finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish();
    });
    child->setStandardErrorFile(QProcess::nullDevice());
    handOver(*child, files);
    child->start(program(), arguments(job));
    limit->start(job.timeLimitMs);
}

} // namespace

void start(const Job& job, QObject* context, std::function<void(const Result&)> done) {
    QPointer<QObject> alive(context);
    // The look at the source and the making of the child's files are file-system work a slow or stalled disk would
    // hold up: done on a worker, and only the child's start here.
    Dispatch::global([job, alive = std::move(alive), done = std::move(done)]() mutable {
        Result refused;
        Files files;
        refused.failure = ChildProcesses::notAFile(job.source);
        if (refused.failure.isEmpty()) {
            files = makeFiles(job);
            refused.failure = files.failure;
        }
        Dispatch::main([job, alive = std::move(alive), done = std::move(done), files = std::move(files),
                        refused = std::move(refused)]() mutable {
            if (!alive)
                return;
            if (!refused.failure.isEmpty())
                done(refused);
            else
                launch(job, alive.data(), std::move(done), files);
        });
    });
}

void setProgram(const QString& path) {
    injectedProgram() = path;
}

} // namespace IsolatedDecode
