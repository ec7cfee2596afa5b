#pragma once
// The colour the panel's tray asks icons to draw in, when the tray publishes one.

#include <QColor>
#include <optional>

class TrayColors {
public:
    virtual ~TrayColors() = default;

    // The tray's foreground colour, or nothing when there is no display, no tray, or the tray does
    // not publish colours.
    virtual std::optional<QColor> foreground() const = 0;
};
