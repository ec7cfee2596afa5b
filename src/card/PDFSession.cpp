#include "card/PDFSession.h"

#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>
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

std::shared_ptr<PDFSession> PDFSession::open(const QUrl& pdfURL) {
    if (!pdfURL.isLocalFile())
        return nullptr;
    std::shared_ptr<PDFSession> session(new PDFSession());
    session->doc = std::make_unique<QPdfDocument>();
    if (session->doc->load(pdfURL.toLocalFile()) != QPdfDocument::Error::None || session->doc->pageCount() < 1)
        return nullptr;
    session->pdfURL = pdfURL;
    const QString folder = QFileInfo(pdfURL.toLocalFile()).absolutePath() + QStringLiteral("/.pages");
    QDir().mkpath(folder); // a failure shows when the first page is written
    session->workDir = QUrl::fromLocalFile(folder + QLatin1Char('/'));
    session->renderedAt = QDateTime::fromMSecsSinceEpoch(0);
    return session;
}

PDFSession::~PDFSession() = default;

int PDFSession::pageCount() const {
    return doc ? doc->pageCount() : 0;
}

QString PDFSession::pageFileName(const QUrl& pdfURL, int index) {
    return QFileInfo(pdfURL.toLocalFile()).completeBaseName() + QStringLiteral(" p") + QString::number(index + 1) +
           QStringLiteral(".png");
}

QSize PDFSession::renderSize(QSizeF points) {
    const double longest = std::max(points.width(), points.height());
    const double scale = longest <= 1 ? 2.0 : std::min(2.0, 3200.0 / longest);
    return {std::max(1, qRound(points.width() * scale)), std::max(1, qRound(points.height() * scale))};
}

namespace {

PDFSession::Page renderWith(QPdfDocument& doc, const QUrl& pdfURL, const QUrl& workDir, int page) {
    if (page < 0 || page >= doc.pageCount())
        throw ConvertError(QStringLiteral("No such page"));
    const QSizeF points = doc.pagePointSize(page);
    QImage bitmap = doc.render(page, PDFSession::renderSize(points));
    if (bitmap.isNull())
        throw ConvertError(QStringLiteral("Can't render page"));
    // Pages without a background of their own are white on paper, not transparent.
    if (bitmap.hasAlphaChannel()) {
        QImage flat(bitmap.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, bitmap);
        bitmap = flat;
    }
    const QUrl file = QUrl::fromLocalFile(QDir(workDir.toLocalFile()).filePath(PDFSession::pageFileName(pdfURL, page)));
    ShotFiles::write(bitmap, file);
    return {page, file, bitmap, bitmap.width() / std::max(points.width(), 1.0)};
}

} // namespace

PDFSession::Rendered PDFSession::render(int page) {
    if (!doc)
        throw ConvertError(QStringLiteral("No such page"));
    return accept(renderWith(*doc, pdfURL, workDir, page));
}

PDFSession::Page PDFSession::renderFile(const QUrl& pdfURL, const QUrl& workDir, int page) {
    QPdfDocument own;
    if (own.load(pdfURL.toLocalFile()) != QPdfDocument::Error::None)
        throw ConvertError(QStringLiteral("Can't render page"));
    return renderWith(own, pdfURL, workDir, page);
}

PDFSession::Rendered PDFSession::accept(const Page& page) {
    index = page.index;
    renderedURL = page.url;
    renderedAt = QDateTime::currentDateTime();
    pixelsPerPoint = page.pixelsPerPoint;
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

void PDFSession::reload() {
    if (!doc)
        return;
    std::lock_guard guard(lock);
    doc->close();
    doc->load(pdfURL.toLocalFile());
}
