#pragma once
// Naming and creating new files beside a picture without ever taking a name that is in use.

#include <QByteArray>
#include <QString>
#include <functional>

namespace NewFiles {

// The file name without its last extension ("scan.tar.gz" gives "scan.tar"); a name that only starts with a
// dot (".png") is all base.
QString baseName(const QString& path);

// folder/name: the candidate names to try, n = 1, 2, 3, … (n = 1 is the plain name).
using Candidates = std::function<QString(int n)>;

// "folder/base.ext", then "folder/base 2.ext", "folder/base 3.ext".
Candidates numbered(const QString& folder, const QString& base, const QString& ext);

// Creates the first candidate that does not exist yet, exclusively (O_EXCL), and leaves it empty.
// Returns its path; empty when a candidate exists but can't be created (unwritable or vanished folder),
// with *failed set to the name that could not be created.
QString reserve(const Candidates& candidates, QString* failed);

// Whether anything, even a dangling symlink, holds the path.
bool taken(const QString& path);

// Writes bytes into a reserved (empty) file. On failure the file is removed and false returned.
bool fill(const QString& path, const QByteArray& bytes);

} // namespace NewFiles
