#pragma once
// A file without a name in a folder, for what we or a child write (a picture, a record, the settings, a decoded
// picture's pixels, the copy of a file being opened): nothing of it can outlive the program, however the program
// ends, until it is given a name, and it is given one only once it is whole and on the disk.

#include <QByteArray>
#include <QString>

class UnnamedFile {
public:
    // Made in `folder`, open for reading and writing and closed on exec, private to the user; isOpen() is false
    // when that failed.
    explicit UnnamedFile(const QString& folder);
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    bool isOpen() const { return descriptor >= 0; }
    int fd() const { return descriptor; }

    // Gives the file the mode a file made with a name gets (0666 less the process's mask).
    void useUserMode();
    // Writes all the bytes at the file's end; false on a short or failed write.
    bool write(const char* data, qint64 size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }

    // Flushes the file to the disk and gives it the name `path` on the same filesystem, never replacing a file
    // there: EEXIST when the name is taken. Returns 0 or the errno value; on failure nothing is left at `path`.
    int link(const QString& path);
    // Flushes the file to the disk and puts it at `path` in one step, in place of what is there (through a
    // symbolic link, at its target), with that file's mode. Returns 0 or the errno value; on failure `path` is as
    // it was.
    int replace(const QString& path);

    // Flushes the file to the disk: 0 or the errno value. link() and replace() do it too; done before, off the
    // thread that answers the user, it leaves them nothing to wait for.
    int sync() const;

private:
    int linkAs(const QByteArray& target);
    int descriptor = -1;
    // False where the filesystem cannot make a file without a name: it was made with one and unlinked at once,
    // and link() copies its bytes instead.
    bool linkable = true;
};
