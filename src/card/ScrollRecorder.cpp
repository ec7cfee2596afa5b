#include "card/ScrollRecorder.h"

ScrollRecorder& ScrollRecorder::shared() {
    static ScrollRecorder recorder;
    return recorder;
}

// Recording starts from the card's scroll tool, which is not on the card yet.
void ScrollRecorder::finish() { shared().recording = false; }
