#pragma once
// Time moves only when a test says so; the pending timer fires when its deadline is reached.

#include "card/CardLifetime.h"

#include <functional>
#include <optional>

class FakeCardClock : public CardClock {
public:
    qint64 now() const override { return time; }
    void start(qint64 ms, std::function<void()> fire) override {
        deadline = time + ms;
        pending = std::move(fire);
    }
    void stop() override {
        deadline.reset();
        if (!keepStoppedCallbacks)
            pending = nullptr;
    }
    void advance(qint64 ms) {
        const qint64 target = time + ms;
        while (deadline && *deadline <= target) {
            time = *deadline;
            deadline.reset();
            std::function<void()> fire = std::move(pending);
            pending = nullptr;
            if (fire)
                fire();
        }
        time = target;
    }

    qint64 time = 1'000'000;
    std::optional<qint64> deadline;
    std::function<void()> pending;
    bool keepStoppedCallbacks = false; // a sloppy clock that keeps the callback after stop()
};
