#include "imaging/IsolatedDecode.h"

#include "imaging/ChildLimits.h"
#include "imaging/ChildProcesses.h"

#include "imaging/HeifCodec.h"
#include "imaging/ImageCodec.h"
#include "platform/Dispatch.h"
#include "platform/UnnamedFile.h"
#include "platform/WholeIo.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

// The child reads the source once, writes those very bytes to the copy when asked, decodes them and writes
// the pixels to the output: a small header, then the rows as QImage keeps them. Output and copy are files
// without a name that the parent opened and hands over as descriptors 3 and 4. Its exit code says what went
// wrong; a child that runs out of time or memory is killed or dies, and says so that way.

namespace IsolatedDecode {

namespace {

// PasswordNeeded: a PDF that opens only with a password we do not have. NoCodec: a picture whose codec is missing
// (the HEIC module); the output file holds the reason instead of pixels. NoPermission, LinkLoop, Gone: the source
// could not be opened, and why.
enum Exit {
    Ok = 0,
    Unreadable = 2,
    TooLarge = 3,
    NoPage = 4,
    NotRegular = 5,
    Usage = 6,
    Empty = 7,
    CopyFailed = 8,
    PasswordNeeded = 9,
    NoCodec = 10,
    NoPermission = 11,
    LinkLoop = 12,
    Gone = 13
};

struct Header {
    quint64 magic = 0;
    quint64 width = 0;
    quint64 height = 0;
    quint64 format = 0;
    quint64 bytesPerLine = 0;
    quint64 pageCount = 0;
    double pointsWidth = 0;
    double pointsHeight = 0;
    quint64 pageTurn = 0;
    // The page's text and boxes, after the pixels.
    quint64 textBytes = 0;
};
constexpr quint64 headerMagic = 0x31444f4345444950ULL; // "PIDECOD1"

// About what the child's libraries and heap take besides a picture's bytes and pixels.
constexpr qint64 childOwnMemory = qint64(64) << 20;

// No picture file we could decode within the limit is larger than this.
constexpr qint64 largestFile = qint64(1) << 30;

QString& injectedProgram() {
    static QString path;
    return path;
}

QString program() {
    return injectedProgram().isEmpty()
               ? ChildProcesses::find(QStringLiteral("pictolarium-decode"), QStringLiteral("decode"))
               : injectedProgram();
}

// Where the child finds its output and the copy.
constexpr int outDescriptor = 3, copyDescriptor = 4;

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

// ---- the child

// The source's size, after checking that it is a regular file we would read at all; negative: the exit code.
qint64 sourceSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -NotRegular;
    if (st.st_size <= 0)
        return -Empty;
    if (st.st_size > largestFile)
        return -TooLarge;
    return st.st_size;
}

// Why the source could not be opened: the exit code for an errno value. A file we may not read is not a broken
// one, nor is a link that leads round in a circle one that is gone.
int notOpened(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return NoPermission;
    case ELOOP:
        return LinkLoop;
    case ENOENT:
    case ENOTDIR:
        return Gone;
    default:
        return Unreadable;
    }
}

// Why the source's first bytes could not be read: replaced since the caller looked at it (a pipe or a folder now
// stands under its name, or nothing), or not ours to read.
int whyUnread(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return NotRegular;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return notOpened(errno);
    ::close(fd);
    return Unreadable;
}

// What the start of the file already tells, before the rest is read: a file that is not what the reader asked
// for reads, or whose picture could never fit, is refused at once, however large the file.
int preflight(const QString& mode, const QString& path, const QString& what, qint64 pixelLimit) {
    if (mode == u"pdf")
        return Ok;
    QByteArray head;
    if (!ImageCodec::readHead(path, ImageCodec::headLength, &head))
        return whyUnread(path);
    if (head.isEmpty())
        return Empty;
    const bool thumbnail = mode == u"thumbnail";
    if (thumbnail || mode == u"content") {
        if (!ImageCodec::recognizes(head))
            return Unreadable;
    } else if (const auto format = ImageFormat::fromRawValue(what); !format) {
        return Usage;
    } else if (*format != ImageFormat::heic && !ImageCodec::startsAs(head, *format)) {
        // HEIC is told by its own module, which may be missing: the decode says so in its own words.
        return Unreadable;
    }
    const QSize claimed = ImageCodec::pictureSize(head);
    if (!claimed.isValid())
        return Ok;
    const qint64 pixels = qint64(claimed.width()) * claimed.height();
    // The readers chosen by content say nothing of why they fail, and turn their pixels into ours in a second
    // copy: such a picture must fit twice.
    const qint64 pixelBytes = pixels * (mode == u"content" ? 8 : 4);
    return (thumbnail && pixels > thumbnailPixelLimit) || (pixelLimit > 0 && pixels > pixelLimit) ||
                   pixelBytes > memoryLimit - childOwnMemory
               ? TooLarge
               : Ok;
}

// The source's bytes, mapped rather than read: a decoder touches only the pages it reads, so a small picture at the
// start of a large file costs its own bytes, not the file's. When a copy is asked for, the file is copied in
// pieces and the copy is what is mapped: the bytes decoded are exactly the bytes kept, whatever happens to the
// source meanwhile. A file cut short under the mapping ends the child by SIGBUS, which says "unreadable".
class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { release(); }

    int open(const QString& path, int copy) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return notOpened(errno);
        const qint64 size = sourceSize(fd);
        if (size < 0) {
            ::close(fd);
            return int(-size);
        }
        const int copied = copy >= 0 ? copyInto(fd, copy, size) : Ok;
        const int mapped = copied == Ok ? map(copy >= 0 ? copy : fd, size) : copied;
        ::close(fd);
        return mapped;
    }

    // The bytes, valid while this lives; nothing is copied out of the mapping unless a decoder asks for all of it.
    const QByteArray& bytes() const { return view; }

    void release() {
        view = QByteArray();
        if (at)
            ::munmap(at, length);
        at = nullptr;
    }

private:
    static int copyInto(int fd, int copy, qint64 size) {
        QByteArray piece(qsizetype(1) << 20, Qt::Uninitialized);
        qint64 done = 0;
        while (done < size) {
            const auto n =
                qint64(WholeIo::readUpTo(fd, piece.data(), size_t(std::min<qint64>(piece.size(), size - done))));
            if (n <= 0)
                return Unreadable; // cut short while we read: damaged as far as we are concerned
            if (!WholeIo::writeAll(copy, piece.constData(), size_t(n)))
                return CopyFailed;
            done += n;
        }
        return Ok;
    }

    int map(int fd, qint64 size) {
        void* mapped = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped == MAP_FAILED)
            return Unreadable;
        at = mapped;
        length = size_t(size);
        view = QByteArray::fromRawData(static_cast<const char*>(mapped), qsizetype(size));
        return Ok;
    }

    void* at = nullptr;
    size_t length = 0;
    QByteArray view;
};

// Only the descriptors the parent hands over, never a path: a name given on the command line could be anything.
int descriptor(const QString& argument) {
    bool isNumber = false;
    const int fd = argument.toInt(&isNumber);
    return isNumber && (fd == outDescriptor || fd == copyDescriptor) ? fd : -1;
}

bool writeFile(int fd, const char* data, qint64 size, const Header* header = nullptr) {
    if (fd < 0)
        return false;
    bool ok = !header || WholeIo::writeAll(fd, header, sizeof *header);
    ok = ok && WholeIo::writeAll(fd, data, size_t(std::max<qint64>(size, 0)));
    return ok;
}

// Where a box of the page's text lies on the page as shown, turned by `turn`. `upright`: the box was measured on
// the page with its turn taken off, from its top left. Else it comes in the page's own space as though it were
// not turned, but measured from the foot of the page as turned.
QRectF shownBox(const QRectF& box, QSizeF measured, int turn, bool upright) {
    const bool across = turn == 90 || turn == 270;
    const QSizeF page = upright || !across ? measured : measured.transposed();
    const double W = page.width(), H = page.height();
    const double X = box.x(), Y = box.y() + (upright ? 0 : H - measured.height()), w = box.width(), h = box.height();
    switch (turn) {
    case 90:
        return QRectF(H - Y - h, X, h, w);
    case 180:
        return QRectF(W - X - w, H - Y - h, w, h);
    case 270:
        return QRectF(Y, W - X - w, h, w);
    default:
        return QRectF(X, Y, w, h);
    }
}

// The page's own text, and the boxes of the ranges asked for in the picture's pixels, for the output. `upright`:
// the document's page has its turn taken off (the renderer reads the text of a page turned upside down backwards).
// `origin`: the lower left corner of what the page shows; the renderer measures its boxes from the page space's
// own, which lies elsewhere on a page cut to a part of itself.
QByteArray pageText(QPdfDocument& doc, int page, int turn, bool upright, double scale,
                    const std::vector<std::pair<int, int>>& ranges, QPointF origin) {
    const QString text = doc.getAllText(page).text();
    QList<QRectF> boxes;
    const QSizeF measured = doc.pagePointSize(page);
    for (const auto& [start, length] : ranges) {
        if (start < 0 || length <= 0 || start >= text.size())
            continue;
        // The renderer gives a box a letter, or a run of them: one box a line.
        QList<QRectF> lines;
        for (const QPolygonF& part : doc.getSelectionAtIndex(page, start, length).bounds()) {
            const QRectF box = part.boundingRect();
            const auto line = std::find_if(lines.begin(), lines.end(), [&box](const QRectF& other) {
                const double common = std::min(box.bottom(), other.bottom()) - std::max(box.top(), other.top());
                return common > 0.5 * std::min(box.height(), other.height());
            });
            if (line == lines.end())
                lines.append(box);
            else
                *line = line->united(box);
        }
        for (const QRectF& line : lines) {
            const QRectF box = shownBox(line.translated(-origin.x(), origin.y()), measured, turn, upright);
            boxes.append(QRectF(box.x() * scale, box.y() * scale, box.width() * scale, box.height() * scale));
        }
    }
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream << text << boxes;
    return out;
}

int renderPage(const QString& path, QByteArray drawn, int page, QImage* image, Header* header,
               const std::vector<std::pair<int, int>>& ranges = {}, QByteArray* text = nullptr, QByteArray upright = {},
               QPointF origin = {}) {
    QPdfDocument doc;
    // A document encrypted with an empty password for opening, as many are to restrict printing or copying,
    // opens as any viewer opens it, without asking. A copy in memory is all there when it starts loading.
    QBuffer buffer(&drawn);
    if (!drawn.isEmpty() && buffer.open(QIODevice::ReadOnly))
        doc.load(&buffer);
    const QPdfDocument::Error loaded = drawn.isEmpty() ? doc.load(path) : doc.error();
    if (loaded == QPdfDocument::Error::IncorrectPassword)
        return PasswordNeeded;
    if (loaded != QPdfDocument::Error::None || doc.pageCount() < 1)
        return Unreadable;
    if (page < 0 || page >= doc.pageCount())
        return NoPage;
    const QSizeF points = doc.pagePointSize(page);
    // Twice the page's size in points, but never more than 3200 pixels on the longer side.
    const double longest = std::max(points.width(), points.height());
    const double scale = longest <= 1 ? 2.0 : std::min(2.0, 3200.0 / longest);
    const QSize pixels(std::max(1, qRound(points.width() * scale)), std::max(1, qRound(points.height() * scale)));
    if (!ImageCodec::fitsBudget(pixels))
        return TooLarge;
    // With its notes, stamps and other annotations, as viewers show it.
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    QImage bitmap = doc.render(page, pixels, options);
    if (bitmap.isNull())
        return Unreadable;
    // Pages without a background of their own are white on paper, not transparent.
    QImage flat(bitmap.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, bitmap);
    *image = flat;
    if (text) {
        QPdfDocument straight;
        QBuffer source(&upright);
        bool read = !upright.isEmpty() && source.open(QIODevice::ReadOnly);
        if (read)
            straight.load(&source);
        read = read && straight.error() == QPdfDocument::Error::None && page < straight.pageCount();
        *text = pageText(read ? straight : doc, page, int(header->pageTurn), read, scale, ranges, origin);
    }
    header->pageCount = quint64(doc.pageCount());
    header->pointsWidth = points.width();
    header->pointsHeight = points.height();
    return Ok;
}

// A picture's reader said no: the exit code, and when its codec is missing the reason, which names the module, in
// the output file.
int refused(ImageCodec::Refusal refusal, int out) {
    switch (refusal) {
    case ImageCodec::Refusal::tooLarge:
        return TooLarge;
    case ImageCodec::Refusal::noCodec: {
        const QByteArray why = HeifCodec::unavailable().toUtf8();
        return writeFile(out, why.constData(), why.size()) ? NoCodec : Unreadable;
    }
    default:
        return Unreadable;
    }
}

int childRun(const QStringList& args, const FieldsDrawn& fieldsDrawn, const PageTurn& pageTurn,
             const PageUpright& pageUpright, const PageOrigin& pageOrigin) {
    const QString mode = args.at(0), source = args.at(1), what = args.at(2);
    const bool copying = args.at(3) != u"-";
    const int copy = copying ? descriptor(args.at(3)) : -1, out = descriptor(args.at(4));
    if (out < 0 || (copying && copy < 0))
        return Usage;
    bool isNumber = false;
    const qint64 pixelLimit = args.at(5).toLongLong(&isNumber);
    if (!isNumber)
        return Usage;
    if (const int told = preflight(mode, source, what, pixelLimit); told != Ok)
        return told;
    Source read;
    if (const int opened = read.open(source, copy); opened != Ok)
        return opened;
    const QByteArray& bytes = read.bytes();
    QImage image;
    Header header;
    QByteArray text;
    if (mode == u"pdf") {
        bool isNumber = false;
        const int page = what.section(u';', 0, 0).toInt(&isNumber);
        if (!isNumber)
            return Usage;
        std::vector<std::pair<int, int>> ranges;
        for (const QString& range : what.section(u';', 1).split(u',', Qt::SkipEmptyParts)) {
            bool startOk = false, lengthOk = false;
            const int start = range.section(u'+', 0, 0).toInt(&startOk),
                      length = range.section(u'+', 1).toInt(&lengthOk);
            if (!startOk || !lengthOk || ranges.size() >= 10'000)
                return Usage;
            ranges.emplace_back(start, length);
        }
        // The document reads its file itself, unless its fields had to be drawn into a copy.
        QByteArray drawn = fieldsDrawn ? fieldsDrawn(bytes, page) : QByteArray();
        header.pageTurn = quint64(pageTurn ? pageTurn(bytes, page) : 0);
        const bool withText = what.contains(u';');
        QByteArray upright = withText && pageUpright ? pageUpright(bytes, page) : QByteArray();
        const QPointF origin = withText && pageOrigin ? pageOrigin(bytes, page) : QPointF();
        read.release();
        // The copy is what is shown: the bytes that were read, whatever happened to the source since.
        const QString document = copying ? QStringLiteral("/proc/self/fd/") + QString::number(copy) : source;
        if (const int rendered = renderPage(document, std::move(drawn), page, &image, &header, ranges,
                                            withText ? &text : nullptr, std::move(upright), origin);
            rendered != Ok)
            return rendered;
        header.textBytes = quint64(text.size());
    } else if (mode == u"thumbnail") {
        bool isNumber = false;
        const int longest = what.toInt(&isNumber);
        if (!isNumber || longest <= 0)
            return Usage;
        const QSize claimed = ImageCodec::pictureSize(bytes);
        if (claimed.isValid() && qint64(claimed.width()) * claimed.height() > thumbnailPixelLimit)
            return TooLarge;
        const qint64 left = memoryLimit - bytes.size() - childOwnMemory;
        QImageReader::setAllocationLimit(int(std::max<qint64>(1, left >> 20)));
        image = ImageCodec::decodeThumbnail(bytes, longest);
        read.release();
        if (image.isNull())
            return Unreadable;
    } else {
        const auto format = mode == u"content" ? std::nullopt : ImageFormat::fromRawValue(what);
        if (mode != u"content" && (!format || *format == ImageFormat::pdf))
            return Usage;
        // The file's bytes and the child itself stay in memory while the pixels are made: the pixels may take
        // what is left of the limit (a megabyte at least: 0 would mean no limit), so that a picture too large
        // for it is refused as such before it is read.
        const qint64 left = memoryLimit - bytes.size() - childOwnMemory;
        QImageReader::setAllocationLimit(int(std::max<qint64>(1, left >> 20)));
        ImageCodec::Refusal refusal = ImageCodec::Refusal::unreadable;
        image = format ? ImageCodec::decodeAs(bytes, *format, &refusal) : ImageCodec::decode(bytes);
        read.release();
        if (image.isNull())
            return refused(refusal, out);
        // Its header told less than its frames hold: nothing of it is written out.
        if (pixelLimit > 0 && qint64(image.width()) * image.height() > pixelLimit)
            return TooLarge;
    }
    header.magic = headerMagic;
    header.width = quint64(image.width());
    header.height = quint64(image.height());
    header.format = quint64(image.format());
    header.bytesPerLine = quint64(image.bytesPerLine());
    if (!writeFile(out, reinterpret_cast<const char*>(image.constBits()), qint64(image.sizeInBytes()), &header) ||
        (!text.isEmpty() && !writeFile(out, text.constData(), text.size())))
        return Unreadable;
    return Ok;
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

int childMain(int argc, char** argv, FieldsDrawn fieldsDrawn, PageTurn pageTurn, PageUpright pageUpright,
              PageOrigin pageOrigin) {
    // The limits come first, before anything is read.
    ChildLimits::apply(memoryLimit, timeLimitMs / 1000 + 1);
    if (argc != 7)
        return Usage;
    // The source is mapped: a file cut short while it is decoded is a broken file, not a crash.
    ::signal(SIGBUS, [](int) { ::_exit(Unreadable); });
    QCoreApplication app(argc, argv);
    QImageReader::setAllocationLimit(int(memoryLimit >> 20));
    try {
        return childRun(QCoreApplication::arguments().mid(1), fieldsDrawn, pageTurn, pageUpright, pageOrigin);
    } catch (const std::bad_alloc&) {
        return TooLarge;
    }
}

} // namespace IsolatedDecode
