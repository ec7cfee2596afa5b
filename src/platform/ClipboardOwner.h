#pragma once
// Puts data on the desktop's clipboard and tells whether it is there: Qt reports a refused ownership only in its
// log.

#include <QObject>

#include <functional>

class QMimeData;

namespace ClipboardOwner {

enum class Holder {
    us,      // this process
    another, // another program
    nobody,
};

// Who holds the desktop's clipboard now, as the display server has it. Always us off X11.
Holder holder();

// Puts the data on the clipboard (which takes it) and tells `done` who holds the clipboard then. A refusal while
// no other program holds it comes of a stale time of ours: it is tried once more with a fresh time from the
// server, and `done` runs when that is known, later. `done` never runs once `context` is gone, nor once a later
// put was made; when the clipboard was taken meanwhile the retry is dropped, and `done` hears of another holder.
void put(QMimeData* data, QObject* context, std::function<void(Holder)> done);

// A count of the clipboard's changes as this process hears of them: every put, and every copy another program
// makes once the first call was made. What was prepared for the clipboard since a smaller count is no longer
// what the user copied last.
quint64 changes();

} // namespace ClipboardOwner
