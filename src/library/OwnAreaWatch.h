#pragma once
// A pointer watch that also counts presses in an area of ours inside another program's window
// (the panel icon docked in the tray) as presses in our own windows.

#include "platform/PointerWatch.h"

#include <QRect>

#include <functional>
#include <memory>

class OwnAreaWatch final : public PointerWatch {
public:
    // Without an inner watch, presses in our own windows and the loss of focus are seen.
    OwnAreaWatch(std::unique_ptr<PointerWatch> inner, std::function<QRect()> ownArea);

    bool seesOtherApplications() const override { return inner->seesOtherApplications(); }

private:
    std::unique_ptr<PointerWatch> inner;
    std::function<QRect()> ownArea;
};
