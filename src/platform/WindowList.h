#pragma once
// The desktop as the capture engine sees it: the top-level windows the window manager shows,
// the pointer, the monitors and the pixels of any rectangle of the screen.

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <algorithm>
#include <memory>
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

    // One window read again and again, for as long as this lives (a scroll recording).
    class Recording {
    public:
        struct Pixels {
            QImage image;
            bool own = false;     // read from the window's own picture: no other window is in it
            QList<QRect> covered; // else the parts, in the image's coordinates, that windows in front hide
        };
        virtual ~Recording() = default;
        // The window's rectangle as window() gives it, clipped to the desktop; its position is read afresh each
        // time. A null image when the window is gone or cannot be read; error then says why.
        virtual Pixels grab(QString* error = nullptr) = 0;
    };
    // Starts reading the window with this id, from a picture of its own where the display can keep one. This
    // form reads the screen, and tells the parts of it where windows in front of it lie over it.
    virtual std::unique_ptr<Recording> record(quint32 id) { return std::make_unique<ScreenRecording>(*this, id); }

protected:
    class ScreenRecording : public Recording {
    public:
        ScreenRecording(WindowList& list, quint32 id) : list(list), id(id) {}
        Pixels grab(QString* error) override {
            const std::optional<Window> self = list.window(id);
            if (!self) {
                if (error)
                    *error = QStringLiteral("Window is gone");
                return {};
            }
            Pixels pixels{list.grab(self->frame, error), false, {}};
            // The grab is clipped to the desktop, whose origin is the root's.
            const QRect shown(QPoint(std::max(0, self->frame.x()), std::max(0, self->frame.y())), pixels.image.size());
            for (const Window& other : list.windows()) { // front to back
                if (other.id == id)
                    break;
                if (other.visible && other.frame.intersects(shown))
                    pixels.covered.append(other.frame.intersected(shown).translated(-shown.topLeft()));
            }
            return pixels;
        }

    private:
        WindowList& list;
        quint32 id;
    };
};
