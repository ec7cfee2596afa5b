#pragma once
// Showing files and folders in the user's file manager.

#include <QString>

namespace FileManager {

// Asks the session's file manager (org.freedesktop.FileManager1) to show the folder, or the
// file selected in its folder; falls back to opening the folder with the default application.
// Returns false when nothing could be asked to show it.
bool showFolder(const QString& folder);
bool showItem(const QString& file);

} // namespace FileManager
