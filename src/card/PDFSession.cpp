#include "card/PDFSession.h"

#include "imaging/ImageConvert.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

QString fileName(const QUrl& url) {
    return QFileInfo(url.toLocalFile()).fileName();
}

// Flate-compressed bytes, as the image stream carries them.
std::string deflate(const std::string& raw) {
    Pl_Buffer out("deflated");
    Pl_Flate flate("deflate", &out, Pl_Flate::a_deflate);
    flate.write(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
    flate.finish();
    std::unique_ptr<Buffer> buffer(out.getBuffer());
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

QPDFObjectHandle imageStream(QPDF& pdf, const QImage& picture, bool alpha) {
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    const int w = rgba.width(), h = rgba.height();
    std::string rgb, mask;
    rgb.reserve(size_t(w) * h * 3);
    if (alpha)
        mask.reserve(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const uchar* line = rgba.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            rgb.append(reinterpret_cast<const char*>(line + 4 * x), 3);
            if (alpha)
                mask.push_back(char(line[4 * x + 3]));
        }
    }
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, deflate(rgb));
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(w));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(h));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    dict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
    if (alpha) {
        QPDFObjectHandle soft = QPDFObjectHandle::newStream(&pdf, deflate(mask));
        QPDFObjectHandle sd = soft.getDict();
        sd.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        sd.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        sd.replaceKey("/Width", QPDFObjectHandle::newInteger(w));
        sd.replaceKey("/Height", QPDFObjectHandle::newInteger(h));
        sd.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
        sd.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        sd.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
        dict.replaceKey("/SMask", soft);
    }
    return image;
}

} // namespace

std::shared_ptr<PDFSession> PDFSession::made(const QUrl& pdfURL, int pageCount) {
    std::shared_ptr<PDFSession> session(new PDFSession());
    session->pages = pageCount;
    session->pdfURL = pdfURL;
    const QString folder = QFileInfo(pdfURL.toLocalFile()).absolutePath() + QStringLiteral("/.pages");
    QDir().mkpath(folder); // a failure shows when the first page is written
    session->workDir = QUrl::fromLocalFile(folder + QLatin1Char('/'));
    session->renderedAt = QDateTime::fromMSecsSinceEpoch(0);
    return session;
}

std::shared_ptr<PDFSession> PDFSession::open(const QUrl& pdfURL, QString* failure) {
    if (!pdfURL.isLocalFile()) {
        if (failure)
            *failure = QStringLiteral("it is not a local file");
        return nullptr;
    }
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    const IsolatedDecode::Result first = IsolatedDecode::run(job);
    if (!first.ok() || first.pageCount < 1) {
        if (failure)
            *failure = first.failure;
        return nullptr;
    }
    return adopt(pdfURL, first.pageCount, first.image, first.pagePoints);
}

std::shared_ptr<PDFSession> PDFSession::adopt(const QUrl& pdfURL, int pageCount, const QImage& firstPage,
                                              QSizeF firstPagePoints) {
    if (!pdfURL.isLocalFile() || pageCount < 1)
        return nullptr;
    auto session = made(pdfURL, pageCount);
    session->firstPage = firstPage;
    session->firstPagePoints = firstPagePoints;
    return session;
}

PDFSession::~PDFSession() = default;

int PDFSession::pageCount() const {
    return pages;
}

QString PDFSession::pageFileName(const QUrl& pdfURL, int index) {
    return QFileInfo(pdfURL.toLocalFile()).completeBaseName() + QStringLiteral(" p") + QString::number(index + 1) +
           QStringLiteral(".png");
}

namespace {

PDFSession::Page placed(const QUrl& pdfURL, const QUrl& workDir, int page, const QImage& bitmap, QSizeF points,
                        int pageCount) {
    const QUrl file = QUrl::fromLocalFile(QDir(workDir.toLocalFile()).filePath(PDFSession::pageFileName(pdfURL, page)));
    ShotFiles::write(bitmap, file);
    return {page, file, bitmap, bitmap.width() / std::max(points.width(), 1.0), pageCount};
}

// The page drawn by the decoding child: twice its size in points, at most 3200 pixels on the longer side,
// on white.
IsolatedDecode::Result drawn(const QUrl& pdfURL, int page) {
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    job.page = page;
    IsolatedDecode::Result result = IsolatedDecode::run(job);
    if (!result.ok())
        throw ConvertError(QStringLiteral("Can't render page: ") + result.failure);
    return result;
}

} // namespace

PDFSession::Rendered PDFSession::render(int page) {
    if (page < 0 || page >= pages)
        throw ConvertError(QStringLiteral("No such page"));
    if (page == 0 && !firstPage.isNull()) {
        const QImage bitmap = std::exchange(firstPage, QImage());
        return accept(placed(pdfURL, workDir, page, bitmap, firstPagePoints, pages));
    }
    return accept(renderFile(pdfURL, workDir, page));
}

PDFSession::Page PDFSession::renderFile(const QUrl& pdfURL, const QUrl& workDir, int page) {
    if (page < 0)
        throw ConvertError(QStringLiteral("No such page"));
    const IsolatedDecode::Result result = drawn(pdfURL, page);
    return placed(pdfURL, workDir, page, result.image, result.pagePoints, result.pageCount);
}

PDFSession::Bitmap PDFSession::renderBitmap(const QUrl& pdfURL, int page) {
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    job.page = page;
    const IsolatedDecode::Result result = IsolatedDecode::run(job);
    return {result.image, result.image.width() / std::max(result.pagePoints.width(), 1.0), result.failure};
}

PDFSession::Rendered PDFSession::accept(const Page& page) {
    index = page.index;
    renderedURL = page.url;
    renderedAt = QDateTime::currentDateTime();
    pixelsPerPoint = page.pixelsPerPoint;
    if (page.pageCount > 0)
        pages = page.pageCount;
    return {page.url, page.image};
}

bool PDFSession::commit(const QUrl& from) {
    lastFailure.clear();
    if (!renderedURL)
        return false;
    const QFileInfo info(from.toLocalFile());
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime::fromMSecsSinceEpoch(0);
    if (from == *renderedURL && modified <= renderedAt)
        return false;
    try {
        const QImage picture = ImageConvert::load(from);
        std::lock_guard guard(lock);
        replacePage(index, picture, pixelsPerPoint);
        write();
    } catch (const UserError& error) {
        lastFailure = error.message;
        return false;
    }
    reload();
    renderedURL = from;
    renderedAt = QDateTime::currentDateTime();
    return true;
}

void PDFSession::loadQpdf() {
    if (editable)
        return;
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        pdf->processFile(QFile::encodeName(pdfURL.toLocalFile()).constData());
        pdf->getAllPages();
    } catch (const std::exception&) {
        throw ConvertError(QStringLiteral("Can't edit ") + fileName(pdfURL));
    }
    editable = std::move(pdf);
}

void PDFSession::replacePage(int page, const QImage& picture, double ppp) {
    std::lock_guard guard(lock);
    if (picture.isNull())
        throw ConvertError(QStringLiteral("Can't draw"));
    loadQpdf();
    try {
        QPDF& pdf = *editable;
        QPDFPageDocumentHelper pages(pdf);
        std::vector<QPDFPageObjectHelper> all = pages.getAllPages();
        if (page < 0 || size_t(page) >= all.size())
            throw ConvertError(QStringLiteral("No such page"));
        const double scale = ppp > 0 ? ppp : 2.0;
        const double w = picture.width() / scale, h = picture.height() / scale;
        QPDFObjectHandle image = imageStream(pdf, picture, picture.hasAlphaChannel());
        const std::string drawing = "q " + std::to_string(w) + " 0 0 " + std::to_string(h) + " 0 0 cm /Im0 Do Q";
        QPDFObjectHandle content = QPDFObjectHandle::newStream(&pdf, drawing);
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im0", image);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        dict.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, w, h)));
        dict.replaceKey("/Resources", resources);
        dict.replaceKey("/Contents", content);
        QPDFPageObjectHelper fresh(pdf.makeIndirectObject(dict));
        pages.addPageAt(fresh, true, all[size_t(page)]);
        pages.removePage(all[size_t(page)]);
    } catch (const UserError&) {
        throw;
    } catch (const std::exception&) {
        throw ConvertError(QStringLiteral("Can't edit ") + fileName(pdfURL));
    }
}

void PDFSession::write() {
    std::lock_guard guard(lock);
    const QString target = pdfURL.toLocalFile();
    const QString cantWrite = QStringLiteral("Couldn't write ") + fileName(pdfURL);
    loadQpdf();
    const QFileInfo info(target);
    // The rename would replace a file the user may not change: a read-only PDF stays as it is, also for
    // a user whom the system would let write it.
    const QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite)))
        throw ConvertError(cantWrite);
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        throw ConvertError(cantWrite);
    const int fd = ::dup(temp.handle());
    FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!out) {
        if (fd >= 0)
            ::close(fd);
        throw ConvertError(cantWrite);
    }
    bool written = false;
    try {
        QPDFWriter writer(*editable);
        writer.setOutputFile(QFile::encodeName(temp.fileName()).constData(), out, false);
        writer.setObjectStreamMode(qpdf_o_preserve);
        writer.write();
        written = std::fflush(out) == 0 && ::fsync(fd) == 0;
    } catch (const std::exception&) {
        written = false;
    }
    std::fclose(out);
    if (!written)
        throw ConvertError(cantWrite);
    if (info.exists())
        temp.setPermissions(info.permissions());
    // The rename swaps the whole file at once: readers see the old document or the new one.
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        throw ConvertError(cantWrite);
    temp.setAutoRemove(false);
}

void PDFSession::discardEdits() {
    std::lock_guard guard(lock);
    editable.reset();
}

void PDFSession::reload() {
    // Pages are drawn from the file each time; only the first page kept from opening would show the old one.
    firstPage = QImage();
}
