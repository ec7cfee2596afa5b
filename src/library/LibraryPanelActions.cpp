// The basket's file actions on the selection: copy, share, show in the file manager, delete.

#include "library/LibraryPanel.h"

#include "card/ShareMenu.h"
#include "imaging/BoundedLoad.h"
#include "library/ShotGrid.h"
#include "platform/ClipboardOwner.h"
#include "platform/DesktopHelper.h"
#include "platform/FileManager.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

namespace {

// Most pictures are ready well within this; one that is not says that it is being read.
constexpr int readingHintMs = 400;

// Files as a file manager pastes them: a URI list and the GNOME copy marker, with no text.
QMimeData* fileData(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    QByteArray uris;
    QByteArray gnome = "copy";
    for (const QUrl& url : urls) {
        uris += url.toEncoded() + "\r\n";
        gnome += '\n' + url.toEncoded();
    }
    data->setData(QStringLiteral("text/uri-list"), uris);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    return data;
}

// Each copy marks what it puts on the clipboard, so that its picture, made later, joins that copy alone.
const char* const copyMark = "pictolarium.copy";
quint64 copies = 0;

// What reads the latest copy's picture. A newer copy ends the work of the one before, whose picture could join
// nothing any more: a burst of copies would otherwise run a decoder for each at once.
QPointer<QObject> copyWork;

QObject* newCopyWork(QObject* panel) {
    delete copyWork.data();
    copyWork = new QObject(panel);
    return copyWork;
}

// The data of our copy `mark` while it is on the clipboard. The clipboard keeps the object it was handed (or
// the one a refused put retried with, which carries the same mark), and every later request of another program
// reads its formats afresh, so a format added to it is offered from then on.
QMimeData* onClipboard(quint64 mark) {
    if (ClipboardOwner::holder() != ClipboardOwner::Holder::us)
        return nullptr;
    const QMimeData* held = QGuiApplication::clipboard()->mimeData();
    return held && held->property(copyMark).toULongLong() == mark ? const_cast<QMimeData*>(held) : nullptr;
}

// The picture of the copy `mark`, made after the file was copied, from what the decoder's limits let through: a
// PNG file's own bytes, any other picture encoded as PNG. Nothing of it runs on the thread that answers the user,
// and nothing joins a copy that is no longer on the clipboard. A picture refused as too large leaves the file
// copied alone, and the basket says so.
void completePicture(LibraryPanel* panel, quint64 mark, const QUrl& url) {
    const auto made = [panel, mark, url](const IsolatedDecode::Result& result) {
        if (!onClipboard(mark))
            return;
        if (!result.ok()) {
            if (result.tooLarge)
                panel->toast(QStringLiteral("Copied the file; the picture is too large to copy"));
            return;
        }
        BoundedLoad::offeredPng(url.toLocalFile(), result.image, panel, [mark](const QByteArray& png) {
            if (QMimeData* data = onClipboard(mark); data && !png.isEmpty())
                data->setData(QStringLiteral("image/png"), png);
        });
    };
    BoundedLoad::start(url, newCopyWork(panel), made, BoundedLoad::copyPixelLimit);
}

// Puts the data on the clipboard and says how that went. Another program may hold on to the clipboard: then
// nothing was copied, and saying "Copied" would be a lie.
void copyAndSay(QMimeData* data, LibraryPanel* panel, const QString& copiedText) {
    QPointer<LibraryPanel> self(panel);
    ClipboardOwner::put(data, panel, [self, copiedText](ClipboardOwner::Holder holder) {
        if (!self)
            return;
        switch (holder) {
        case ClipboardOwner::Holder::us:
            self->toast(copiedText);
            break;
        case ClipboardOwner::Holder::another:
            self->toast(QStringLiteral("Couldn't copy: another program kept the clipboard"));
            break;
        case ClipboardOwner::Holder::nobody:
            self->toast(QStringLiteral("Couldn't copy: the display refused the clipboard"));
            break;
        }
    });
}

} // namespace

void LibraryPanel::copySelected() {
    const QList<QUrl> urls = targetFiles();
    if (urls.isEmpty())
        return;
    QMimeData* data = fileData(urls);
    const quint64 mark = ++copies;
    data->setProperty(copyMark, mark);
    // The file is copied at once, without reading it; its picture follows once it is ready.
    copyAndSay(data, this,
               urls.size() == 1 ? QStringLiteral("Copied")
                                : QStringLiteral("Copied ") + QString::number(urls.size()) + QStringLiteral(" files"));
    if (urls.size() == 1)
        completePicture(this, mark, urls.first());
    else
        delete copyWork.data();
}

void LibraryPanel::shareSelected(QWidget* sender) {
    const QList<QUrl> urls = targetFiles();
    if (urls.isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<LibraryPanel> self(this);
    menu->addAction(urls.size() == 1 ? QStringLiteral("Copy File") : QStringLiteral("Copy Files"), this, [self, urls] {
        if (!self)
            return;
        copyAndSay(fileData(urls), self, QStringLiteral("Copied"));
    });
    if (urls.size() == 1) {
        menu->addAction(QStringLiteral("Copy Image"), this, [self, url = urls.first()] {
            if (self)
                self->copyImage(url);
        });
    }
    menu->addAction(QStringLiteral("Open With Default App"), this, [self, urls] {
        for (const QUrl& url : urls)
            if (self)
                self->openWithDefaultApp(url.toLocalFile());
    });
    menu->addAction(QStringLiteral("Email\u2026"), this, [self, urls] {
        QStringList arguments;
        for (const QUrl& url : urls)
            arguments << QStringLiteral("--attach") << url.toLocalFile();
        const bool started = DesktopHelper::start(QStringLiteral("xdg-email"), arguments, [self](int status) {
            if (self)
                self->toast(ShareMenu::emailFailure(status));
        });
        if (!started && self)
            self->toast(QStringLiteral("No e-mail program is set up"));
    });
    menu->addAction(QStringLiteral("Show in Files"), this, [self] {
        if (self)
            self->revealSelected();
    });
    const QPoint at = sender ? sender->mapToGlobal(QPoint(0, sender->height() + 4)) : QCursor::pos();
    menu->popup(at);
}

void LibraryPanel::copyImage(const QUrl& url) {
    // Only the picture is asked for here: nothing goes on the clipboard before it is ready, and a copy made
    // meanwhile (here or in another program) is the one that stays.
    const quint64 changes = ClipboardOwner::changes();
    const quint64 mark = ++copies;
    QPointer<LibraryPanel> self(this);
    const auto pending = std::make_shared<bool>(true);
    QTimer::singleShot(readingHintMs, this, [self, url, pending, mark] {
        if (*pending && self && mark == copies)
            self->toast(QStringLiteral("Reading ") + url.fileName() + QStringLiteral("\u2026"));
    });
    const auto stale = [changes, mark] { return mark != copies || ClipboardOwner::changes() != changes; };
    const auto put = [self, mark](const QByteArray& png) {
        auto* data = new QMimeData;
        data->setProperty(copyMark, mark);
        data->setData(QStringLiteral("image/png"), png);
        copyAndSay(data, self, QStringLiteral("Copied"));
    };
    const auto made = [self, url, pending, stale, put](const IsolatedDecode::Result& result) {
        *pending = false;
        if (!self || stale())
            return;
        if (!result.ok()) {
            self->toast(BoundedLoad::refusal(url, result));
            return;
        }
        BoundedLoad::offeredPng(url.toLocalFile(), result.image, self, [self, stale, put](const QByteArray& png) {
            if (!self || stale())
                return;
            if (png.isEmpty())
                self->toast(QStringLiteral("Couldn't copy the picture"));
            else
                put(png);
        });
    };
    BoundedLoad::start(url, newCopyWork(this), made, BoundedLoad::copyPixelLimit);
}

void LibraryPanel::revealSelected() {
    const QStringList chosen = selectedURLs();
    bool shown = true;
    if (chosen.isEmpty()) {
        const QString folder = files->shotsFolder();
        shown = services.showFolder ? services.showFolder(folder) : FileManager::showFolder(folder);
    } else {
        // One window a folder: the file manager shows the first chosen file of each.
        QSet<QString> folders;
        for (const QString& file : chosen) {
            const QString folder = QFileInfo(file).absolutePath();
            if (folders.contains(folder))
                continue;
            folders.insert(folder);
            shown = (services.reveal ? services.reveal(file) : FileManager::showItem(file)) && shown;
        }
    }
    if (!shown)
        toast(QStringLiteral("Couldn't open the file manager"));
}

void LibraryPanel::deleteSelected() {
    const QStringList chosen = selectedURLs();
    if (chosen.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QStringList moved;
    QString firstFailure;
    for (const QString& file : chosen) {
        const Trash::Result result = services.trash ? services.trash(file) : Trash::moveToTrash(file);
        if (!result.ok()) {
            if (firstFailure.isEmpty())
                firstFailure = QFileInfo(file).fileName() + QStringLiteral(": ") + result.error;
            continue;
        }
        moved.append(file);
        files->thumbCache.remove(file);
    }
    QApplication::restoreOverrideCursor();
    for (const QString& file : std::as_const(moved))
        files->items.removeAll(file);
    QStringList message;
    if (!moved.isEmpty())
        message.append(chosen.size() == 1 ? QStringLiteral("Moved to Trash")
                                          : QString::number(moved.size()) + QStringLiteral(" moved to Trash"));
    if (!firstFailure.isEmpty())
        message.append(firstFailure);
    toast(message.join(QStringLiteral(" \u00B7 ")));
    reload();
}

void LibraryPanel::openWithDefaultApp(const QString& file) {
    QPointer<LibraryPanel> self(this);
    if (services.openUrl) {
        if (!services.openUrl(QUrl::fromLocalFile(file)))
            toast(QStringLiteral("Couldn't open ") + QFileInfo(file).fileName());
        return;
    }
    // The helper may start and then give up (nothing opens this kind of file): that is told when it ends.
    switch (DesktopHelper::openFile(file, [self, file](int status) {
        if (self)
            self->toast(ShareMenu::openFailure(status, file));
    })) {
    case DesktopHelper::Opened::started:
        break;
    case DesktopHelper::Opened::noApplication:
        toast(ShareMenu::openFailure(3, file));
        break;
    case DesktopHelper::Opened::notStarted:
        toast(QStringLiteral("Couldn't open ") + QFileInfo(file).fileName());
        break;
    }
}
