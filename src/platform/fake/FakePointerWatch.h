#pragma once
// A pointer watch that tests press by hand.

#include "platform/PointerWatch.h"

class FakePointerWatch final : public PointerWatch {
public:
    bool seesOtherApplications() const override { return true; }

    // A press in another program's window unless `bare` (the desktop itself) or in one of ours.
    void press(QPoint position, bool ownWindow = false, bool bare = false) {
        emit pressed(PointerPress{position, ownWindow, true, !ownWindow && !bare});
    }
    void focusLost() { emit pressed(PointerPress{{}, false, false}); }
    void type(quint32 keysym) { emit typed(keysym); }
};
