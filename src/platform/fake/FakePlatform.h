#pragma once
// A desktop in memory for tests: keys the test presses, a window list it fills, a compositor it
// switches on and off, no tray colours, and pointer watches it presses by hand.

#include "platform/Compositor.h"
#include "platform/Platform.h"
#include "platform/TrayColors.h"
#include "platform/WindowFocus.h"
#include "platform/WindowDesktops.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePointerWatch.h"
#include "platform/fake/FakeWindowList.h"

#include <QPointer>

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

// Remembers the windows it was asked to make active.
class FakeWindowFocus final : public WindowFocus {
public:
    bool activate(quint32 window) override {
        asked.append(window);
        return true;
    }
    QList<quint32> asked;
};

// Remembers the windows it was asked to keep on every desktop.
class FakeWindowDesktops final : public WindowDesktops {
public:
    bool showOnAllDesktops(quint32 window) override {
        asked.append(window);
        return true;
    }
    QList<quint32> asked;
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

    FakeGlobalKeys globalKeys;
    FakeWindowList windowList;
    FakeCompositor compositing;
    FakeTrayColors tray;
    WindowFocus& windowFocus() override { return focus; }

    QPointer<FakePointerWatch> lastWatch; // the newest watch handed out, while it lives
    FakeWindowFocus focus;
    WindowDesktops& windowDesktops() override { return desktops; }
    FakeWindowDesktops desktops;
};
