#pragma once
// Naming and creating new files beside a picture without ever taking a name that is in use.

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

// Creates the first candidate that does not exist yet, exclusively (O_EXCL), and leaves it empty.
// Returns its path; empty when a candidate exists but can't be created (unwritable or vanished folder),
// with *failed set to the name that could not be created.
QString reserve(const Candidates& candidates, QString* failed);

// Whether anything, even a dangling symlink, holds the path.
bool taken(const QString& path);

// Writes bytes into a reserved (empty) file. On failure the file is removed and false returned.
bool fill(const QString& path, const QByteArray& bytes);

// A new file that has no name until it is whole: made without one in the folder of the first candidate and
// linked in under the first free candidate by place(), never over another file. However the program ends
// meanwhile, nothing of it is left behind.
class Pending {
public:
    explicit Pending(Candidates candidates);
    ~Pending();
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    // Whether the folder took the file; false for an unwritable or vanished folder.
    bool ok() const;
    // The open file to write into (closed on exec); -1 when !ok().
    int fd() const;
    // Writes all the bytes at the file's end; false on a short or failed write.
    bool write(const QByteArray& bytes);
    // Flushes the file to the disk and gives it the first free candidate's name. Empty when it can't; *failed
    // then names the candidate that could not be taken.
    QString place(QString* failed);

private:
    Candidates names;
    UnnamedFile* file;
};

} // namespace NewFiles
