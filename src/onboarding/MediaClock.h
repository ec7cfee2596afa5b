#pragma once
// The tour's animation time: seconds on a steady clock, never zero (a begin time of zero means
// "when added").

namespace tour {

class MediaClock {
public:
    MediaClock() = delete;
    static double now();
};

} // namespace tour
