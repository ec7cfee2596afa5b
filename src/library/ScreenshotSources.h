#pragma once
// Where the desktop saves its screenshots, which entries of a folder are pictures, and whether a
// picture is a screenshot. Stateless; safe on any thread.

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace ScreenshotSources {

// The lower-case extensions images() lists.
const QSet<QString>& imageExts();

// The picture files directly inside a folder, in the order the directory lists them. error is the
// errno of a failed listing (files then empty).
struct Listing {
    QStringList files;
    int error = 0;
    QString errorText() const;
};
Listing images(const QString& folder);

// What the screenshot folder is chosen from; systemFolder() fills it from this session.
struct Places {
    QString home;
    QString configHome;    // $XDG_CONFIG_HOME
    QString pictures;      // the XDG Pictures folder
    QString gnomeAutoSave; // gnome-screenshot's auto-save-directory, "" when unset or not installed
    QString screenshotsName = QStringLiteral("Screenshots"); // as the desktop shell names that folder
};
// The first of these that is a folder: the KDE tool's save location, the Xfce tool's folder,
// gnome-screenshot's auto-save folder, Pictures/Screenshots (in the shell's language), else Pictures.
QString systemFolder(const Places& places);
QString systemFolder();
Places currentPlaces();

// By its name (one of the known prefixes, compared case-blind after NFC), or a PNG whose
// "Software" text names the GNOME screenshot tool. Never opens anything but a regular file.
bool isScreenshot(const QString& path);
bool hasScreenshotName(const QString& fileName);
bool hasScreenshotChunk(const QString& path);

} // namespace ScreenshotSources
