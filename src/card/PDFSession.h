#pragma once
// One PDF opened as a card: its pages are shown one at a time as PNG files in a hidden ".pages" folder
// beside the PDF, so every tool works on a page as on a screenshot. A page whose picture changed goes back
// into the PDF as an image page; the file on disk is always either the old or the new document.
//
// Pages are drawn by the decoding child only (IsolatedDecode), under its limits on time and memory, so a
// hostile file cannot stall the program; the program itself reads the document only to write pages back.

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>
#include <optional>

class QPDF;

class PDFSession {
public:
    // Nothing when the document cannot be opened or has no pages; *failure then says why.
    static std::shared_ptr<PDFSession> open(const QUrl& pdfURL, QString* failure = nullptr);
    // A session on a document whose first page the caller already rendered through the decoding child.
    static std::shared_ptr<PDFSession> adopt(const QUrl& pdfURL, int pageCount, const QImage& firstPage,
                                             QSizeF firstPagePoints);
    ~PDFSession();
    PDFSession(const PDFSession&) = delete;
    PDFSession& operator=(const PDFSession&) = delete;

    struct Rendered {
        QUrl url;
        QImage image;
    };
    // Writes the page as "<base> p<n>.png" in the work folder and makes it the current page.
    // Throws ConvertError ("No such page", "Can't render page: " and why, or the writer's own message).
    // Renders in the decoding child and waits for it, at most its time limit: off the UI thread where it can.
    Rendered render(int index);

    // A page rendered on any thread: nothing of the session is touched until accept() makes it the current
    // page on the main thread. Throws as render() does.
    struct Page {
        int index = 0;
        QUrl url;
        QImage image;
        double pixelsPerPoint = 2.0;
        // The document's page count as the child read it; 0 when unknown.
        int pageCount = 0;
    };
    static Page renderFile(const QUrl& pdfURL, const QUrl& workDir, int index);
    // Only the bitmap, not written anywhere: for a worker that scans the other pages. A null image on
    // failure, with the child's reason.
    struct Bitmap {
        QImage image;
        double pixelsPerPoint = 2.0;
        QString failure;
    };
    static Bitmap renderBitmap(const QUrl& pdfURL, int index);
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
    // Forgets replacements not yet written, so that a worker that failed halfway leaves nothing for the
    // next write to carry into the file.
    void discardEdits();
    // After a write from another thread: nothing drawn from the old file is shown again (main thread).
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

private:
    PDFSession() = default;
    static std::shared_ptr<PDFSession> made(const QUrl& pdfURL, int pageCount);
    void loadQpdf();

    int pages = 0;
    // The first page as rendered while opening, used by the first render(0) of the unchanged file.
    QImage firstPage;
    QSizeF firstPagePoints;
    // The document as qpdf edits and writes it; read on the first edit. Guarded by `lock`, as is every
    // write of the file.
    std::unique_ptr<QPDF> editable;
    std::recursive_mutex lock;
    QString lastFailure;
};
