#include "platform/EscapeKeyGrab.h"

#include "platform/GlobalKeys.h"

namespace {

constexpr quint32 escapeKeysym = 0xff1b;

} // namespace

EscapeKeyGrab::EscapeKeyGrab(GlobalKeys* globalKeys, QObject* parent) : QObject(parent), keys(globalKeys) {
    if (keys)
        connect(keys, &GlobalKeys::pressed, this, [this](quint32 pressedHandle) {
            if (handle && pressedHandle == handle)
                emit pressed();
        });
}

EscapeKeyGrab::~EscapeKeyGrab() {
    setActive(false);
}

bool EscapeKeyGrab::setActive(bool on) {
    if (on == isActive())
        return true;
    if (!keys)
        return false;
    if (!on) {
        keys->ungrab(handle);
        handle = 0;
        return true;
    }
    handle = keys->grab(escapeKeysym, 0);
    return handle != 0;
}

bool EscapeKeyGrab::isActive() const {
    return handle != 0;
}
