#include "imaging/IsolatedDecode.h"
#include "imaging/IsolatedDecodeWire.h"

#include "imaging/ChildLimits.h"
#include "imaging/HeifCodec.h"
#include "imaging/ImageCodec.h"
#include "platform/WholeIo.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

// The decoding child: it reads the source once, writes those very bytes to the copy when asked, decodes them
// and writes the pixels to the output as the parent expects them.

namespace IsolatedDecode {

namespace {

using namespace Wire;

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
