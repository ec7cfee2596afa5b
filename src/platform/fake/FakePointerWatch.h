#pragma once
// A pointer watch that tests press by hand.

#include "platform/PointerWatch.h"

class FakePointerWatch final : public PointerWatch {
public:
    bool seesOtherApplications() const override { return true; }

    void press(QPoint position, bool ownWindow = false) { emit pressed(PointerPress{position, ownWindow, true}); }
    void focusLost() { emit pressed(PointerPress{{}, false, false}); }
};
