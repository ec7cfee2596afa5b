#include "onboarding/CapabilityProbe.h"

#include "platform/Compositor.h"
#include "platform/DesktopChecks.h"

namespace {

CapabilityProbe::Result judge(bool ok, const QString& failure) {
    return {ok, ok ? CapabilityProbe::readyText() : failure};
}

} // namespace

CapabilityProbe::CapabilityProbe(const DesktopChecks* checks, const Compositor* compositor,
                                 std::function<QStringList()> refusedHotKeys)
    : desktop(checks), compositing(compositor), refusedKeys(std::move(refusedHotKeys)) {}

QString CapabilityProbe::readyText() {
    return QStringLiteral("\u2713  Ready");
}

bool CapabilityProbe::wayland() const {
    return desktop && desktop->wayland();
}

CapabilityProbe::Result CapabilityProbe::screenCapture() const {
    // Under Wayland a root read succeeds through Xwayland but sees none of the native windows.
    if (wayland())
        return {false, QStringLiteral("Wayland")};
    return judge(desktop && desktop->screenReadable(), QStringLiteral("Off"));
}

QStringList CapabilityProbe::refused() const {
    return refusedKeys ? refusedKeys() : QStringList();
}

CapabilityProbe::Result CapabilityProbe::hotKeys() const {
    return judge(refusedKeys && refused().isEmpty(), QStringLiteral("Taken"));
}

CapabilityProbe::Result CapabilityProbe::trayIcon() const {
    return judge(desktop && desktop->trayPresent(), QStringLiteral("Missing"));
}

CapabilityProbe::Result CapabilityProbe::compositor() const {
    return judge(compositing && compositing->active(), QStringLiteral("Off"));
}

int CapabilityProbe::passing() const {
    return int(screenCapture().ok) + int(hotKeys().ok) + int(trayIcon().ok) + int(compositor().ok);
}
