// The basket's file actions on the selection: copy, share, show in the file manager, delete.

#include "library/LibraryPanel.h"

#include "card/ShareMenu.h"
#include "imaging/ImageCodec.h"
#include "imaging/ImageConvert.h"
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

namespace {

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

// The picture of a copied file as PNG: the file's own bytes when it is a PNG, else the picture encoded. Empty when
// the file is no picture that reads (damaged, gone, a pipe or a device): the file itself is copied all the same.
// Reads only regular files, without blocking, and never throws.
QByteArray pngBytes(const QUrl& url) {
    const QString path = url.toLocalFile();
    if (QFileInfo(path).suffix().toLower() == u"png") {
        QByteArray bytes;
        if (ImageCodec::readFile(path, &bytes) && !ImageCodec::decode(bytes).isNull())
            return bytes;
        return {};
    }
    QImage image;
    try {
        image = ImageConvert::load(url);
    } catch (const ConvertError&) {
        return {};
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
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
    if (urls.size() == 1) {
        const QByteArray png = pngBytes(urls.first());
        if (!png.isEmpty())
            data->setData(QStringLiteral("image/png"), png);
    }
    copyAndSay(data, this,
               urls.size() == 1 ? QStringLiteral("Copied")
                                : QStringLiteral("Copied ") + QString::number(urls.size()) + QStringLiteral(" files"));
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
            if (!self)
                return;
            QImage image;
            try {
                image = ImageConvert::load(url);
            } catch (const ConvertError& error) {
                self->toast(error.message);
                return;
            }
            auto* data = new QMimeData;
            data->setImageData(image);
            copyAndSay(data, self, QStringLiteral("Copied"));
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
