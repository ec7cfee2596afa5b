#pragma once
// The pointer watch where presses in other applications cannot be seen: presses in this
// application's windows, and the application losing the focus reported as a press elsewhere
// whose position is unknown.

#include "platform/PointerWatch.h"

class FocusPointerWatch final : public PointerWatch {
public:
    FocusPointerWatch();

    bool seesOtherApplications() const override { return false; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
