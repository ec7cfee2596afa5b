#include "card/PDFSession.h"

#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>

#include <algorithm>

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

int PDFSession::pageCount() const { return doc ? doc->pageCount() : 0; }

QString PDFSession::pageFileName(const QUrl& pdfURL, int index) {
    return QFileInfo(pdfURL.toLocalFile()).completeBaseName() + QStringLiteral(" p") + QString::number(index + 1) +
           QStringLiteral(".png");
}

PDFSession::Rendered PDFSession::render(int page) {
    if (!doc || page < 0 || page >= doc->pageCount())
        throw ConvertError(QStringLiteral("No such page"));
    const QSizeF points = doc->pagePointSize(page);
    const double longest = std::max(points.width(), points.height());
    const double scale = longest <= 1 ? 2.0 : std::min(2.0, 3200.0 / longest);
    const QSize pixels(std::max(1, qRound(points.width() * scale)), std::max(1, qRound(points.height() * scale)));
    QImage bitmap = doc->render(page, pixels);
    if (bitmap.isNull())
        throw ConvertError(QStringLiteral("Can't render page"));
    // Pages without a background of their own are white on paper, not transparent.
    if (bitmap.hasAlphaChannel()) {
        QImage flat(bitmap.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, bitmap);
        bitmap = flat;
    }
    const QUrl file = QUrl::fromLocalFile(QDir(workDir.toLocalFile()).filePath(pageFileName(pdfURL, page)));
    ShotFiles::write(bitmap, file);
    index = page;
    renderedURL = file;
    renderedAt = QDateTime::currentDateTime();
    pixelsPerPoint = bitmap.width() / std::max(points.width(), 1.0);
    return {file, bitmap};
}
