#pragma once
// One PDF opened as a card: its pages are shown one at a time as PNG files in a hidden
// ".pages" folder beside the PDF, so every tool works on a page as on a screenshot.

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

class PDFSession {
public:
    // Nothing when the document cannot be opened or has no pages; *failure then says why. The document is
    // read by the decoding child only, so a hostile file cannot stall the program.
    static std::shared_ptr<PDFSession> open(const QUrl& pdfURL, QString* failure = nullptr);
    // A session on a document whose first page the caller already rendered through the decoding child.
    static std::shared_ptr<PDFSession> adopt(const QUrl& pdfURL, int pageCount, const QImage& firstPage,
                                             QSizeF firstPagePoints);
    ~PDFSession();

    struct Rendered {
        QUrl url;
        QImage image;
    };
    // Writes the page as "<base> p<n>.png" in the work folder and makes it the current page.
    // Throws ConvertError ("No such page", "Can't render page: " and why, or the writer's own message).
    // Renders in the decoding child and waits for it, at most its time limit: off the UI thread where it can.
    Rendered render(int index);

    int pageCount() const;
    int index = 0;
    QUrl pdfURL;
    QUrl workDir;
    std::optional<QUrl> renderedURL;
    QDateTime renderedAt;
    double pixelsPerPoint = 2.0;

    // The page image's file name for a zero-based page index.
    static QString pageFileName(const QUrl& pdfURL, int index);

private:
    PDFSession() = default;
    static std::shared_ptr<PDFSession> made(const QUrl& pdfURL, int pageCount);
    Rendered place(int page, QImage bitmap, QSizeF points);

    int pages = 0;
    // The first page as rendered while opening, used by the first render(0).
    QImage firstPage;
    QSizeF firstPagePoints;
};
