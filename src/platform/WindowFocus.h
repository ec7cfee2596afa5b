#pragma once
// Giving the keyboard focus to one of our own windows when the window manager would not hand it over on the
// application's own request (a tray program is seldom in front), and back to another program's window when ours
// closes.

#include <QList>
#include <QtGlobal>

#include <functional>

class WindowFocus {
public:
    virtual ~WindowFocus() = default;

    // Asks the window manager to make the top-level window active, as a pager or task bar asks for it.
    // False when the request could not be sent (no display); the window manager may still decline.
    virtual bool activate(quint32 window) = 0;

    // Whether another program's window shows on the screen now: not minimised, not on another desktop, not gone.
    // True when it cannot be told.
    virtual bool onScreen(quint32 window) const = 0;

    // The window the window manager has made active, ours or another program's; 0 when none is, or when it
    // cannot be told (no display, no window manager that says).
    virtual quint32 activeWindow() const = 0;

    // Calls `changed` on the main thread with the window the window manager has just made active (0 for
    // none), each time it names another; a later call replaces the watcher, an empty one ends it. Nothing is
    // called where it cannot be told.
    virtual void watchActive(std::function<void(quint32 active)> changed) = 0;

    // Where the keyboard is at this moment as the X server has it, which may be ahead of what the toolkit has
    // heard: in one of `windows` or the frame the window manager put around it (Listed), with nobody (no
    // window, the root, the window manager's own window), or in another program's window that the window
    // manager has made the active one (Elsewhere). `closing`, one of `windows` as it closes: once the window
    // manager has let it go, where the keyboard went may be its own doing, and counts as nobody's choice.
    enum class Keyboard { Unknown, Nobody, Listed, Elsewhere };
    virtual Keyboard keyboardAt(const QList<quint32>& windows, quint32 closing = 0) const = 0;
};
