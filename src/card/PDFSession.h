#pragma once
// One PDF opened as a card: its pages are shown one at a time as PNG files in a hidden ".pages" folder
// beside the PDF, so every tool works on a page as on a screenshot. A page whose picture changed goes back
// into the PDF as an image page; the file on disk is always either the old or the new document.
//
// Pages are drawn by the decoding child only (IsolatedDecode), and the document is parsed and written back by
// the writer child only (PdfRewrite), each under its limits on time and memory, so a hostile file cannot stall
// the program or hold its memory.

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "imaging/IsolatedDecode.h"
#include "imaging/PdfRewrite.h"

class PDFSession {
public:
    // Nothing when the document cannot be opened or has no pages; *failure then says why.
    static std::shared_ptr<PDFSession> open(const QUrl& pdfURL, QString* failure = nullptr);
    // A session on a document whose first page the caller already rendered through the decoding child.
    static std::shared_ptr<PDFSession> adopt(const QUrl& pdfURL, int pageCount, const QImage& firstPage,
                                             QSizeF firstPagePoints, int firstPageTurn = 0);
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
        // The clockwise turn the page's own /Rotate shows it by.
        int turn = 0;
    };
    static Page renderFile(const QUrl& pdfURL, const QUrl& workDir, int index);
    // render() up to accept(): for a worker, before any card shows the session (the first page the caller
    // adopted is written here, once).
    Page renderPage(int index);
    // Only the bitmap, not written anywhere: for a worker that scans the other pages. A null image on
    // failure, with the child's reason.
    struct Bitmap {
        QImage image;
        double pixelsPerPoint = 2.0;
        QString failure;
        int turn = 0;
        // The text the page draws itself, as a reader copies it from the file.
        QString text;
    };
    static Bitmap renderBitmap(const QUrl& pdfURL, int index);
    // The boxes of ranges (start, length) of the page's own text (Bitmap::text), in the pixels of a picture of the
    // page of `*pixels` (set), from its top left. Nothing on failure, with the child's reason.
    static std::vector<QRectF> textBoxes(const QUrl& pdfURL, int index, const std::vector<std::pair<int, int>>& ranges,
                                         QSize* pixels, QString* failure);
    Rendered accept(const Page& page);

    // Puts the picture file back into the PDF as the current page when it changed since the last render
    // or commit (another file, or the same file modified later). True when the PDF was rewritten; false
    // when nothing changed or the write failed, in which case failure() says why and the PDF is untouched.
    // Blocks while the writer child rewrites the document, at most editTimeLimitMs: the card calls it on
    // a worker, while nothing else touches the session.
    bool commit(const QUrl& from);
    // Why the last commit or write failed; empty after a success or an unchanged page.
    QString failure() const { return lastFailure; }

    // The pieces a worker uses to change other pages: replacePage() queues page `index` to be swapped for an
    // image of the picture at `pixelsPerPoint`; write() then has the writer child put them all into the
    // document, written once. Both take the session's lock and may run on any thread; they throw ConvertError
    // with the reason ("Can't edit <name>: " and why when the document can't be parsed or rewritten).
    // A redacted page keeps no annotation or form field that could show again what the picture covers; it
    // stays so for every later write of the page.
    // write() with `secrets` takes exactly those out of the words the document holds besides its pages, and
    // writes even when no page changed; without, those the redaction's patterns find in them when a page is
    // redacted.
    void replacePage(int index, const QImage& picture, double pixelsPerPoint, bool redacted = false);
    void markRedacted(int index);
    void write(const std::optional<QStringList>& secrets = std::nullopt);
    // What the redaction's patterns find in the words the document holds besides its pages, as the writer child
    // reads them from the file, those of attached PDFs too; `unread` says whether an attached PDF could not be
    // read whole. Throws ConvertError as write() does.
    QStringList documentSecrets(bool* unread = nullptr);
    // Forgets replacements not yet written, so that a worker that failed halfway leaves nothing for the
    // next write to carry into the file.
    void discardEdits();
    // After a write from another thread: nothing drawn from the old file is shown again (main thread).
    void reload();

    // Page work the card starts on the worker pool; quitting waits for all of it with waitForBackground(),
    // true when it all ended within the time.
    static void background(std::function<void()> work);
    static bool waitForBackground(int timeoutMs);

    // The picture the card shows for the current page: what goes back into the document when the card leaves
    // the page, closes, or the program ends without the card (finishAll). Any thread.
    void show(const QUrl& picture);
    QUrl shown();

    // A tool of the card working on the shown page off the main thread. runStarted() on the main thread before
    // the work is queued; runEnded() on the worker when the work is done, with the picture it made (none when
    // it failed). A card closed meanwhile (finishWhenRunsEnd) has its page written by the last run to end,
    // before that run reports: runEnded() then says why the write failed, empty when it did not. Quitting waits
    // for runs as for background work.
    void runStarted();
    QString runEnded(const std::optional<QUrl>& picture);
    // The card closes: true when a run is under way and will write the page at its end; false when the caller
    // writes it now.
    bool finishWhenRunsEnd();

    // The program ends without its windows (the display went away): waits for the page work under way, at most
    // timeoutMs, then puts every open document's shown page back as its card would have. Any thread.
    static void finishAll(int timeoutMs);

    int pageCount() const;
    int index = 0;
    QUrl pdfURL;
    QUrl workDir;
    std::optional<QUrl> renderedURL;
    QDateTime renderedAt;
    double pixelsPerPoint = 2.0;
    // The clockwise turn the current page is shown by (its own /Rotate): its text reads upright turned back.
    int pageTurn = 0;
    // How long the child may take to parse and rewrite the document.
    int editTimeLimitMs = IsolatedDecode::timeLimitMs;

    // The page image's file name for a zero-based page index.
    static QString pageFileName(const QUrl& pdfURL, int index);

private:
    PDFSession() = default;
    static std::shared_ptr<PDFSession> made(const QUrl& pdfURL, int pageCount);
    // Queues a prepared page, in place of one of the same index not yet written.
    void queue(PdfRewrite::Page edit);

    int pages = 0;
    // The first page as rendered while opening, used by the first render(0) of the unchanged file.
    QImage firstPage;
    QSizeF firstPagePoints;
    int firstPageTurn = 0;
    // Pages replaced but not yet written. Guarded by `lock`, as is every write of the file and commit().
    std::vector<PdfRewrite::Page> edits;
    std::set<int> redactedPages;
    std::recursive_mutex lock;
    // Set once the file was rewritten: the first page kept from opening is then out of date.
    std::atomic<bool> rewritten = false;
    QString lastFailure;
    // Once a redacted page is in the document, no picture of it from before stays in the work folder: its
    // rendering and every picture the card showed for it, except the one it shows now.
    void forgetPictures(int page);

    // Guarded by `lock`.
    QUrl shownPicture;
    std::map<int, std::set<QString>> picturesOf;
    int runs = 0;
    bool closing = false;
};
