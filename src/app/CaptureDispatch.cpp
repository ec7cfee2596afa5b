#include "app/AppDelegate.h"

#include "capture/Capture.h"
#include "card/PDFSession.h"
#include "card/ScrollRecorder.h"
#include "card/Thumbnail.h"
#include "imaging/ImageConvert.h"
#include "imaging/ImageFormat.h"
#include "library/LibraryPanel.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

// What a capture request turns into: a window or screen grab, a slice, the newest screenshot, or a
// file handed to the program. Each request ends by opening at most one card.

void AppDelegate::capture() {
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
    try {
        const auto window = Capture::windowUnderCursor();
        const Shot shot = window ? Capture::capture(*window) : Capture::screenUnderCursor();
        Thumbnail::open(shot, nullptr, at);
    } catch (const UserError& error) {
        // There is no permission to ask for here, so every failure is shown.
        Toast::show(error.message, at, 2.5);
    }
}

void AppDelegate::captureRegion() {
    Capture::region(
        [](std::optional<Shot> shot) {
            if (shot)
                Thumbnail::open(*shot, nullptr, QCursor::pos());
        },
        [](const QString& why) { Toast::show(why, QCursor::pos(), 2.5); });
}

QList<QUrl> AppDelegate::finderSelection() {
    // The file manager's selection cannot be read here; files arrive through "Open With" instead.
    return {};
}

std::optional<Shot> AppDelegate::latestShot() {
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
    if (!best)
        return std::nullopt;
    const QUrl url = QUrl::fromLocalFile(best->absoluteFilePath());
    QImage image;
    try {
        image = ImageConvert::load(url);
    } catch (const UserError&) {
        return std::nullopt;
    }
    QString appName = best->completeBaseName();
    const qsizetype stamp = appName.indexOf(QStringLiteral(" 20"));
    if (stamp >= 0)
        appName.truncate(stamp);
    return Shot{url, image, appName, std::nullopt};
}

void AppDelegate::showLatest() {
    const auto shot = latestShot();
    if (!shot) {
        Toast::show(QStringLiteral("No screenshots yet"), QCursor::pos(), 1.6);
        return;
    }
    LibraryPanel::shared().hide();
    Thumbnail::open(*shot, nullptr, QCursor::pos());
}

void AppDelegate::openFiles(const QList<QUrl>& urls) {
    QUrl source;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && ImageFormat::of(url)) {
            source = url;
            break;
        }
    }
    if (source.isEmpty())
        return;

    const QFileInfo info(source.toLocalFile());
    const QString cantOpen = QStringLiteral("Can't open ") + info.fileName();
    const QString folder = shotsFolder();
    const QString ext = info.suffix();
    const QString base = info.completeBaseName();
    QString destination;
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? base + QLatin1Char('.') + ext
                                    : base + QLatin1Char(' ') + QString::number(n) + QLatin1Char('.') + ext;
        destination = QDir(folder).filePath(name);
        if (!QFileInfo::exists(destination) && !QFileInfo(destination).isSymLink())
            break;
    }
    // QFile::copy never replaces an existing file, so a name taken meanwhile fails here instead of
    // overwriting someone's picture.
    if (!QDir().mkpath(folder) || !QFile::copy(info.absoluteFilePath(), destination)) {
        Toast::show(cantOpen, QCursor::pos(), 1.6);
        return;
    }
    const QUrl copy = QUrl::fromLocalFile(destination);
    const QString appName = base;
    LibraryPanel::shared().hide();

    if (ext.toLower() == u"pdf") {
        const auto session = PDFSession::open(copy);
        if (!session) {
            Toast::show(cantOpen, QCursor::pos(), 1.6);
            return;
        }
        PDFSession::Rendered page;
        try {
            page = session->render(0);
        } catch (const UserError&) {
            Toast::show(cantOpen, QCursor::pos(), 1.6);
            return;
        }
        Thumbnail::open(Shot{page.url, page.image, appName, std::nullopt}, session, QCursor::pos());
        if (session->pageCount() >= 2)
            Toast::show(QString::number(session->pageCount()) +
                            QStringLiteral(" pages \u00b7 use \u2039 \u203a under the picture"),
                        QCursor::pos(), 1.6);
        return;
    }

    QImage image;
    try {
        image = ImageConvert::load(copy);
    } catch (const UserError&) {
        Toast::show(cantOpen, QCursor::pos(), 1.6);
        return;
    }
    Thumbnail::open(Shot{copy, image, appName, std::nullopt}, nullptr, QCursor::pos());
}
