#include "card/ShareMenu.h"

#include "imaging/ImageConvert.h"
#include "platform/FileManager.h"
#include "ui/Brand.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

ShareMenu::Actions ShareMenu::desktopActions() {
    Actions actions;
    actions.openWithDefault = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    const QString mailer = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (!mailer.isEmpty())
        actions.email = [mailer](const QString& path) {
            return QProcess::startDetached(mailer, {QStringLiteral("--attach"), path});
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
            QGuiApplication::clipboard()->setImage(image);
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
