// pictolarium-pdfwrite: puts edited pages back into a PDF the user opened, under limits on time and memory,
// so that a hostile document costs at most this process. It links qpdf and nothing of the toolkit, so that
// it starts at once.
//
//   pictolarium-pdfwrite SOURCE LIST TARGET
//   pictolarium-pdfwrite --strings SOURCE TARGET
//
// Reads the document at SOURCE, puts each picture of LIST (written by the program) on the page of its index
// in place of what that page showed, takes the list's secrets out of every word the document holds besides its
// pages (a list may hold secrets only), and writes the whole document to TARGET, an existing empty file, flushed to
// disk before it exits. SOURCE is never written. With --strings, writes those words to TARGET instead, those of the
// revisions an update in place replaced too, which the whole new document leaves behind (PdfRewriteList.h). The exit
// code says what went wrong (PdfRewriteList::Exit).

#include "AttachedPdfs.h"
#include "DocStrings.h"
#include "PageSwap.h"
#include "imaging/ChildLimits.h"
#include "imaging/PdfRewriteList.h"
#include "platform/WholeIo.h"

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using namespace PdfRewriteList;

namespace {

struct Page {
    Entry entry;
    std::string rgb;
    std::string mask;
};

bool readAll(int fd, char* data, std::int64_t size) {
    return size <= 0 || WholeIo::readUpTo(fd, data, size_t(size)) == size_t(size);
}

bool readList(const char* path, std::vector<Page>* pages, std::vector<std::string>* secrets) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    ListHeader header;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              readAll(fd, reinterpret_cast<char*>(&header), sizeof header) && header.magic == listMagic &&
              (header.count > 0 || header.secrets > 0) && header.count <= mostPages && header.secrets <= mostSecrets;
    const std::int64_t total = st.st_size;
    for (std::uint64_t i = 0; ok && i < header.count; ++i) {
        Page page;
        Entry& e = page.entry;
        ok = readAll(fd, reinterpret_cast<char*>(&e), sizeof e) && e.index >= 0 && e.width > 0 && e.height > 0 &&
             e.width <= largestSide && e.height <= largestSide && e.rgbSize > 0 && e.maskSize >= 0 &&
             e.rgbSize <= total && e.maskSize <= total && e.pointsWidth > 0 && e.pointsHeight > 0 &&
             (e.pngRows == 0 || (e.pngRows == 1 && e.maskSize == 0)) && (e.redacted == 0 || e.redacted == 1);
        if (!ok)
            break;
        page.rgb.resize(size_t(e.rgbSize));
        page.mask.resize(size_t(e.maskSize));
        ok = readAll(fd, page.rgb.data(), e.rgbSize) && readAll(fd, page.mask.data(), e.maskSize);
        pages->push_back(std::move(page));
    }
    for (std::uint64_t i = 0; ok && i < header.secrets; ++i) {
        std::uint64_t size = 0;
        ok = readAll(fd, reinterpret_cast<char*>(&size), sizeof size) && size <= longestSecret &&
             std::int64_t(size) <= total;
        if (!ok)
            break;
        std::string secret(size_t(size), '\0');
        ok = readAll(fd, secret.data(), std::int64_t(size));
        secrets->push_back(std::move(secret));
    }
    ::close(fd);
    return ok;
}

QPDFObjectHandle imageObject(QPDF& pdf, std::string data, const Entry& e, const char* colourSpace) {
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, std::move(data));
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(e.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(e.height));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colourSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    dict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    return image;
}

// The picture as an image of its size in points.
PageSwap::Picture picture(QPDF& pdf, Page& page) {
    const Entry& e = page.entry;
    QPDFObjectHandle image = imageObject(pdf, std::move(page.rgb), e, "/DeviceRGB");
    if (e.pngRows) {
        // Rows as a PNG file keeps them: the reader undoes each row's filter.
        QPDFObjectHandle parms = QPDFObjectHandle::newDictionary();
        parms.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
        parms.replaceKey("/Colors", QPDFObjectHandle::newInteger(3));
        parms.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(e.width));
        image.getDict().replaceKey("/DecodeParms", parms);
    }
    if (!page.mask.empty())
        image.getDict().replaceKey("/SMask", imageObject(pdf, std::move(page.mask), e, "/DeviceGray"));
    return {image, e.pointsWidth, e.pointsHeight, e.redacted != 0};
}

// The writer's output, in large writes straight to the file. The disk starts on each part as soon as it is
// written, so that the flush at the end waits for little more than the last part.
class FileOut : public Pipeline {
public:
    explicit FileOut(int fd) : Pipeline("output", nullptr), fd(fd) { buffer.reserve(chunk); }
    void write(unsigned char const* data, size_t len) override {
        if (buffer.size() + len < chunk) {
            buffer.append(reinterpret_cast<const char*>(data), len);
            return;
        }
        // A large piece goes out from where it is, without a copy.
        put(buffer.data(), buffer.size());
        buffer.clear();
        put(reinterpret_cast<const char*>(data), len);
        startDisk();
    }
    // The writer finishes its pipelines after every object; the rest goes out with close().
    void finish() override {}
    void close() {
        put(buffer.data(), buffer.size());
        buffer.clear();
    }

private:
    void put(const char* data, size_t size) {
        if (!WholeIo::writeAll(fd, data, size))
            throw std::runtime_error("the document could not be written");
        written += off_t(size);
    }
    // Starts the disk on what was written since the last time.
    void startDisk() {
        ::sync_file_range(fd, started, written - started, SYNC_FILE_RANGE_WRITE);
        started = written;
    }

    static constexpr size_t chunk = size_t(1) << 20;
    const int fd;
    std::string buffer;
    off_t written = 0;
    off_t started = 0;
};

// The source, opened once, checked to be a regular file of a size we would read and mapped whole; unmapped
// on leaving. qpdf then reads it as memory: no read or seek per object.
class Source {
public:
    explicit Source(const char* path) {
        const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            // A document we may not read, or one gone since the program looked, is no damaged one.
            failure = errno == EACCES || errno == EPERM ? NoPermission
                      : errno == ENOENT || errno == ENOTDIR ? Gone
                                                           : Unreadable;
            return;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            failure = NotRegular;
        else if (st.st_size <= 0)
            failure = Empty;
        else if (st.st_size > largestFile)
            failure = TooLarge;
        else if (void* at = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
                 at != MAP_FAILED) {
            data = static_cast<const char*>(at);
            size = size_t(st.st_size);
            failure = Written;
        }
        ::close(fd);
    }
    ~Source() {
        if (data)
            ::munmap(const_cast<char*>(data), size);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    int failure = Unreadable;
    const char* data = nullptr;
    size_t size = 0;
};

// A file cut short by another program while we read it: the bytes past its new end are gone.
void cutShort(int) {
    ::_exit(Unreadable);
}

// Reads the document mapped in `in` into `pdf` and runs `work` on it (its outcome is returned), turning what
// the reading and the work throw into the outcome that names it. The document reads its objects from the
// mapping as it needs them, so `in` must outlive `pdf`.
template <class Work> int withDocument(const Source& in, const char* source, QPDF& pdf, Work&& work) {
    if (in.failure != Written)
        return in.failure;
    ::signal(SIGBUS, cutShort);
    pdf.setSuppressWarnings(true);
    try {
        pdf.processMemoryFile(source, in.data, in.size);
        return work();
    } catch (const std::bad_alloc&) {
        return TooLarge;
    } catch (const QPDFExc& error) {
        return error.getErrorCode() == qpdf_e_password ? PasswordNeeded : Unreadable;
    } catch (const std::exception&) {
        return Unreadable;
    }
}

// "fd:<n>" is a file the program opened for us, one without a name that it names once we are done; anything
// else is a path.
int openTarget(const char* target) {
    if (std::strncmp(target, "fd:", 3) != 0)
        return ::open(target, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    const int fd = std::atoi(target + 3);
    if (fd <= 2 || ::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    return fd;
}

int rewrite(const char* source, const char* listPath, const char* target) {
    std::vector<Page> pages;
    std::vector<std::string> secrets;
    if (!readList(listPath, &pages, &secrets))
        return BadList;
    const Source in(source);
    QPDF pdf;
    const int read = withDocument(in, source, pdf, [&] {
        std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(pdf).getAllPages();
        PageSwap::Listings listed(all);
        PageSwap::Leftovers left;
        for (Page& page : pages) {
            const auto at = size_t(page.entry.index);
            if (at >= all.size())
                return int(NoPage);
            PageSwap::replace(pdf, all[at], picture(pdf, page), &listed, &left);
        }
        PageSwap::forget(pdf, listed, left);
        DocStrings::remove(pdf, secrets);
        return int(Written);
    });
    if (read != Written)
        return read;
    const int fd = openTarget(target);
    if (fd < 0)
        return WriteFailed;
    int outcome = Written;
    try {
        FileOut out(fd);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&out);
        // Every stream of the document is copied as it is: only the new pages are ours to compress.
        writer.setCompressStreams(false);
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setObjectStreamMode(qpdf_o_preserve);
        // An encrypted document stays encrypted as it was: the same keys, the same permissions.
        writer.setPreserveEncryption(true);
        writer.write();
        out.close();
        if (::fsync(fd) != 0)
            outcome = WriteFailed;
    } catch (const std::bad_alloc&) {
        outcome = TooLarge;
    } catch (const QPDFExc&) {
        // Objects the writer reaches only now, damaged beyond what qpdf recovers.
        outcome = Unreadable;
    } catch (const std::exception&) {
        outcome = WriteFailed;
    }
    if (::close(fd) != 0 && outcome == Written)
        outcome = WriteFailed;
    // The process ends here: taking the parsed document apart would only cost time.
    std::_Exit(outcome);
}

// The words an earlier revision holds, the text its pages show in simple fonts too: a rewrite leaves its bytes
// behind, so a secret only it holds has to be found to be taken out. One that can't be read holds nothing.
void listEarlier(const Source& in, size_t end, std::set<std::string>* seen, std::string* out) {
    QPDF earlier;
    earlier.setSuppressWarnings(true);
    const auto add = [&](const std::string& text) {
        if (!text.empty() && seen->insert(text).second)
            *out += text + '\0';
        return text;
    };
    try {
        earlier.processMemoryFile("earlier revision", in.data, end);
        for (const std::string& text : DocStrings::list(earlier))
            add(text);
        bool readable = true;
        AttachedPdfs::editShown(earlier, add, &readable);
    } catch (const std::exception&) {
    }
}

// The words the document holds besides its pages, each ended by a zero byte, into the empty file at `target`.
int listStrings(const char* source, const char* target) {
    std::string out;
    std::set<std::string> seen;
    const Source in(source);
    QPDF pdf;
    const int read = withDocument(in, source, pdf, [&] {
        bool unread = false;
        for (const std::string& text : DocStrings::list(pdf, &unread))
            if (seen.insert(text).second)
                out += text + '\0';
        // Earlier revisions are read within a part of the time the child has, newest first; those left say so.
        const auto start = std::chrono::steady_clock::now();
        bool older = false;
        const std::vector<size_t> ends = AttachedPdfs::earlierRevisions({in.data, in.size}, &older);
        // Those older than the latest few are not read: they may hold anything.
        unread = unread || older;
        for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(3)) {
                unread = true;
                break;
            }
            listEarlier(in, *end, &seen, &out);
        }
        if (unread)
            out += std::string(PdfRewriteList::unreadMark) + '\0';
        return int(Written);
    });
    if (read != Written)
        return read;
    const int fd = openTarget(target);
    if (fd < 0)
        return WriteFailed;
    bool ok = WholeIo::writeAll(fd, out.data(), out.size());
    ok = ::close(fd) == 0 && ok;
    std::_Exit(ok ? Written : WriteFailed);
}

} // namespace

int main(int argc, char** argv) {
    // The limits come first, before anything is read.
    ChildLimits::apply(memoryLimit, cpuSeconds);
    // The writer holds each stream in a buffer of its own while it copies it: freed memory is kept for the
    // next one instead of mapped afresh and cleared by the system every time.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
    ::mallopt(M_TOP_PAD, 64 << 20);
    if (argc != 4)
        return BadList;
    try {
        if (std::string(argv[1]) == "--strings")
            return listStrings(argv[2], argv[3]);
        return rewrite(argv[1], argv[2], argv[3]);
    } catch (const std::bad_alloc&) {
        return TooLarge;
    }
}
