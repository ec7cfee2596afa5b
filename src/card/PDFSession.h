#pragma once
// One PDF opened as a card: its pages are shown one at a time as PNG files in a hidden ".pages" folder
// beside the PDF, so every tool works on a page as on a screenshot. A page whose picture changed goes back
// into the PDF as an image page; the file on disk is always either the old or the new document.

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>
#include <optional>

class QPdfDocument;
class QPDF;

class PDFSession {
public:
    // Nothing when the document cannot be opened or has no pages.
    static std::shared_ptr<PDFSession> open(const QUrl& pdfURL);
    ~PDFSession();
    PDFSession(const PDFSession&) = delete;
    PDFSession& operator=(const PDFSession&) = delete;

    struct Rendered {
        QUrl url;
        QImage image;
    };
    // Writes the page as "<base> p<n>.png" in the work folder and makes it the current page.
    // Throws ConvertError ("No such page", "Can't render page", or the writer's own message).
    Rendered render(int index);

    // A page rendered off the main thread, with a document of that thread's own: nothing of the session
    // is touched until accept() makes it the current page on the main thread. Throws as render() does.
    struct Page {
        int index = 0;
        QUrl url;
        QImage image;
        double pixelsPerPoint = 2.0;
    };
    static Page renderFile(const QUrl& pdfURL, const QUrl& workDir, int index);
    Rendered accept(const Page& page);

    // Puts the picture file back into the PDF as the current page when it changed since the last render
    // or commit (another file, or the same file modified later). True when the PDF was rewritten; false
    // when nothing changed or the write failed, in which case failure() says why and the PDF is untouched.
    bool commit(const QUrl& from);
    // Why the last commit or write failed; empty after a success or an unchanged page.
    QString failure() const { return lastFailure; }

    // The pieces a worker uses to change other pages: replacePage() swaps page `index` for an image of the
    // picture at `pixelsPerPoint`, in memory only; write() then puts the whole document on disk once. Both
    // take the session's lock and may run on any thread; they throw ConvertError with the reason.
    void replacePage(int index, const QImage& picture, double pixelsPerPoint);
    void write();
    // After a write from another thread: the shown document is opened again from the file (main thread).
    void reload();

    int pageCount() const;
    int index = 0;
    QUrl pdfURL;
    QUrl workDir;
    std::optional<QUrl> renderedURL;
    QDateTime renderedAt;
    double pixelsPerPoint = 2.0;

    // The page image's file name for a zero-based page index.
    static QString pageFileName(const QUrl& pdfURL, int index);
    // The render size of a page of `points`: 2 pixels a point, the longer side at most 3200 pixels.
    static QSize renderSize(QSizeF points);

private:
    PDFSession() = default;
    void loadQpdf();
    std::unique_ptr<QPdfDocument> doc;
    // The document as qpdf edits and writes it; read on the first edit. Guarded by `lock`, as is every
    // write of the file.
    std::unique_ptr<QPDF> editable;
    std::recursive_mutex lock;
    QString lastFailure;
};
