#pragma once
// The colour the panel's tray asks icons to draw in, when the tray publishes one.

#include <QColor>
#include <optional>

namespace TrayColors {

// The foreground of _NET_SYSTEM_TRAY_COLORS on the tray manager of the default screen, or
// nothing when there is no X display, no tray, or the tray does not publish colours.
std::optional<QColor> foreground();

} // namespace TrayColors
