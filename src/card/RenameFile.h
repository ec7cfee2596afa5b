#pragma once
// Renaming a picture in its own folder, keeping its extension, without ever replacing another file.

#include <QString>

namespace RenameFile {

// The typed name made safe for a file name: blanks trimmed, "/", ":" and "\" turned into "-". Empty
// when nothing is left.
QString cleaned(const QString& typed);

struct Result {
    QString path;  // the file's new path, empty on failure
    QString error; // the reason, for the user
};

// Moves the file to "<name>.<ext>" beside it, or "<name> 2.<ext>", "<name> 3.<ext>", … while the name is
// taken (also by the file itself). A name too long for the file system is shortened to fit.
Result move(const QString& file, const QString& name);

} // namespace RenameFile
