#include "card/PDFSession.h"

#include "editors/EditStore.h"

#include "imaging/ChildProcesses.h"
#include "imaging/ImageConvert.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/NewFiles.h"
#include "imaging/PdfRewrite.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"
#include "platform/Dispatch.h"
#include "platform/FileWrites.h"
#include "text/Redaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>

namespace {

QString fileName(const QUrl& url) {
    return QFileInfo(url.toLocalFile()).fileName();
}

// Work queued by background() and not yet done, for quitting.
struct Pending {
    std::mutex mutex;
    std::condition_variable idle;
    int count = 0;
};

Pending& pending() {
    static Pending state;
    return state;
}

void pendingStarted() {
    std::lock_guard guard(pending().mutex);
    ++pending().count;
}

void pendingEnded() {
    std::lock_guard guard(pending().mutex);
    if (--pending().count == 0)
        pending().idle.notify_all();
}

// Every session alive, for an end without windows: no card is left to close then.
struct Open {
    std::mutex mutex;
    std::vector<std::weak_ptr<PDFSession>> sessions;
};

Open& openSessions() {
    static Open state;
    return state;
}

// What the redaction's patterns find in the words the document holds besides its pages: its details, notes,
// fields, outline and the rest go through the same search as each page's lines.
QStringList secretsIn(const QStringList& strings) {
    QStringList found;
    for (const QString& text : strings)
        for (const QRegularExpression& pattern : TextVision::sensitivePatterns())
            for (auto matches = pattern.globalMatch(text); matches.hasNext();)
                if (const QString match = matches.next().captured(0); !match.isEmpty() && !found.contains(match))
                    found.append(match);
    return found;
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
    std::lock_guard guard(openSessions().mutex);
    auto& sessions = openSessions().sessions;
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(), [](const auto& s) { return s.expired(); }),
                   sessions.end());
    sessions.push_back(session);
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
    return adopt(pdfURL, first.pageCount, first.image, first.pagePoints, first.pageTurn);
}

std::shared_ptr<PDFSession> PDFSession::adopt(const QUrl& pdfURL, int pageCount, const QImage& firstPage,
                                              QSizeF firstPagePoints, int firstPageTurn) {
    if (!pdfURL.isLocalFile() || pageCount < 1)
        return nullptr;
    auto session = made(pdfURL, pageCount);
    session->firstPage = firstPage;
    session->firstPagePoints = firstPagePoints;
    session->firstPageTurn = firstPageTurn;
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
                        int pageCount, int turn) {
    const QUrl file = QUrl::fromLocalFile(QDir(workDir.toLocalFile()).filePath(PDFSession::pageFileName(pdfURL, page)));
    ShotFiles::write(bitmap, file);
    return {page, file, bitmap, bitmap.width() / std::max(points.width(), 1.0), pageCount, turn};
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
    return accept(renderPage(page));
}

PDFSession::Page PDFSession::renderPage(int page) {
    if (page < 0 || page >= pages)
        throw ConvertError(QStringLiteral("No such page"));
    if (page == 0 && !firstPage.isNull() && !rewritten) {
        const QImage bitmap = std::exchange(firstPage, QImage());
        return placed(pdfURL, workDir, page, bitmap, firstPagePoints, pages, firstPageTurn);
    }
    return renderFile(pdfURL, workDir, page);
}

PDFSession::Page PDFSession::renderFile(const QUrl& pdfURL, const QUrl& workDir, int page) {
    if (page < 0)
        throw ConvertError(QStringLiteral("No such page"));
    const IsolatedDecode::Result result = drawn(pdfURL, page);
    return placed(pdfURL, workDir, page, result.image, result.pagePoints, result.pageCount, result.pageTurn);
}

PDFSession::Bitmap PDFSession::renderBitmap(const QUrl& pdfURL, int page) {
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    job.page = page;
    job.text = true;
    const IsolatedDecode::Result result = IsolatedDecode::run(job);
    return {result.image, result.image.width() / std::max(result.pagePoints.width(), 1.0), result.failure,
            result.pageTurn, result.pageText};
}

std::vector<QRectF> PDFSession::textBoxes(const QUrl& pdfURL, int page, const std::vector<std::pair<int, int>>& ranges,
                                          QSize* pixels, QString* failure) {
    IsolatedDecode::Job job;
    job.source = pdfURL.toLocalFile();
    job.pdf = true;
    job.page = page;
    job.textRanges = ranges;
    const IsolatedDecode::Result result = IsolatedDecode::run(job);
    *pixels = result.image.size();
    *failure = result.failure;
    return result.textBoxes;
}

PDFSession::Rendered PDFSession::accept(const Page& page) {
    index = page.index;
    renderedURL = page.url;
    renderedAt = QDateTime::currentDateTime();
    pixelsPerPoint = page.pixelsPerPoint;
    pageTurn = page.turn;
    if (page.pageCount > 0)
        pages = page.pageCount;
    show(page.url);
    return {page.url, page.image};
}

bool PDFSession::commit(const QUrl& from) {
    std::lock_guard guard(lock);
    lastFailure.clear();
    show(from);
    if (!renderedURL)
        return false;
    const QFileInfo info(from.toLocalFile());
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime::fromMSecsSinceEpoch(0);
    if (from == *renderedURL && modified <= renderedAt)
        return false;
    try {
        // A PNG of plain RGB rows goes in as it is: nothing to decode or compress again.
        if (std::optional<PdfRewrite::Page> page = PdfRewrite::pngPage(index, from.toLocalFile(), pixelsPerPoint))
            queue(std::move(*page));
        else
            replacePage(index, ImageConvert::load(from), pixelsPerPoint);
        write();
    } catch (const UserError& error) {
        lastFailure = error.message;
        return false;
    }
    renderedURL = from;
    renderedAt = QDateTime::currentDateTime();
    return true;
}

void PDFSession::replacePage(int page, const QImage& picture, double ppp, bool redacted) {
    if (picture.isNull())
        throw ConvertError(QStringLiteral("Can't draw"));
    if (page < 0)
        throw ConvertError(QStringLiteral("No such page"));
    if (redacted)
        markRedacted(page);
    // Compressed before the lock is taken: another thread's write need not wait for it.
    queue(PdfRewrite::page(page, picture, ppp));
}

void PDFSession::markRedacted(int page) {
    std::lock_guard guard(lock);
    redactedPages.insert(page);
}

void PDFSession::queue(PdfRewrite::Page edit) {
    std::lock_guard guard(lock);
    const int page = edit.index;
    edit.redacted = edit.redacted || redactedPages.count(page);
    const auto same = std::find_if(edits.begin(), edits.end(), [page](const auto& e) { return e.index == page; });
    if (same != edits.end())
        *same = std::move(edit);
    else
        edits.push_back(std::move(edit));
}

QStringList PDFSession::documentSecrets(bool* unread) {
    QString why;
    const std::optional<QStringList> strings = PdfRewrite::strings(pdfURL.toLocalFile(), editTimeLimitMs, &why, unread);
    if (!strings)
        throw ConvertError(QStringLiteral("Can't edit ") + fileName(pdfURL) + QStringLiteral(": ") + why);
    return secretsIn(*strings);
}

void PDFSession::write(const std::optional<QStringList>& given) {
    std::lock_guard guard(lock);
    // Written or not, these edits are done with: a failed write carries nothing into the next one.
    const std::vector<PdfRewrite::Page> pages = std::exchange(edits, {});
    if (pages.empty() && (!given || given->isEmpty()))
        return;
    const QString target = pdfURL.toLocalFile();
    const QString cantEdit = QStringLiteral("Can't edit ") + fileName(pdfURL) + QStringLiteral(": ");
    const QFileInfo info(target);
    // A document we may no longer read can't be rewritten, and saying it is damaged would be wrong.
    if (info.exists() && !info.isReadable())
        throw ConvertError(cantEdit + ChildProcesses::notOpened(EACCES, target));
    // The rename would replace a file the user may not change: a read-only PDF stays as it is, also for
    // a user whom the system would let write it.
    const QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite)))
        throw ConvertError(NewFiles::cantWrite(fileName(pdfURL), EACCES));
    // The new document has no name until it is whole: an end meanwhile leaves only the old one.
    NewFiles::Pending temp(target);
    if (!temp.ok())
        throw ConvertError(temp.refused() ? FileWrites::endingText()
                                          : NewFiles::cantWrite(fileName(pdfURL), temp.lastError()));
    // The document is parsed and written by the writer child, under its limits: a file with millions of
    // objects or streams that inflate to gigabytes is refused instead of holding the program.
    // A redaction also takes what it finds out of the document's title, metadata and outline.
    QStringList secrets = given.value_or(QStringList());
    if (!given && std::any_of(pages.begin(), pages.end(), [](const PdfRewrite::Page& page) { return page.redacted; }))
        secrets = documentSecrets();
    const PdfRewrite::Result result = PdfRewrite::write(target, pages, temp.fd(), editTimeLimitMs, secrets);
    if (!result.written)
        throw ConvertError(cantEdit + result.failure);
    // The file takes the old one's place at once, with its mode: readers see the old document or the new one.
    if (const int error = temp.placeOver(target); error != 0)
        throw ConvertError(NewFiles::cantWrite(fileName(pdfURL), error));
    rewritten = true;
    // A redacted page's earlier rendering would still show what the document no longer holds. The picture the
    // card shows stays: it is the redacted one, or one the user chose to show again.
    for (const PdfRewrite::Page& page : pages)
        if (page.redacted)
            forgetPictures(page.index);
}

void PDFSession::forgetPictures(int page) {
    const QDir folder(workDir.toLocalFile());
    std::set<QString> made = std::exchange(picturesOf[page], {});
    made.insert(folder.filePath(pageFileName(pdfURL, page)));
    const QString shownPath = shownPicture.toLocalFile();
    for (const QString& path : made) {
        // Only what the work folder holds: a picture renamed or moved elsewhere is the user's.
        if (path == shownPath || QFileInfo(path).absolutePath() != folder.absolutePath())
            picturesOf[page].insert(path);
        else {
            EditStore::forget(QUrl::fromLocalFile(path));
            QFile::remove(path);
        }
    }
}

void PDFSession::discardEdits() {
    std::lock_guard guard(lock);
    edits.clear();
}

void PDFSession::reload() {
    // Pages are drawn from the file each time; only the first page kept from opening would show the old one.
    firstPage = QImage();
}

void PDFSession::background(std::function<void()> work) {
    pendingStarted();
    Dispatch::global([work = std::move(work)] {
        try {
            work();
        } catch (...) {
        }
        pendingEnded();
    });
}

bool PDFSession::waitForBackground(int timeoutMs) {
    std::unique_lock guard(pending().mutex);
    return pending().idle.wait_for(guard, std::chrono::milliseconds(timeoutMs), [] { return pending().count == 0; });
}

void PDFSession::show(const QUrl& picture) {
    std::lock_guard guard(lock);
    shownPicture = picture;
    picturesOf[index].insert(picture.toLocalFile());
}

QUrl PDFSession::shown() {
    std::lock_guard guard(lock);
    return shownPicture;
}

void PDFSession::runStarted() {
    pendingStarted();
    std::lock_guard guard(lock);
    ++runs;
}

QString PDFSession::runEnded(const std::optional<QUrl>& picture) {
    QString failure;
    {
        std::lock_guard guard(lock);
        if (picture)
            show(*picture);
        if (--runs == 0 && std::exchange(closing, false) && !commit(shownPicture))
            failure = lastFailure;
    }
    pendingEnded();
    return failure;
}

bool PDFSession::finishWhenRunsEnd() {
    std::lock_guard guard(lock);
    if (runs == 0)
        return false;
    closing = true;
    return true;
}

void PDFSession::finishAll(int timeoutMs) {
    waitForBackground(timeoutMs);
    std::vector<std::shared_ptr<PDFSession>> alive;
    {
        std::lock_guard guard(openSessions().mutex);
        for (const auto& weak : openSessions().sessions)
            if (std::shared_ptr<PDFSession> session = weak.lock())
                alive.push_back(std::move(session));
    }
    for (const auto& session : alive) {
        // Each write is bounded by the writer's own limit, and leaves the old document whole when it fails.
        if (!session->commit(session->shown()) && !session->failure().isEmpty())
            std::fprintf(stderr, "pictolarium: %s\n", qPrintable(session->failure()));
    }
}
