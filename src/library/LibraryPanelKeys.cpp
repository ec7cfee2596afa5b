// The basket's keys, its preview, renaming a file beside its tile and opening one as a card.

#include "library/LibraryPanel.h"

#include "card/RedactMarks.h"
#include "card/RenamePanel.h"
#include "card/Thumbnail.h"
#include "imaging/BoundedLoad.h"
#include "library/PreviewPanel.h"
#include "library/ShotGrid.h"
#include "library/ShotItem.h"
#include "platform/FileOps.h"
#include "ui/KeyRoute.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>

#include <cerrno>

void LibraryPanel::rename(const QString& file, const QRect& tile) {
    const QRect anchor = tile.isValid() ? tile : geometry();
    QPointer<LibraryPanel> self(this);
    // Centred under the tile, the box's bottom 48 px below the tile's (the box stands 12 px above its point).
    RenamePanel::show(ShotItem::displayName(file), QPoint(anchor.center().x(), anchor.bottom() + 1 + 48 + 12),
                      [self, file](const QString& name) {
                          if (self)
                              self->commitRename(file, name);
                      });
    // The keys come back to the basket once the box is gone, whichever way it went.
    if (RenamePanel* box = RenamePanel::current())
        connect(box, &QObject::destroyed, this, [self] {
            if (self && self->isVisible())
                KeyRoute::takeKeys(self);
        });
}

std::optional<QString> LibraryPanel::commitRename(const QString& file, const QString& name) {
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    const QString ext = info.suffix();
    auto destination = [&](int n) {
        const QString base = n < 2 ? name : name + u' ' + QString::number(n);
        return QDir(folder).filePath(ext.isEmpty() ? base : base + u'.' + ext);
    };
    int n = 1;
    QString target = destination(n);
    while (QFileInfo::exists(target) || target == info.absoluteFilePath())
        target = destination(n = std::max(2, n + 1));
    int error = FileOps::renameNoReplace(file, target);
    // Taken between the look and the move: the next number, a bounded number of times.
    for (int tries = 0; error == EEXIST && tries < 100; ++tries) {
        target = destination(n = std::max(2, n + 1));
        error = FileOps::renameNoReplace(file, target);
    }
    if (error != 0) {
        toast(QStringLiteral("Couldn't rename ") + info.fileName() + QStringLiteral(": ") + FileOps::errorText(error));
        return std::nullopt;
    }
    if (files->thumbCache.contains(file))
        files->thumbCache.insert(target, files->thumbCache.value(file));
    else
        files->thumbCache.remove(target);
    files->known.insert(target);
    RedactMarks::moved(QUrl::fromLocalFile(file), QUrl::fromLocalFile(target));
    reload();
    return target;
}

void LibraryPanel::openCard(const QString& file) {
    // Read as an opened file is, while the basket goes on answering; only the last file asked for opens, and
    // only while the basket is still up to open it from.
    const quint64 asked = ++cardsAsked;
    QPointer<LibraryPanel> self(this);
    const QUrl url = QUrl::fromLocalFile(file);
    BoundedLoad::start(url, this, [self, asked, url, file](const IsolatedDecode::Result& result) {
        if (!self || asked != self->cardsAsked || !self->isVisible())
            return;
        if (!result.ok()) {
            self->toast(BoundedLoad::refusal(url, result));
            return;
        }
        // The name ahead of a capture date: "Screen 2025-01-02 at 10.00.00" is Screen's.
        QString app = ShotItem::displayName(file);
        const qsizetype date = app.indexOf(QStringLiteral(" 20"));
        if (date >= 0)
            app = app.left(date);
        self->hide();
        Thumbnail::open(Shot{url, result.image, app, std::nullopt}, nullptr, QCursor::pos());
    });
}

void LibraryPanel::escape() {
    if (!collection->selectedRows().isEmpty()) {
        collection->clearSelection();
        updateCount();
        return;
    }
    hide();
}

void LibraryPanel::openPreview() {
    QStringList chosen = selectedURLs();
    if (chosen.isEmpty() && !files->items.isEmpty())
        chosen.append(files->items.first());
    previewURLs = chosen;
    if (chosen.isEmpty())
        return;
    if (!preview)
        preview = new PreviewPanel(this);
    preview->showFiles(previewURLs);
    traceLine(QStringLiteral("preview: ") + preview->caption());
}

bool LibraryPanel::handleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers keys = event->modifiers() & ~Qt::KeypadModifier;
    if (keys & Qt::ControlModifier) {
        switch (event->key()) {
        case Qt::Key_A:
            if (keys & Qt::ShiftModifier)
                collection->clearSelection();
            else
                collection->selectAll();
            updateCount();
            return true;
        case Qt::Key_D:
            collection->clearSelection();
            updateCount();
            return true;
        case Qt::Key_C:
            copySelected();
            return true;
        case Qt::Key_W:
            hide();
            return true;
        default:
            return false;
        }
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QStringList chosen = selectedURLs();
        if (!chosen.isEmpty())
            openWithDefaultApp(chosen.first());
        return true;
    }
    case Qt::Key_Space:
        openPreview();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        deleteSelected();
        return true;
    case Qt::Key_Escape:
        escape();
        return true;
    default:
        return false;
    }
}
