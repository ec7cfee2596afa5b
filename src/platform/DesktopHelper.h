#pragma once
// The desktop's helper programs (xdg-open, xdg-email) run so that their failure is heard: they start fine and
// then give up with an exit status when nothing on the desktop can do the job.

#include <QString>
#include <QStringList>

#include <functional>

namespace DesktopHelper {

// How long an exit is listened for: in some desktops xdg-open runs the application itself and ends with it.
constexpr int listenMs = 20000;

// Starts the program with its output discarded. When it ends within listenMs with a status other than 0, or
// crashes (-1), `failed` is called with that status on this thread's event loop. False when it did not start.
// The program is never ended by us, not even when this program quits.
bool start(const QString& program, const QStringList& arguments, std::function<void(int status)> failed);

enum class Opened { started, noApplication, notStarted };

// Opens the file with the desktop's default application for its kind, through xdg-open; `failed` hears
// xdg-open's status as for start(). This program is never that application, even when its own entry is the
// default (a file opened with us is copied into the screenshot folder and shown as a card, not opened): the
// next application that opens the kind is started itself then, a failure of which comes as status 1.
// noApplication when only this program opens it.
Opened openFile(const QString& file, std::function<void(int status)> failed);

} // namespace DesktopHelper
