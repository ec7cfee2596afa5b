#pragma once
// A file without a name in a folder, for what a child writes for us (a decoded picture's pixels, the copy of a
// file being opened): nothing of it can outlive the program, however the program ends, until it is given a name.

#include <QString>

class UnnamedFile {
public:
    // Made in `folder`, open for reading and writing and closed on exec; isOpen() is false when that failed.
    explicit UnnamedFile(const QString& folder);
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    bool isOpen() const { return descriptor >= 0; }
    int fd() const { return descriptor; }

    // Gives the file the name `path` on the same filesystem, never replacing a file there: EEXIST when the name is
    // taken. Returns 0 or the errno value; on failure nothing is left at `path`.
    int link(const QString& path);

private:
    int descriptor = -1;
    // False where the filesystem cannot make a file without a name: it was made with one and unlinked at once,
    // and link() copies its bytes instead.
    bool linkable = true;
};
