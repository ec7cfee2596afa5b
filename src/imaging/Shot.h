#pragma once
// One capture or opened picture, as it travels from the capture road to the card and its tools.

#include <QImage>
#include <QRect>
#include <QString>
#include <QUrl>
#include <optional>

namespace Capture {

// A window on screen: its X window id, owner process, application name and frame in screen
// coordinates (top-left origin, title bar included).
struct WindowInfo {
    quint32 id = 0;
    qint32 pid = 0;
    QString app;
    QRect bounds;
};

} // namespace Capture

struct Shot {
    QUrl fileURL;
    QImage image;
    QString appName;
    std::optional<Capture::WindowInfo> window;
};
