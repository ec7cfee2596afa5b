// The basket's tiles: thumbnails rendered on the thread pool and cached, the selection read out
// in grid order, new files put first, and the grid's requests wired to the panel's actions.

#include "library/LibraryPanel.h"

#include "imaging/ImageCodec.h"
#include "imaging/ImageConvert.h"
#include "imaging/ImageFormat.h"
#include "imaging/IsolatedDecode.h"
#include "library/ShotGrid.h"
#include "platform/Memory.h"
#include "ui/Toast.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>

namespace {

// The pixels all threads together may hold at full size while decoding, in blocks of 64 K pixels: a picture
// over the whole budget (or of unknown size) decodes alone, and two 4K HEIC files at most decode at once. PNG
// and JPEG are read reduced and take little of it.
constexpr qint64 pixelBlock = 64 * 1024;
constexpr int decodeBudgetBlocks = 256;

QSemaphore& decodeBudget() {
    static QSemaphore budget(decodeBudgetBlocks);
    return budget;
}

} // namespace

QImage LibraryPanel::renderThumbnail(const QString& file, int maxPixels) {
    const QUrl url = QUrl::fromLocalFile(file);
    if (ImageFormat::of(url) == ImageFormat::pdf)
        return ImageConvert::thumbnail(url, maxPixels);
    // Read without blocking and from a regular file only: a listed name that has become a pipe would otherwise
    // hold this thread for good. Its start first: what it does not tell to be a picture that fits is not read on.
    QByteArray bytes;
    qint64 size = 0;
    if (!ImageCodec::readHead(file, ImageCodec::headLength, &bytes, &size) || !ImageCodec::recognizes(bytes))
        return {};
    // HEIC included: its size comes from its boxes, which the image reader can't read.
    const auto tooLarge = [](QSize claimed) {
        return claimed.isValid() && qint64(claimed.width()) * claimed.height() > IsolatedDecode::thumbnailPixelLimit;
    };
    if (tooLarge(ImageCodec::pictureSize(bytes)))
        return {};
    // A large file is read and reduced in the decoding child: four tiles of gigabyte files at once must not
    // hold gigabytes here. The child holds the whole file, so one such decodes alone, or a folder of them would
    // hold gigabytes all the same, in children.
    if (size > ImageConvert::thumbnailReadHereLimit) {
        decodeBudget().acquire(decodeBudgetBlocks);
        const QSemaphoreReleaser release(decodeBudget(), decodeBudgetBlocks);
        IsolatedDecode::Job job;
        job.source = file;
        job.thumbnail = maxPixels;
        return IsolatedDecode::run(job).image;
    }
    if (size > bytes.size() && !ImageCodec::readFile(file, &bytes))
        return {};
    if (tooLarge(ImageCodec::pictureSize(bytes)))
        return {};
    const qint64 held = ImageCodec::thumbnailDecodePixels(bytes, maxPixels);
    const int blocks = held <= 0 ? decodeBudgetBlocks
                                 : int(std::min<qint64>(decodeBudgetBlocks, (held + pixelBlock - 1) / pixelBlock));
    decodeBudget().acquire(blocks);
    const QSemaphoreReleaser release(decodeBudget(), blocks);
    return ImageCodec::decodeThumbnail(bytes, maxPixels);
}

void LibraryPanel::traceLine(const QString& line) {
    static const bool on = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    if (on)
        std::fprintf(stderr, "basket: %s\n", qPrintable(line));
}

QThreadPool& LibraryPanel::thumbQueue() {
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setObjectName(QStringLiteral("picto.thumbs"));
        made->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, 4));
        return made;
    }();
    return *pool;
}

QImage LibraryPanel::thumbnailFor(const QString& file) {
    // A file new since the last look plays its arrival the first time its tile is drawn.
    if (files->fresh.remove(file))
        collection->sparkle(file);
    if (files->thumbCache.contains(file))
        return files->thumbCache.value(file);
    if (files->thumbCache.failedUnchanged(file))
        return {};
    startThumbnail(file);
    return {};
}

void LibraryPanel::startThumbnail(const QString& file) {
    if (thumbsLoading.contains(file))
        return;
    thumbsLoading.insert(file);
    QPointer<LibraryPanel> self(this);
    thumbQueue().start([self, file] {
        const QImage image = renderThumbnail(file, thumbPixels);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, file, image] {
                if (self)
                    self->takeThumbnail(file, image);
            },
            Qt::QueuedConnection);
    });
}

void LibraryPanel::takeThumbnail(const QString& file, const QImage& image) {
    thumbsLoading.remove(file);
    if (!image.isNull())
        files->thumbCache.insert(file, image);
    else
        files->thumbCache.markFailed(file);
    traceLine(
        QStringLiteral("thumbnail: ") + QFileInfo(file).fileName() +
        (image.isNull() ? QStringLiteral(" none") : QStringLiteral(" %1x%2").arg(image.width()).arg(image.height())));
    // The tile found by the file's place now, so a tile reused for another file is never touched.
    // Without a picture the tile stays bare until the file changes.
    if (!image.isNull())
        collection->refreshFile(file);
}

void LibraryPanel::releaseThumbnails() {
    // What the next show draws first stays: the tiles of one grid height, counted from the top, plus a row.
    const QSize tile = collection->tileSize();
    const int columns = columnsFor(width());
    const int rows = tile.height() > 0 ? collection->viewport()->height() / (tile.height() + ShotGrid::spacing) + 2 : 4;
    const qsizetype kept = std::min<qsizetype>(files->items.size(), qsizetype(columns) * rows);
    const QStringList first = files->items.mid(0, kept);
    files->thumbCache.retainOnly(QSet<QString>(first.begin(), first.end()));
    // The freed pictures are many small blocks: without a trim the heap keeps them from the system.
    Memory::giveBack();
    traceLine(QStringLiteral("thumbnails kept: %1").arg(files->thumbCache.size()));
}

QStringList LibraryPanel::selectedURLs() const {
    QStringList chosen;
    for (int row : collection->selectedRows())
        if (row < files->items.size())
            chosen.append(files->items.at(row));
    return chosen;
}

void LibraryPanel::insertNew(const QStringList& newFiles) {
    QStringList added;
    for (const QString& file : newFiles)
        if (!files->items.contains(file) && !added.contains(file))
            added.append(file);
    if (added.isEmpty())
        return;
    files->items = added + files->items;
    if (files->showingRecent)
        files->recentCache = files->items;
    for (const QString& file : std::as_const(added)) {
        files->fresh.insert(file);
        files->known.insert(file);
    }
    collection->setItems(files->items);
    emptyView->hide();
}

void LibraryPanel::selectFiles(const QStringList& chosen) {
    QList<int> rows;
    for (const QString& file : chosen) {
        const int row = int(files->items.indexOf(file));
        if (row >= 0)
            rows.append(row);
    }
    collection->selectRows(rows);
    updateCount();
}

QList<QUrl> LibraryPanel::targetFiles() const {
    QStringList chosen = selectedURLs();
    if (chosen.isEmpty() && !files->items.isEmpty())
        chosen.append(files->items.first());
    QList<QUrl> urls;
    for (const QString& file : std::as_const(chosen))
        urls.append(QUrl::fromLocalFile(file));
    return urls;
}

void LibraryPanel::toast(const QString& text) {
    const QRect frame = geometry();
    traceLine(QStringLiteral("toast: ") + text);
    Toast::show(text, QPoint(frame.center().x(), frame.bottom() + 1 - 24), 1.6);
}

void LibraryPanel::wireTiles() {
    QPointer<LibraryPanel> self(this);
    collection->thumbnail = [self](const QString& file) { return self ? self->thumbnailFor(file) : QImage(); };
    connect(collection, &ShotGrid::selectionCleared, this, &LibraryPanel::updateCount);
    connect(collection, &ShotGrid::openRequested, this, &LibraryPanel::openCard);
    connect(collection, &ShotGrid::renameRequested, this, &LibraryPanel::rename);
    connect(collection, &ShotGrid::formatRequested, this, &LibraryPanel::formatMenu);
}
