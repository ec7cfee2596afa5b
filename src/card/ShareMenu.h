#pragma once
// The card's share menu: the file or the picture onto the clipboard, the file opened with the desktop's
// default application, attached to a new e-mail, or shown in the file manager.

#include <QImage>
#include <QMenu>
#include <QString>

#include <functional>

class ShareMenu : public QMenu {
    Q_OBJECT
public:
    // What the items do; the desktop's own ways unless a test hands in others. Each returns false when it
    // could not be done.
    struct Actions {
        std::function<bool(const QString& file)> openWithDefault;
        std::function<bool(const QString& file)> email; // unset: no e-mail item
        std::function<bool(const QString& file)> showInFolder;
    };

    // The desktop's ways: xdg-open, xdg-email when it is installed, the file manager. A helper that starts and
    // then fails tells `report` later, in the words below.
    static Actions desktopActions(std::function<void(const QString&)> report);
    // What to say when xdg-open or xdg-email ended with this status (-1: it crashed).
    static QString openFailure(int status, const QString& file);
    static QString emailFailure(int status);

    // `report` is told what went wrong (a vanished file, nothing to open it with).
    ShareMenu(const QString& file, const QImage& image, Actions actions, std::function<void(const QString&)> report,
              QWidget* parent = nullptr);

    // The dark look of the card's menus.
    static void darken(QMenu& menu);

    // "x-special/gnome-copied-files" and "text/uri-list" for the file, as file managers paste them.
    static void copyFile(const QString& file);
    // The picture as PNG, encoded on a worker and then put on the clipboard; `report` hears of a failure.
    static void copyImage(const QImage& image, std::function<void(const QString&)> report);

private:
    bool fileGone();

    QString file;
    std::function<void(const QString&)> report;
};
