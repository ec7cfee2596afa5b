#pragma once
// One PDF opened as a card: its pages are shown one at a time as PNG files in a hidden
// ".pages" folder beside the PDF, so every tool works on a page as on a screenshot.

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

class QPdfDocument;

class PDFSession {
public:
    // Nothing when the document cannot be opened or has no pages.
    static std::shared_ptr<PDFSession> open(const QUrl& pdfURL);
    ~PDFSession();

    struct Rendered {
        QUrl url;
        QImage image;
    };
    // Writes the page as "<base> p<n>.png" in the work folder and makes it the current page.
    // Throws ConvertError ("No such page", "Can't render page", or the writer's own message).
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
    std::unique_ptr<QPdfDocument> doc;
};
