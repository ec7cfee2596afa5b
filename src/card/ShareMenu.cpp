#include "card/ShareMenu.h"

#include "imaging/BoundedLoad.h"
#include "imaging/ImageConvert.h"
#include "platform/ClipboardOwner.h"
#include "platform/DesktopHelper.h"
#include "platform/FileManager.h"
#include "ui/Brand.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

QString ShareMenu::openFailure(int status, const QString& file) {
    // xdg-open's own statuses: 2 the file is missing, 3 nothing on the desktop opens its kind.
    if (status == 2)
        return QStringLiteral("The file is no longer there");
    if (status == 3)
        return QStringLiteral("No application opens this file");
    return QStringLiteral("Couldn't open ") + QFileInfo(file).fileName();
}

QString ShareMenu::emailFailure(int status) {
    // xdg-email ends with 3 when no mail program is set up.
    return status == 3 ? QStringLiteral("No e-mail program is set up") : QStringLiteral("Couldn't start e-mail");
}

ShareMenu::Actions ShareMenu::desktopActions(std::function<void(const QString&)> report) {
    Actions actions;
    actions.openWithDefault = [report](const QString& path) {
        return DesktopHelper::openFile(path, [report, path](int status) {
                   if (report)
                       report(openFailure(status, path));
               }) == DesktopHelper::Opened::started;
    };
    const QString mailer = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (!mailer.isEmpty())
        actions.email = [mailer, report](const QString& path) {
            return DesktopHelper::start(mailer, {QStringLiteral("--attach"), path}, [report](int status) {
                if (report)
                    report(emailFailure(status));
            });
        };
    actions.showInFolder = [](const QString& path) { return FileManager::showItem(path); };
    return actions;
}

void ShareMenu::darken(QMenu& menu) {
    QPalette dark = menu.palette();
    dark.setColor(QPalette::Window, Brand::background());
    dark.setColor(QPalette::Base, Brand::background());
    dark.setColor(QPalette::WindowText, Brand::text());
    dark.setColor(QPalette::Text, Brand::text());
    dark.setColor(QPalette::ButtonText, Brand::text());
    dark.setColor(QPalette::Highlight, Brand::greenDeep());
    dark.setColor(QPalette::HighlightedText, Brand::text());
    menu.setPalette(dark);
}

void ShareMenu::copyFile(const QString& path) {
    auto* data = new QMimeData;
    const QUrl url = QUrl::fromLocalFile(path);
    data->setUrls({url});
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    QGuiApplication::clipboard()->setMimeData(data);
}

void ShareMenu::copyImage(const QImage& image, std::function<void(const QString&)> report) {
    // Encoded on a worker and offered as finished bytes: a picture handed to the clipboard as it is would be
    // encoded on the spot whenever another program pastes it, with nothing of ours answering meanwhile. A copy
    // made while this one is encoded, here or in another program, is the one that stays.
    const quint64 changes = ClipboardOwner::changes();
    BoundedLoad::encodePng(image, qApp, [changes, report](const QByteArray& png) {
        if (ClipboardOwner::changes() != changes)
            return;
        if (png.isEmpty()) {
            if (report)
                report(QStringLiteral("Couldn't copy the picture"));
            return;
        }
        auto* data = new QMimeData;
        data->setData(QStringLiteral("image/png"), png);
        ClipboardOwner::put(data, qApp, [report](ClipboardOwner::Holder holder) {
            if (holder == ClipboardOwner::Holder::us || !report)
                return;
            report(holder == ClipboardOwner::Holder::another
                       ? QStringLiteral("Couldn't copy: another program kept the clipboard")
                       : QStringLiteral("Couldn't copy: the display refused the clipboard"));
        });
    });
}

ShareMenu::ShareMenu(const QString& path, const QImage& image, Actions actions,
                     std::function<void(const QString&)> reporter, QWidget* parent)
    : QMenu(parent), file(path), report(std::move(reporter)) {
    darken(*this);
    addAction(QStringLiteral("Copy File"), this, [this] {
        if (!fileGone())
            copyFile(file);
    });
    addAction(QStringLiteral("Copy Image"), this, [this, image] {
        if (!fileGone())
            copyImage(image, report);
    });
    auto run = [this](std::function<bool(const QString&)> action, QString failure) {
        return [this, action = std::move(action), failure = std::move(failure)] {
            if (!fileGone() && action && !action(file) && report)
                report(failure);
        };
    };
    addAction(QStringLiteral("Open With Default App"), this,
              run(actions.openWithDefault, QStringLiteral("No application opens this file")));
    if (actions.email)
        addAction(QStringLiteral("Email\u2026"), this, run(actions.email, QStringLiteral("Couldn't start e-mail")));
    addAction(QStringLiteral("Show in Folder"), this,
              run(actions.showInFolder, QStringLiteral("Couldn't show the file")));
}

bool ShareMenu::fileGone() {
    if (QFileInfo(file).isReadable())
        return false;
    // The loader says why, in the words every other tool uses for a missing or unreadable picture.
    QString message = QStringLiteral("The file is no longer there");
    try {
        ImageConvert::load(QUrl::fromLocalFile(file));
    } catch (const ConvertError& error) {
        message = error.message;
    }
    if (report)
        report(message);
    return true;
}
