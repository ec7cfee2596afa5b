#include "imaging/PdfRewrite.h"

#include "imaging/ChildProcesses.h"

#include "imaging/IsolatedDecode.h"
#include "imaging/PdfRewriteList.h"
#include "platform/UnnamedFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace PdfRewrite {

using namespace PdfRewriteList;

static_assert(memoryLimit == IsolatedDecode::memoryLimit, "the writer child has the decoder's memory limit");

namespace {

QByteArray deflated(const std::string& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

QString& injectedProgram() {
    static QString path;
    return path;
}

QString program() {
    return injectedProgram().isEmpty()
               ? ChildProcesses::find(QStringLiteral("pictolarium-pdfwrite"), QStringLiteral("pdfwrite"))
               : injectedProgram();
}

QString failureText(int code) {
    switch (code) {
    case Unreadable:
        return QStringLiteral("it is not a readable PDF");
    case TooLarge:
        return QStringLiteral("it is too large to edit");
    case NoPage:
        return QStringLiteral("there is no such page");
    case NotRegular:
        return QStringLiteral("it is not a regular file");
    case Empty:
        return QStringLiteral("the file is empty");
    case WriteFailed:
        return QStringLiteral("the new version could not be written");
    case PasswordNeeded:
        return QStringLiteral("it is protected by a password");
    case NoPermission:
        return ChildProcesses::notOpened(EACCES, {});
    case Gone:
        return ChildProcesses::notOpened(ENOENT, {});
    default:
        return QStringLiteral("it could not be edited");
    }
}

// The PNG data's rows inflate to exactly `height` rows of `rowBytes` bytes, each led by a filter the format
// knows, and the stream ends there with its checksum right.
bool rowsCheckOut(const QByteArray& data, qint64 rowBytes, qint64 height) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    const qint64 total = rowBytes * height;
    unsigned char out[1 << 16];
    qint64 done = 0, nextRow = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        status = inflate(&stream, Z_NO_FLUSH);
        const qint64 got = qint64(sizeof out - stream.avail_out);
        if ((status != Z_OK && status != Z_STREAM_END) || done + got > total)
            break;
        for (; nextRow < done + got; nextRow += rowBytes)
            if (out[nextRow - done] > 4)
                status = Z_DATA_ERROR;
        done += got;
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && done == total && stream.avail_in == 0;
}

} // namespace

Page page(int index, const QImage& picture, double pixelsPerPoint) {
    const bool alpha = picture.hasAlphaChannel();
    // Qt's own conversions are the quick way to tightly packed samples; rows are then copied without their
    // padding, or split into colour and alpha.
    const QImage samples = picture.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int w = samples.width(), h = samples.height();
    std::string rgb(size_t(w) * size_t(h) * 3, '\0'), mask;
    if (alpha)
        mask.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const uchar* line = samples.constScanLine(y);
        char* colour = rgb.data() + size_t(y) * size_t(w) * 3;
        if (!alpha) {
            std::memcpy(colour, line, size_t(w) * 3);
            continue;
        }
        char* opacity = mask.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            colour[3 * x] = char(line[4 * x]);
            colour[3 * x + 1] = char(line[4 * x + 1]);
            colour[3 * x + 2] = char(line[4 * x + 2]);
            opacity[x] = char(line[4 * x + 3]);
        }
    }
    const double scale = pixelsPerPoint > 0 ? pixelsPerPoint : 2.0;
    Page result;
    result.index = index;
    result.width = w;
    result.height = h;
    result.pointsWidth = w / scale;
    result.pointsHeight = h / scale;
    result.rgb = deflated(rgb);
    if (alpha)
        result.mask = deflated(mask);
    return result;
}

std::optional<Page> pngPage(int index, const QString& path, double pixelsPerPoint) {
    QFile file(path);
    // Far larger than any page we render; a file this size goes the long way.
    constexpr qint64 largest = qint64(256) << 20;
    if (!file.open(QIODevice::ReadOnly) || file.size() > largest)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 8 || std::memcmp(bytes.constData(), signature, 8) != 0)
        return std::nullopt;
    // Chunks that change nothing of the pixels as the decoder gives them: colour space notes, resolution,
    // text and time. Anything else (transparency, orientation, a palette, chunks we do not know) is decoded.
    static const char* const harmless[] = {"gAMA", "cHRM", "sRGB", "iCCP", "pHYs", "tEXt", "zTXt", "iTXt", "tIME"};
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    qint64 at = 8, width = 0, height = 0;
    QByteArray rows;
    bool header = false, ended = false, rowsDone = false;
    while (!ended) {
        if (bytes.size() - at < 12)
            return std::nullopt;
        const qint64 length = qFromBigEndian<quint32>(data + at);
        if (length > bytes.size() - at - 12)
            return std::nullopt;
        const QByteArray type = bytes.mid(at + 4, 4);
        const uchar* body = data + at + 8;
        if (qFromBigEndian<quint32>(body + length) != quint32(crc32(0, data + at + 4, uInt(length + 4))))
            return std::nullopt;
        if (!header) {
            // 8-bit RGB, the only compression and filter method, not interlaced.
            if (type != "IHDR" || length != 13 || body[8] != 8 || body[9] != 2 || body[10] != 0 || body[11] != 0 ||
                body[12] != 0)
                return std::nullopt;
            width = qFromBigEndian<quint32>(body);
            height = qFromBigEndian<quint32>(body + 4);
            if (width < 1 || height < 1 || width > largestSide || height > largestSide)
                return std::nullopt;
            header = true;
        } else if (type == "IDAT") {
            if (rowsDone)
                return std::nullopt;
            rows.append(reinterpret_cast<const char*>(body), qsizetype(length));
        } else if (type == "IEND") {
            ended = true;
        } else if (std::none_of(std::begin(harmless), std::end(harmless),
                                [&type](const char* name) { return type == name; })) {
            return std::nullopt;
        } else if (!rows.isEmpty()) {
            rowsDone = true;
        }
        at += length + 12;
    }
    if (rows.isEmpty())
        return std::nullopt;
    const double scale = pixelsPerPoint > 0 ? pixelsPerPoint : 2.0;
    Page result;
    result.index = index;
    result.width = int(width);
    result.height = int(height);
    result.pointsWidth = double(width) / scale;
    result.pointsHeight = double(height) / scale;
    result.rgb = rows;
    result.pngRows = true;
    return result;
}

bool save(const QString& path, const std::vector<Page>& pages, const QStringList& secrets) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const ListHeader header{listMagic, quint64(pages.size()), quint64(secrets.size())};
    bool ok = file.write(reinterpret_cast<const char*>(&header), sizeof header) == sizeof header;
    for (const Page& page : pages) {
        if (page.rgb.isEmpty() || (page.pngRows && !page.mask.isEmpty()))
            return false;
        const Entry entry{page.index,       page.width,           page.height,
                          page.pointsWidth, page.pointsHeight,    page.rgb.size(),
                          page.mask.size(), page.pngRows ? 1 : 0, page.redacted ? 1 : 0};
        ok = ok && file.write(reinterpret_cast<const char*>(&entry), sizeof entry) == sizeof entry &&
             file.write(page.rgb) == page.rgb.size() && file.write(page.mask) == page.mask.size();
    }
    for (const QString& secret : secrets) {
        const QByteArray bytes = secret.toUtf8();
        const quint64 size = quint64(bytes.size());
        ok = ok && file.write(reinterpret_cast<const char*>(&size), sizeof size) == sizeof size &&
             file.write(bytes) == bytes.size();
    }
    return file.flush() && ok;
}

namespace {

// The numbers the writer finds the files handed to it at: the document it writes, and the list it reads (or, when
// it lists a document's strings, the file it writes them into).
constexpr int targetDescriptor = 3, listDescriptor = 4;

// The list holds the pages and the secrets, and the strings are the document's words: they pass through files
// without a name, so that nothing of them stays in the temporary folder however the program ends.
QString named(int fd) {
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

// Between fork and exec: each file, closed on exec in the program, is opened in the child at its number. Both are
// moved out of the way first, as either may sit at the other's number.
void handOver(int target, int list) {
    const int movedTarget = target >= 0 ? ::fcntl(target, F_DUPFD_CLOEXEC, 10) : -1;
    const int movedList = ::fcntl(list, F_DUPFD_CLOEXEC, 10);
    if (movedTarget >= 0)
        ::dup2(movedTarget, targetDescriptor);
    ::dup2(movedList, listDescriptor);
}

Result run(const QString& source, const std::vector<Page>& pages, const QString& target, int handed, int timeLimitMs,
           const QStringList& secrets) {
    Result result;
    if (const QString why = ChildProcesses::notAFile(source); !why.isEmpty()) {
        result.failure = why;
        return result;
    }
    const UnnamedFile list(QDir::tempPath());
    if (!list.isOpen() || !save(named(list.fd()), pages, secrets)) {
        result.failure = QStringLiteral("there is no room for a temporary file");
        return result;
    }
    QProcess child;
    // qpdf's own complaints about a broken file say nothing the exit code does not.
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    child.setChildProcessModifier([handed, listed = list.fd()] { handOver(handed, listed); });
    child.start(program(), {source, named(listDescriptor), target});
    QElapsedTimer clock;
    clock.start();
    // While the child starts and reads the document: rows taken as a PNG file holds them must inflate to
    // exactly the picture, or the page would show something else. What is written is then not used.
    for (const Page& page : pages)
        if (page.pngRows && !rowsCheckOut(page.rgb, 1 + 3 * qint64(page.width), page.height)) {
            child.kill();
            child.waitForFinished(-1);
            result.failure = QStringLiteral("the picture of page %1 is damaged").arg(page.index + 1);
            return result;
        }
    if (ChildProcesses::waitWithin(child, timeLimitMs, clock)) {
        result.failure = QStringLiteral("it takes too long to edit");
        return result;
    }
    if (child.error() == QProcess::FailedToStart)
        result.failure = QStringLiteral("the writer could not be started");
    else if (child.exitStatus() == QProcess::CrashExit)
        // Out of memory shows as a crash or an abort; out of processor time as SIGXCPU, the same to us.
        result.failure = QStringLiteral("it needs more memory or time than allowed");
    else if (child.exitCode() != Written)
        result.failure = failureText(child.exitCode());
    else
        result.written = true;
    return result;
}

} // namespace

Result write(const QString& source, const std::vector<Page>& pages, const QString& target, int timeLimitMs,
             const QStringList& secrets) {
    return run(source, pages, target, -1, timeLimitMs, secrets);
}

Result write(const QString& source, const std::vector<Page>& pages, int target, int timeLimitMs,
             const QStringList& secrets) {
    return run(source, pages, QStringLiteral("fd:%1").arg(targetDescriptor), target, timeLimitMs, secrets);
}

std::optional<QStringList> strings(const QString& source, int timeLimitMs, QString* failure, bool* unread) {
    const auto fail = [failure](const QString& why) {
        if (failure)
            *failure = why;
        return std::nullopt;
    };
    if (const QString why = ChildProcesses::notAFile(source); !why.isEmpty())
        return fail(why);
    const UnnamedFile out(QDir::tempPath());
    if (!out.isOpen())
        return fail(QStringLiteral("there is no room for a temporary file"));
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    child.setChildProcessModifier([written = out.fd()] { handOver(-1, written); });
    child.start(program(), {QStringLiteral("--strings"), source, QStringLiteral("fd:%1").arg(listDescriptor)});
    QElapsedTimer clock;
    clock.start();
    if (ChildProcesses::waitWithin(child, timeLimitMs, clock))
        return fail(QStringLiteral("it takes too long to read"));
    if (child.error() == QProcess::FailedToStart)
        return fail(QStringLiteral("the writer could not be started"));
    if (child.exitStatus() == QProcess::CrashExit)
        return fail(QStringLiteral("it needs more memory or time than allowed"));
    if (child.exitCode() != Written)
        return fail(failureText(child.exitCode()));
    QFile written(named(out.fd()));
    if (!written.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("there is no room for a temporary file"));
    QStringList found;
    if (unread)
        *unread = false;
    for (const QByteArray& text : written.readAll().split('\0')) {
        if (text == PdfRewriteList::unreadMark) {
            if (unread)
                *unread = true;
        } else if (!text.isEmpty()) {
            found.append(QString::fromUtf8(text));
        }
    }
    return found;
}

void setProgram(const QString& path) {
    injectedProgram() = path;
}

} // namespace PdfRewrite
