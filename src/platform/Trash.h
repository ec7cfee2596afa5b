#pragma once
// The freedesktop Trash: files moved there can be restored by name from any file manager.

#include <QString>

namespace Trash {

struct Result {
    QString trashedPath; // the file's new place inside the Trash's "files" folder
    QString infoPath;    // its ".trashinfo" record
    QString error;       // empty on success; else the user-facing reason the file stayed where it was
    bool ok() const { return error.isEmpty(); }
};

// Moves the file at `path` (a symlink is moved, not followed) into the home Trash when it lives on the home
// Trash's device, else into its volume's own Trash ($topdir/.Trash/$uid or $topdir/.Trash-$uid). The record is
// reserved exclusively before the move, and the move never replaces a file and never copies across devices.
// On any failure the file stays where it was, no record is left behind, and `error` says why.
Result moveToTrash(const QString& path);

// $XDG_DATA_HOME/Trash.
QString homeTrash();

} // namespace Trash
