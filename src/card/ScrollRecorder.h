#pragma once
// Records a scrolling window into one tall picture.

class ScrollRecorder {
public:
    static ScrollRecorder& shared();
    bool active() const { return recording; }
    // Ends the running recording and hands its picture to the card.
    static void finish();

private:
    ScrollRecorder() = default;
    bool recording = false;
};
