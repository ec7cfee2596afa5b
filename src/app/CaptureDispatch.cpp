#include "app/AppDelegate.h"

#include "capture/Capture.h"
#include "card/PDFSession.h"
#include "card/ScrollRecorder.h"
#include "card/Thumbnail.h"
#include "editors/EditStore.h"
#include "imaging/BoundedLoad.h"
#include "imaging/ImageConvert.h"
#include "imaging/ImageFormat.h"
#include "imaging/IsolatedDecode.h"
#include "library/LibraryPanel.h"
#include "platform/Dispatch.h"
#include "platform/FileOps.h"
#include "platform/Notifications.h"
#include "platform/UnnamedFile.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <memory>
#include <optional>

// What a capture request turns into: a window or screen grab, a slice, the newest screenshot, or a
// file handed to the program. Each request ends by opening at most one card.

namespace {

// Most files open well within this; a file that does not says that it is being read.
constexpr int readingHintMs = 400;

} // namespace

void AppDelegate::capture() {
    ++latestAsked;
    if (ScrollRecorder::shared().active()) {
        ScrollRecorder::finish();
        return;
    }
    const QPoint at = QCursor::pos();
    const QList<QUrl> selected = finderSelection();
    if (!selected.isEmpty()) {
        openFiles(selected);
        return;
    }
    Capture::underCursor(
        [at](const Shot& shot) {
            try {
                Thumbnail::open(shot, nullptr, at);
            } catch (const UserError& error) {
                Toast::show(error.message, at, 2.5);
            }
            // A basket on screen lists the new capture at once.
            Notifications::defaultCenter().post(LibraryPanel::changed());
        },
        // There is no permission to ask for here, so every failure is shown.
        [at](const QString& why) { Toast::show(why, at, 2.5); });
}

void AppDelegate::captureRegion() {
    ++latestAsked;
    Capture::region(
        [](std::optional<Shot> shot) {
            if (shot) {
                Thumbnail::open(*shot, nullptr, QCursor::pos());
                Notifications::defaultCenter().post(LibraryPanel::changed());
            }
        },
        [](const QString& why) { Toast::show(why, QCursor::pos(), 2.5); });
}

QList<QUrl> AppDelegate::finderSelection() {
    // The file manager's selection cannot be read here; files arrive through "Open With" instead.
    return {};
}

std::optional<QFileInfo> AppDelegate::latestShot() {
    const QDir folder(shotsFolder());
    const QFileInfoList entries = folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    std::optional<QFileInfo> best;
    QDateTime bestDate;
    for (const QFileInfo& entry : entries) {
        const auto format = ImageFormat::of(QUrl::fromLocalFile(entry.absoluteFilePath()));
        if (!format || *format == ImageFormat::pdf)
            continue;
        // Creation time where the file system keeps it; the modification time elsewhere.
        QDateTime date = entry.birthTime();
        if (!date.isValid())
            date = entry.lastModified();
        if (!date.isValid())
            continue;
        if (!best || date > bestDate) {
            best = entry;
            bestDate = date;
        }
    }
    return best;
}

void AppDelegate::showLatest() {
    const quint64 asked = ++latestAsked;
    // The folder is listed on a worker: a slow or hung disk holds up that, never the screen.
    Dispatch::global([self = QPointer<AppDelegate>(this), asked] {
        std::optional<QFileInfo> latest = latestShot();
        Dispatch::main([self, asked, latest = std::move(latest)] {
            if (self)
                self->readLatest(asked, latest);
        });
    });
}

void AppDelegate::readLatest(quint64 asked, const std::optional<QFileInfo>& latest) {
    // A later request, a capture or a file opened meanwhile is what the user wants now.
    if (asked != latestAsked)
        return;
    if (!latest) {
        Toast::show(QStringLiteral("No screenshots yet"), QCursor::pos(), 1.6);
        return;
    }
    const QUrl url = QUrl::fromLocalFile(latest->absoluteFilePath());
    QString appName = latest->completeBaseName();
    const qsizetype stamp = appName.indexOf(QStringLiteral(" 20"));
    if (stamp >= 0)
        appName.truncate(stamp);
    const auto pending = std::make_shared<bool>(true);
    const auto said = std::make_shared<Toast::Id>(0);
    QTimer::singleShot(readingHintMs, this, [name = latest->fileName(), pending, said] {
        if (*pending)
            *said = Toast::show(QStringLiteral("Reading ") + name + QStringLiteral("\u2026"), QCursor::pos(),
                                IsolatedDecode::timeLimitMs / 1000.0);
    });
    BoundedLoad::start(url, this, [this, asked, url, appName, pending, said](const IsolatedDecode::Result& result) {
        *pending = false;
        Toast::hide(*said);
        // A later request, a capture or a file opened meanwhile is what the user wants now.
        if (asked != latestAsked)
            return;
        if (!result.ok()) {
            Toast::show(BoundedLoad::refusal(url, result), QCursor::pos(), 2.5);
            return;
        }
        LibraryPanel::shared().hide();
        Thumbnail::open(Shot{url, result.image, appName, std::nullopt}, nullptr, QCursor::pos());
    });
}

namespace {

// What a look at the files handed over found: the file to open and where its copy goes, or why none opens.
struct Handed {
    QString refusal;
    QFileInfo info;
    QString folder;
    ImageFormat format = ImageFormat::png;
};

// Looks at the files on a worker: a hung network mount or a slow disk holds up this, never the screen.
Handed lookAt(const QList<QUrl>& urls) {
    Handed handed;
    QUrl source;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && ImageFormat::readAs(url)) {
            source = url;
            break;
        }
    }
    if (source.isEmpty()) {
        // Something was handed over, so say what it is rather than nothing at all.
        for (const QUrl& url : urls) {
            if (!url.isLocalFile())
                continue;
            const QFileInfo info(url.toLocalFile());
            const QString name = info.fileName().isEmpty() ? info.absoluteFilePath() : info.fileName();
            handed.refusal = QStringLiteral("Can't open ") + name +
                             (info.isDir() ? QStringLiteral(": it is a folder, not a picture or PDF")
                                           : QStringLiteral(": it is not a picture or PDF"));
            return handed;
        }
        return handed;
    }

    handed.info = QFileInfo(source.toLocalFile());
    handed.folder = AppDelegate::shotsFolder();
    handed.format = *ImageFormat::readAs(source);
    QDir().mkpath(handed.folder);
    // Staged copies left by earlier versions, which named the copy while it was being made.
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& left :
         QDir(handed.folder).entryInfoList({QStringLiteral(".opening-*")}, QDir::Files | QDir::Hidden))
        if (left.lastModified() < stale)
            QFile::remove(left.absoluteFilePath());
    if (!QFileInfo(handed.folder).isWritable())
        handed.refusal = QStringLiteral("Can't open ") + handed.info.fileName() +
                         QStringLiteral(": the screenshot folder is not writable");
    return handed;
}

// Gives the decoder's copy its name beside the other screenshots, never in place of a file: the original's name,
// else the next number free. On a file system without unnamed files this copies every byte, so it runs on a
// worker. Empty, or why the copy has no name.
QString nameCopy(const QString& source, const QString& folder, UnnamedFile& copy, QString* destination) {
    // Its own look at the source, shared with no other thread.
    const QFileInfo info(source);
    const QString ext = info.suffix();
    const QString base = info.completeBaseName();
    for (int n = 1;; ++n) {
        *destination =
            QDir(folder).filePath(n == 1 ? base + QLatin1Char('.') + ext
                                         : base + QLatin1Char(' ') + QString::number(n) + QLatin1Char('.') + ext);
        // Never replaces a file: a name taken meanwhile moves on to the next number.
        const int error = copy.link(*destination);
        if (error == 0)
            break;
        if (error != EEXIST)
            return FileOps::errorText(error);
    }
    // A copy keeps the permissions of what was opened, as a copy made by the file manager would.
    QFile::setPermissions(*destination, info.permissions());
    // An annotated picture stays annotated in its copy: annotate reopens it with its shapes editable.
    EditStore::linkCopy(QUrl::fromLocalFile(info.absoluteFilePath()), QUrl::fromLocalFile(*destination));
    return {};
}

} // namespace

void AppDelegate::openFiles(const QList<QUrl>& urls) {
    ++latestAsked;
    Dispatch::global([self = QPointer<AppDelegate>(this), urls] {
        Handed handed = lookAt(urls);
        Dispatch::main([self, handed = std::move(handed)] {
            if (self)
                self->startOpening(handed.refusal, handed.info, handed.folder, handed.format);
        });
    });
}

void AppDelegate::startOpening(const QString& refusal, const QFileInfo& info, const QString& folder,
                               ImageFormat format) {
    if (!refusal.isEmpty()) {
        Toast::show(refusal, QCursor::pos(), 2.5);
        return;
    }
    if (info.filePath().isEmpty())
        return;
    const QString name = info.fileName();
    IsolatedDecode::Job job;
    job.source = info.absoluteFilePath();
    job.pdf = format == ImageFormat::pdf;
    job.format = format;
    // The decoder writes the very bytes it decoded into a file of the folder that has no name yet; only a file
    // that decoded is given its visible name, so nothing unreadable lands among the screenshots and nothing is
    // left behind however the program ends meanwhile.
    job.copyInto = folder;
    // A file that takes long to read (a heavy PDF page, one refused only at the time limit) says so meanwhile.
    const auto pending = std::make_shared<bool>(true);
    const auto said = std::make_shared<Toast::Id>(0);
    QTimer::singleShot(readingHintMs, this, [name, pending, said, limit = job.timeLimitMs] {
        if (!*pending)
            return;
        *said =
            Toast::show(QStringLiteral("Reading ") + name + QStringLiteral("\u2026"), QCursor::pos(), limit / 1000.0);
    });
    IsolatedDecode::start(job, this, [this, info, folder, pending, said](const IsolatedDecode::Result& result) {
        *pending = false;
        Toast::hide(*said);
        finishOpening(info, folder, result);
    });
}

void AppDelegate::finishOpening(const QFileInfo& info, const QString& folder, const IsolatedDecode::Result& result) {
    const QString cantOpen = QStringLiteral("Can't open ") + info.fileName() + QStringLiteral(": ");
    if (!result.ok() || !result.copy) {
        Toast::show(cantOpen + (result.ok() ? QStringLiteral("it could not be copied into the screenshot folder")
                                            : result.failure),
                    QCursor::pos(), 2.5);
        return;
    }
    Dispatch::global([self = QPointer<AppDelegate>(this), source = info.absoluteFilePath(), info, folder, result] {
        QString destination;
        const QString failure = nameCopy(source, folder, *result.copy, &destination);
        Dispatch::main([self, info, result, failure, destination] {
            if (!self)
                return;
            if (!failure.isEmpty())
                Toast::show(QStringLiteral("Can't open ") + info.fileName() + QStringLiteral(": ") + failure,
                            QCursor::pos(), 2.5);
            else
                self->showOpened(info, result, destination);
        });
    });
}

void AppDelegate::showOpened(const QFileInfo& info, const IsolatedDecode::Result& result, const QString& destination) {
    const QString cantOpen = QStringLiteral("Can't open ") + info.fileName() + QStringLiteral(": ");
    const QString ext = info.suffix();
    const QString base = info.completeBaseName();
    const QUrl copy = QUrl::fromLocalFile(destination);
    const QString appName = base;
    LibraryPanel::shared().hide();

    if (ext.toLower() == u"pdf") {
        const auto session =
            PDFSession::adopt(copy, result.pageCount, result.image, result.pagePoints, result.pageTurn);
        if (!session) {
            Toast::show(cantOpen + QStringLiteral("it is not a readable PDF"), QCursor::pos(), 2.5);
            return;
        }
        // The first page's picture file is written on a worker: a large page takes half a second to compress.
        PDFSession::background([session, appName, cantOpen] {
            std::optional<PDFSession::Page> page;
            QString failure;
            try {
                page = session->renderPage(0);
            } catch (const UserError& error) {
                failure = error.message;
            }
            Dispatch::main([session, page, failure, appName, cantOpen] {
                if (!page) {
                    Toast::show(cantOpen + failure, QCursor::pos(), 2.5);
                    return;
                }
                const PDFSession::Rendered shown = session->accept(*page);
                Thumbnail::open(Shot{shown.url, shown.image, appName, std::nullopt}, session, QCursor::pos());
                if (session->pageCount() >= 2)
                    Toast::show(QString::number(session->pageCount()) +
                                    QStringLiteral(" pages \u00b7 use \u2039 \u203a under the picture"),
                                QCursor::pos(), 1.6);
            });
        });
        return;
    }
    Thumbnail::open(Shot{copy, result.image, appName, std::nullopt}, nullptr, QCursor::pos());
}
