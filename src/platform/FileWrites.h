#pragma once
// The files the program is writing, so that its end can let them finish: every file is written whole through an
// UnnamedFile, and a write that has begun is never cut short by the program ending (a logout, the display going
// away). Once the end has begun, no new write starts.

#include <QByteArray>
#include <QString>

namespace FileWrites {

// A write under way, from the work that makes its bytes to the file taking its name. While one lives, finishAll()
// waits for it. Made once the program is ending, it is refused (admitted() false), unless its thread already holds
// one: work under way finishes with every file it writes.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    bool admitted() const { return counted; }

private:
    bool counted = false;
};

// The text of a refused write.
QString endingText();

// Refuses every new write and waits, however long, until the writes under way have ended. Any thread but one
// holding a Scope.
void finishAll();
bool ending();

// Writes `bytes` as the whole file at `path`, in place of what is there only once they are all on the disk (a
// symbolic link keeps pointing at it). Returns 0 or the errno value (ECANCELED when the program is ending); on
// failure `path` is as it was.
int replaceWith(const QString& path, const QByteArray& bytes);

} // namespace FileWrites
