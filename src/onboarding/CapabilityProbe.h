#pragma once
// The four checks of the tour's setup page: can we read the screen, do we hold our hot keys, is
// there a tray for the panel icon, and does a compositor draw translucency. Nothing is cached.

#include <QString>
#include <QStringList>

#include <functional>

class Compositor;
class DesktopChecks;

class CapabilityProbe {
public:
    struct Result {
        bool ok = false;
        // What the row's pill says: "✓  Ready", or the word for what is wrong.
        QString pill;
    };

    // Any collaborator may be missing: its check then fails. refusedHotKeys lists the enabled hot
    // actions whose keys another program holds.
    CapabilityProbe(const DesktopChecks* checks, const Compositor* compositor,
                    std::function<QStringList()> refusedHotKeys);

    Result screenCapture() const;
    Result hotKeys() const;
    Result trayIcon() const;
    Result compositor() const;
    QStringList refused() const;
    bool wayland() const;
    // How many of the four pass.
    int passing() const;

    static QString readyText();

private:
    const DesktopChecks* desktop;
    const Compositor* compositing;
    std::function<QStringList()> refusedKeys;
};
