#include "onboarding/MediaClock.h"

#include <QElapsedTimer>

namespace tour {

double MediaClock::now() {
    static const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return 1000.0 + double(started.nsecsElapsed()) / 1e9;
}

} // namespace tour
