#include "shortcuts/TapHold.h"

TapHold::TapHold(QHash<QString, bool>& heldKeys, QHash<QString, bool>& firedKeys, Schedule scheduler, Action onTap,
                 Action onHold, QObject* parent)
    : QObject(parent), held(heldKeys), fired(firedKeys), schedule(std::move(scheduler)), tap(std::move(onTap)),
      hold(std::move(onHold)) {}

void TapHold::keyPressed(const QString& key, quint32 time) {
    if (held.value(key))
        return;
    held[key] = true;
    pressTimes[key] = time;
    fired[key] = false;
    const quint64 press = ++presses[key];
    schedule(holdDelay, this, [this, key, press] { holdCheck(key, press); });
}

void TapHold::holdCheck(const QString& key, quint64 press) {
    // A check left over from an earlier, already released press must not turn a later quick tap
    // into a hold.
    if (presses.value(key) != press)
        return;
    if (!held.value(key) || fired.value(key))
        return;
    fired[key] = true;
    hold(key);
}

void TapHold::keyReleased(const QString& key, quint32 time) {
    if (!held.value(key))
        return;
    held[key] = false;
    if (fired.value(key))
        return;
    fired[key] = true;
    const quint32 pressTime = pressTimes.value(key);
    // Unsigned difference: the server's clock wraps after 49 days.
    if (pressTime && time && quint32(time - pressTime) >= quint32(holdDelay))
        hold(key);
    else
        tap(key);
}

void TapHold::forget(const QString& key) {
    if (!held.value(key))
        return;
    held[key] = false;
    ++presses[key];
}
