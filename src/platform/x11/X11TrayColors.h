#pragma once
// _NET_SYSTEM_TRAY_COLORS of the tray manager of the default X screen, read on Qt's connection.

#include "platform/TrayColors.h"

class X11TrayColors final : public TrayColors {
public:
    std::optional<QColor> foreground() const override;
};
