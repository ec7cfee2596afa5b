#pragma once
// The desktop as the capture engine sees it: the top-level windows the window manager shows,
// the pointer, the monitors and the pixels of any rectangle of the screen.

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <optional>

class WindowList {
public:
    // One top-level window. Everything is as the window says of itself; deciding which of them
    // count as capturable is the caller's business.
    struct Window {
        quint32 id = 0;                // the application's window (the client), not the manager's frame
        qint32 pid = 0;                // 0 when the window does not say
        QString app;                   // the name of its .desktop entry, else the class part of WM_CLASS; may be empty
        QRect frame;                   // root coordinates, title bar and borders included
        bool normal = true;            // an application window or dialog (not a dock, menu, desktop, ...)
        bool visible = true;           // mapped and not minimised
        std::optional<double> opacity; // 0..1 when the window sets one
    };

    virtual ~WindowList() = default;

    // Top-level windows front to back. Empty when the display cannot be reached.
    virtual QList<Window> windows() = 0;
    // The one window with this id if it is still on screen (visible), else nothing.
    virtual std::optional<Window> window(quint32 id) = 0;
    // The pointer in root coordinates; (0, 0) when the display cannot be reached.
    virtual QPoint pointer() = 0;
    // Monitors, the primary first. Empty when the display cannot be reached.
    virtual QList<QRect> screens() = 0;
    // The pixels of a rectangle of the whole desktop, clipped to it. A null image when nothing of
    // it is on screen or the display cannot be read; error then says why.
    virtual QImage grab(const QRect& rect, QString* error = nullptr) = 0;
};
