#include "card/CardLifetime.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

qint64 monotonicNow() {
    static const QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.elapsed();
}

} // namespace

SystemCardClock::SystemCardClock() : timer(std::make_unique<QTimer>()) {
    timer->setSingleShot(true);
    timer->setTimerType(Qt::CoarseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this] {
        // Taken out first: the callback may start the timer again.
        std::function<void()> fire = std::move(pending);
        pending = nullptr;
        if (fire)
            fire();
    });
}

SystemCardClock::~SystemCardClock() = default;

qint64 SystemCardClock::now() const {
    return monotonicNow();
}

void SystemCardClock::start(qint64 milliseconds, std::function<void()> fire) {
    pending = std::move(fire);
    timer->start(int(std::clamp<qint64>(milliseconds, 0, std::numeric_limits<int>::max())));
}

void SystemCardClock::stop() {
    timer->stop();
    pending = nullptr;
}

CardLifetime::CardLifetime(CardClock& c, bool pdf, Hooks h)
    : clock(c), hooks(std::move(h)), span(pdf ? pdfLifetime : lifetime),
      protectedTill(std::numeric_limits<qint64>::min()), self(std::make_shared<CardLifetime*>(this)) {}

CardLifetime::~CardLifetime() {
    if (timerRunning)
        clock.stop();
}

void CardLifetime::shown() {
    if (state != Phase::Created)
        return;
    state = Phase::Shown;
    restartTimer();
}

void CardLifetime::restart() {
    if (isGone() || state == Phase::Created)
        return;
    restartTimer();
}

void CardLifetime::setHovering(bool inside) {
    hovering = inside;
    if (isGone())
        return;
    if (inside)
        stopTimer();
    else if (!isHeld())
        restartTimer();
}

void CardLifetime::hold(Hold reason) {
    holds.insert(reason);
    if (!isGone())
        stopTimer();
}

void CardLifetime::release(Hold reason) {
    if (holds.erase(reason) == 0 || isHeld() || isGone())
        return;
    if (!hovering && !pointerInside())
        restartTimer();
}

void CardLifetime::setHidden(bool hide) {
    if (isGone() || state == Phase::Created)
        return;
    if (hide) {
        state = Phase::Hidden;
        stopTimer();
    } else if (state == Phase::Hidden) {
        state = Phase::Shown;
        restartTimer();
    }
}

void CardLifetime::pause() {
    if (!isGone())
        stopTimer();
}

bool CardLifetime::clickedAway() {
    if (state != Phase::Shown || isHeld() || clock.now() < protectedTill || pointerInside())
        return false;
    fadeOut();
    return true;
}

void CardLifetime::close() {
    state = Phase::Closed;
    stopTimer();
}

void CardLifetime::restartTimer() {
    stopTimer();
    const qint64 now = clock.now();
    protectedTill = now > std::numeric_limits<qint64>::max() - span ? std::numeric_limits<qint64>::max() : now + span;
    // No timer while something holds the card, while the pointer rests on it or while it is out of sight;
    // each of those restarts the lifetime when it ends.
    if (isHeld() || hovering || state != Phase::Shown)
        return;
    timerRunning = true;
    std::weak_ptr<CardLifetime*> weak = self;
    clock.start(span, [weak] {
        if (const std::shared_ptr<CardLifetime*> alive = weak.lock())
            (*alive)->timerFired();
    });
}

void CardLifetime::stopTimer() {
    if (!timerRunning)
        return;
    timerRunning = false;
    clock.stop();
}

void CardLifetime::timerFired() {
    timerRunning = false;
    if (state != Phase::Shown)
        return;
    if (!hovering && !pointerInside())
        fadeOut();
    else
        restartTimer();
}

void CardLifetime::fadeOut() {
    stopTimer();
    state = Phase::Fading;
    if (hooks.fadeOut)
        hooks.fadeOut();
}

bool CardLifetime::pointerInside() const {
    return hooks.pointerInside && hooks.pointerInside();
}
