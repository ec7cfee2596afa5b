#pragma once
// Naming and creating new files beside a picture without ever taking a name that is in use.

#include "platform/FileWrites.h"

#include <QByteArray>
#include <QString>
#include <functional>

class UnnamedFile;

namespace NewFiles {

// The file name without its last extension ("scan.tar.gz" gives "scan.tar"); a name that only starts with a
// dot (".png") is all base.
QString baseName(const QString& path);

// folder/name: the candidate names to try, n = 1, 2, 3, … (n = 1 is the plain name).
using Candidates = std::function<QString(int n)>;

// "folder/base.ext", then "folder/base 2.ext", "folder/base 3.ext".
Candidates numbered(const QString& folder, const QString& base, const QString& ext);

// Whether anything, even a dangling symlink, holds the path.
bool taken(const QString& path);

// The file name of the first candidate that is free now: the one a failed write names.
QString firstFree(const Candidates& candidates);

// The one way the program makes a file: it has no name until it is whole and on the disk, made without one in
// the folder of the first candidate and linked in under the first free candidate by place(), never over another
// file, or put in place of one by placeOver(). However the program ends meanwhile, nothing of it is left behind;
// and the program's end waits for it (FileWrites), so a write begun is not lost at a logout.
// "Couldn't write <name>", with the system's reason where it tells the user what to do: a full disk or quota, a
// read-only disk, a folder they may not write into.
QString cantWrite(const QString& name, int error);

class Pending {
public:
    explicit Pending(Candidates candidates);
    // For a file that takes the place of `path` (placeOver).
    explicit Pending(const QString& path);
    ~Pending();
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    // Whether the folder took the file; false for an unwritable or vanished folder, or once the program is ending
    // (refused() then says so).
    bool ok() const;
    bool refused() const;
    // The open file to write into (closed on exec); -1 when !ok().
    int fd() const;
    // Writes all the bytes at the file's end; false on a short or failed write.
    bool write(const QByteArray& bytes);
    // Flushes the file to the disk and gives it the first free candidate's name. Empty when it can't; *failed
    // then names the candidate that could not be taken.
    QString place(QString* failed);
    // Flushes the file to the disk and puts it at `path` in place of the file there. 0 or the errno value.
    int placeOver(const QString& path);
    // The errno value of the last step that failed (the folder refusing the file, a write, the naming); 0 when
    // none did.
    int lastError() const { return error; }

private:
    Candidates names;
    int error = 0;
    FileWrites::Scope scope;
    UnnamedFile* file;
};

} // namespace NewFiles
