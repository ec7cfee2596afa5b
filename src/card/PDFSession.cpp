#include "card/PDFSession.h"

#include "imaging/IsolatedDecode.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

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

int PDFSession::pageCount() const { return pages; }

QString PDFSession::pageFileName(const QUrl& pdfURL, int index) {
    return QFileInfo(pdfURL.toLocalFile()).completeBaseName() + QStringLiteral(" p") + QString::number(index + 1) +
           QStringLiteral(".png");
}

PDFSession::Rendered PDFSession::render(int page) {
    if (page < 0 || page >= pages)
        throw ConvertError(QStringLiteral("No such page"));
    if (page == 0 && !firstPage.isNull()) {
        const QImage bitmap = std::exchange(firstPage, QImage());
        return place(page, bitmap, firstPagePoints);
    }
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    job.page = page;
    const IsolatedDecode::Result rendered = IsolatedDecode::run(job);
    if (!rendered.ok())
        throw ConvertError(QStringLiteral("Can't render page: ") + rendered.failure);
    return place(page, rendered.image, rendered.pagePoints);
}

PDFSession::Rendered PDFSession::place(int page, QImage bitmap, QSizeF points) {
    const QUrl file = QUrl::fromLocalFile(QDir(workDir.toLocalFile()).filePath(pageFileName(pdfURL, page)));
    ShotFiles::write(bitmap, file);
    index = page;
    renderedURL = file;
    renderedAt = QDateTime::currentDateTime();
    pixelsPerPoint = bitmap.width() / std::max(points.width(), 1.0);
    return {file, bitmap};
}
