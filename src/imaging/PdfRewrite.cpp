#include "imaging/PdfRewrite.h"

#include <QFile>

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace PdfRewrite {

namespace {

// The list file: this header, then per page an Entry followed by its rgb and mask bytes.
struct ListHeader {
    quint64 magic = 0;
    quint64 count = 0;
};
struct Entry {
    qint64 index = 0;
    qint64 width = 0;
    qint64 height = 0;
    double pointsWidth = 0;
    double pointsHeight = 0;
    qint64 rgbSize = 0;
    qint64 maskSize = 0;
};
constexpr quint64 listMagic = 0x3154494445444950ULL; // "PIDEDIT1"
// More pages than any document we are asked to change at once, and larger than any page we write.
constexpr quint64 mostPages = 100'000;
constexpr qint64 largestSide = 1 << 16;

QByteArray deflated(const std::string& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

bool readList(const QString& path, std::vector<Page>* pages) {
    QFile file(path);
    ListHeader header;
    if (!file.open(QIODevice::ReadOnly) ||
        file.read(reinterpret_cast<char*>(&header), sizeof header) != sizeof header || header.magic != listMagic ||
        header.count == 0 || header.count > mostPages)
        return false;
    const qint64 total = file.size();
    for (quint64 i = 0; i < header.count; ++i) {
        Entry entry;
        if (file.read(reinterpret_cast<char*>(&entry), sizeof entry) != sizeof entry || entry.index < 0 ||
            entry.width <= 0 || entry.height <= 0 || entry.width > largestSide || entry.height > largestSide ||
            entry.rgbSize <= 0 || entry.maskSize < 0 || entry.rgbSize > total || entry.maskSize > total ||
            !(entry.pointsWidth > 0) || !(entry.pointsHeight > 0))
            return false;
        Page page;
        page.index = int(entry.index);
        page.width = int(entry.width);
        page.height = int(entry.height);
        page.pointsWidth = entry.pointsWidth;
        page.pointsHeight = entry.pointsHeight;
        page.rgb = file.read(entry.rgbSize);
        page.mask = file.read(entry.maskSize);
        if (page.rgb.size() != entry.rgbSize || page.mask.size() != entry.maskSize)
            return false;
        pages->push_back(std::move(page));
    }
    return true;
}

QPDFObjectHandle imageObject(QPDF& pdf, const QByteArray& data, int w, int h, const char* colourSpace) {
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, data.toStdString());
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(w));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(h));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colourSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    dict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    return image;
}

// A page of the picture's size in points showing nothing but the picture.
QPDFPageObjectHelper imagePage(QPDF& pdf, const Page& page) {
    QPDFObjectHandle image = imageObject(pdf, page.rgb, page.width, page.height, "/DeviceRGB");
    if (!page.mask.isEmpty())
        image.getDict().replaceKey("/SMask", imageObject(pdf, page.mask, page.width, page.height, "/DeviceGray"));
    const double w = page.pointsWidth, h = page.pointsHeight;
    const std::string drawing = "q " + std::to_string(w) + " 0 0 " + std::to_string(h) + " 0 0 cm /Im0 Do Q";
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    dict.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, w, h)));
    dict.replaceKey("/Resources", resources);
    dict.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, drawing));
    return QPDFPageObjectHelper(pdf.makeIndirectObject(dict));
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

bool save(const QString& path, const std::vector<Page>& pages) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const ListHeader header{listMagic, quint64(pages.size())};
    bool ok = file.write(reinterpret_cast<const char*>(&header), sizeof header) == sizeof header;
    for (const Page& page : pages) {
        if (page.rgb.isEmpty())
            return false;
        const Entry entry{page.index,        page.width,      page.height,     page.pointsWidth,
                          page.pointsHeight, page.rgb.size(), page.mask.size()};
        ok = ok && file.write(reinterpret_cast<const char*>(&entry), sizeof entry) == sizeof entry &&
             file.write(page.rgb) == page.rgb.size() && file.write(page.mask) == page.mask.size();
    }
    return file.flush() && ok;
}

Outcome rewrite(const QString& source, const QString& listPath, const QString& target) {
    std::vector<Page> pages;
    if (!readList(listPath, &pages))
        return Outcome::BadList;
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    try {
        pdf.processFile(QFile::encodeName(source).constData());
        QPDFPageDocumentHelper document(pdf);
        std::vector<QPDFPageObjectHelper> all = document.getAllPages();
        for (const Page& page : pages) {
            if (size_t(page.index) >= all.size())
                return Outcome::NoPage;
            QPDFPageObjectHelper fresh = imagePage(pdf, page);
            document.addPageAt(fresh, true, all[size_t(page.index)]);
            document.removePage(all[size_t(page.index)]);
            all[size_t(page.index)] = fresh;
        }
    } catch (const std::bad_alloc&) {
        return Outcome::TooLarge;
    } catch (const std::exception&) {
        return Outcome::Unreadable;
    }
    const int fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!out) {
        if (fd >= 0)
            ::close(fd);
        return Outcome::WriteFailed;
    }
    Outcome outcome = Outcome::Written;
    // The writer keeps the name's pointer, not a copy, and reads it while it writes.
    const QByteArray targetName = QFile::encodeName(target);
    try {
        QPDFWriter writer(pdf);
        writer.setOutputFile(targetName.constData(), out, false);
        writer.setObjectStreamMode(qpdf_o_preserve);
        writer.write();
        if (std::fflush(out) != 0 || ::fsync(fd) != 0)
            outcome = Outcome::WriteFailed;
    } catch (const std::bad_alloc&) {
        outcome = Outcome::TooLarge;
    } catch (const QPDFExc&) {
        // Objects the writer reaches only now, damaged beyond what qpdf recovers.
        outcome = Outcome::Unreadable;
    } catch (const std::exception&) {
        outcome = Outcome::WriteFailed;
    }
    if (std::fclose(out) != 0 && outcome == Outcome::Written)
        outcome = Outcome::WriteFailed;
    return outcome;
}

} // namespace PdfRewrite
