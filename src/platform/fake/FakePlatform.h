#pragma once
// A desktop in memory for tests: keys the test presses, a window list it fills, a compositor it
// switches on and off, no tray colours, and pointer watches it presses by hand.

#include "platform/Compositor.h"
#include "platform/DesktopChecks.h"
#include "platform/Platform.h"
#include "platform/TrayColors.h"
#include "platform/WindowFocus.h"
#include "platform/WindowHints.h"
#include "platform/fake/FakeDesktops.h"
#include "platform/fake/FakeDragProbe.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePointerWatch.h"
#include "platform/fake/FakeWindowList.h"

#include <QList>
#include <QPointer>
#include <QWindow>

class FakeCompositor final : public Compositor {
public:
    bool active() const override { return on; }
    bool on = false;
};

class FakeTrayColors final : public TrayColors {
public:
    std::optional<QColor> foreground() const override { return color; }
    std::optional<QColor> color;
};

// Remembers the windows it was asked to make active; the active window is the one a test sets.
class FakeWindowFocus final : public WindowFocus {
public:
    bool activate(quint32 window) override {
        asked.append(window);
        return true;
    }
    quint32 activeWindow() const override { return active; }
    bool onScreen(quint32 window) const override { return !offScreen.contains(window); }
    void watchActive(std::function<void(quint32)> changed) override { watcher = std::move(changed); }
    Keyboard keyboardAt(const QList<quint32>&, quint32) const override { return keyboard; }
    // The window manager makes `window` active: the watcher hears of it.
    void makeActive(quint32 window) {
        active = window;
        if (watcher)
            watcher(window);
    }
    QList<quint32> asked;
    // Other programs' windows minimised or on another desktop.
    QList<quint32> offScreen;
    quint32 active = 0;
    Keyboard keyboard = Keyboard::Unknown;
    std::function<void(quint32)> watcher;
};

class FakeDesktopChecks final : public DesktopChecks {
public:
    bool wayland() const override { return waylandSession; }
    bool screenReadable() const override { return readable; }
    bool trayPresent() const override { return tray; }
    bool waylandSession = false;
    bool readable = true;
    bool tray = true;
};

class FakeWindowHints final : public WindowHints {
public:
    bool keepOffTaskbar(QWindow* window) override {
        offTaskbar.append(window);
        return true;
    }
    bool askNoAttention(QWindow* window) override {
        noAttention.append(window);
        return true;
    }
    bool offerNoFocus(QWindow* window) override {
        noFocus.append(window);
        return true;
    }
    QList<QPointer<QWindow>> offTaskbar;
    QList<QPointer<QWindow>> noAttention;
    QList<QPointer<QWindow>> noFocus;
};

class FakePlatform final : public Platform {
public:
    GlobalKeys& keys() override { return globalKeys; }
    WindowList& windows() override { return windowList; }
    const Compositor& compositor() override { return compositing; }
    const TrayColors& trayColors() override { return tray; }
    std::unique_ptr<PointerWatch> watchPointer() override {
        auto watch = std::make_unique<FakePointerWatch>();
        lastWatch = watch.get();
        return watch;
    }
    WindowFocus& windowFocus() override { return focus; }
    const DesktopChecks& checks() override { return desktopChecks; }
    DragProbe* dragProbe() override { return &drags; }
    Desktops& desktops() override { return virtualDesktops; }
    WindowHints& windowHints() override { return hints; }

    FakeGlobalKeys globalKeys;
    FakeWindowList windowList;
    FakeCompositor compositing;
    FakeTrayColors tray;
    FakeWindowFocus focus;
    FakeDesktopChecks desktopChecks;
    FakeDragProbe drags;
    QPointer<FakePointerWatch> lastWatch; // the newest watch handed out, while it lives
    FakeDesktops virtualDesktops;
    FakeWindowHints hints;
};
