#pragma once
// The window list, pointer, monitors and screen pixels of an X display, read through a private
// xcb connection. Safe to call from any thread: calls are serialised.

#include "platform/DesktopEntries.h"
#include "platform/WindowList.h"

#include <QMutex>
#include <memory>

namespace XGrab {
class Grabber;
}
struct xcb_connection_t;
struct xcb_screen_t;

class X11WindowList : public WindowList {
public:
    // An empty display name means $DISPLAY. The connection is made on first use.
    explicit X11WindowList(QString displayName = {});
    ~X11WindowList() override;

    QList<Window> windows() override;
    std::optional<Window> window(quint32 id) override;
    QPoint pointer() override;
    QList<QRect> screens() override;
    QImage grab(const QRect& rect, QString* error = nullptr) override;
    // Keeps the window in a picture of its own while the recording lives (Composite redirection, which the display
    // does without a compositor too), so that windows over it stay out of its pixels; the screen looks the same.
    std::unique_ptr<Recording> record(quint32 id) override;

private:
    class OwnRecording;
    struct Atoms;
    bool connect();
    bool managerAlive();
    QList<quint32> stacking(bool* fromManager);
    QList<Window> describe(const QList<quint32>& clients, const QList<quint32>& frames);

    QMutex mutex;
    QString displayName;
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    std::unique_ptr<Atoms> atoms;
    std::unique_ptr<XGrab::Grabber> grabber;
    DesktopEntries entries;
};
