#pragma once
// What the program's side shares between the children that read and write the files a user hands us
// (pictolarium-decode, pictolarium-pdfwrite).

#include <QString>

class QElapsedTimer;
class QProcess;

namespace ChildProcesses {

// The helper program `name`: beside the program, in the build tree's tools/<folder>, or on the PATH.
QString find(const QString& name, const QString& folder);

// Why `path` is refused before any child runs (folders, pipes, devices, sockets, files that vanished, a folder
// on the way or a link we may not follow); empty for a regular file. stat() on a pipe does not block; opening one
// would.
QString notAFile(const QString& path);

// Why `path` could not be looked at or opened, from the errno value that said so: no permission, a link that leads
// round in a circle, a file that is gone.
QString notOpened(int error, const QString& path);

// Waits for a started child until timeLimitMs have passed `since` (taken when it was started), and kills it when
// the time is up; true when it had to. A child still starting then counts as too slow as much as one running.
bool waitWithin(QProcess& child, int timeLimitMs, const QElapsedTimer& since);

} // namespace ChildProcesses
