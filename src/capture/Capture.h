#pragma once
// Turns a capture request into a picture file in the screenshot folder and the Shot that describes
// it: the window or screen under the pointer, a dragged slice, and the quick in-process grab of one
// window that the scroll recorder repeats. The files are written by pictolarium-screencapture.

#include "imaging/Shot.h"
#include "imaging/UserError.h"
#include "platform/WindowList.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>

// A capture failed; message is what the user is told. needsPermission stays false on X11, which
// has no screen-recording permission to ask for, so every failure is shown.
class CaptureError : public UserError {
public:
    explicit CaptureError(QString text, bool permission = false)
        : UserError(std::move(text)), needsPermission(permission) {}

    bool needsPermission = false;
};

namespace Capture {

// Windows of other programs that can be captured, front to back: normal, visible, larger than
// 40 × 40, not see-through. Empty when the display cannot be read.
QList<WindowInfo> windows();
// The pointer in screen coordinates (top-left origin).
QPoint mouseCG();
// The front-most capturable window containing the pointer.
std::optional<WindowInfo> windowUnderCursor();

// Captures one window, frame included. Throws CaptureError, or UserError when the tool cannot run.
Shot capture(const WindowInfo& window);
// Runs the tool on one window, writing target or, when that name was taken meanwhile, the next
// free one. Returns the path written. Throws as capture() does.
QString screencapture(quint32 window, const QString& target);
// Captures the monitor under the pointer (the primary one when the pointer is on none).
Shot screenUnderCursor();
// Captures the window under the pointer, or the monitor under it when there is none, and returns at once: the
// tool runs and its picture is read on a worker. Then `done` with the shot, or `failed` with why in words for the
// user, runs on the main thread. Our windows in the way step aside meanwhile. Asked again before that, it does
// nothing: the capture under way answers.
void underCursor(std::function<void(const Shot&)> done, std::function<void(const QString&)> failed);
// Lets the user drag a slice of the screen; returns at once. The completion runs once, on the
// main thread, with the shot or with nothing when the slice was cancelled or failed; before it, a
// failure (not a cancel by the user) is told to failed in words for the user. A slice left open
// for minutes is closed.
void region(std::function<void(std::optional<Shot>)> completion, std::function<void(QString)> failed = {});

// Why no screenshot can be saved in folder (a file in its place, a read-only folder or parent),
// in words for the user; empty when it is ready (it is made when missing).
QString folderProblem(const QString& folder);
// The current pixels of one window, frame included, without a file. Blocks; safe on any thread
// (the scroll recorder calls it from the worker pool on every tick). Throws CaptureError
// "Window is gone" when the window is no longer on screen, UserError when the screen cannot be read.
QImage captureWindowModern(quint32 window);
// Reads one window again and again for a scroll recording, from a picture of its own where the display can keep
// one (WindowList::record); null without a window list.
std::unique_ptr<WindowList::Recording> recordWindow(quint32 window);

// The path for a new capture of the source word at the given time: the word with "/" made "-",
// a blank, the stamp, ".png", with " 2", " 3", ... before the extension while the name is taken.
QString shotPath(const QString& folder, const QString& source, const QDateTime& at);

// Collaborators, for main() and tests. Without a window list there is no desktop to capture; an
// empty tool path means pictolarium-screencapture beside the program (or in the build tree, or on PATH).
void setWindowList(WindowList* list);
void setTool(const QString& path);
QString tool();

} // namespace Capture
