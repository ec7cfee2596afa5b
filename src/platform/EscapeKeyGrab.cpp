#include "platform/EscapeKeyGrab.h"

#include "platform/GlobalKeys.h"

namespace {

constexpr quint32 escapeKeysym = 0xff1b;

} // namespace

EscapeKeyGrab::EscapeKeyGrab(GlobalKeys* globalKeys, QObject* parent) : QObject(parent), keys(globalKeys) {
    if (keys)
        connect(keys, &GlobalKeys::pressed, this, [this](quint32 pressedHandle) {
            if (handle && (pressedHandle == handle || extra.contains(pressedHandle)))
                emit pressed();
        });
}

EscapeKeyGrab::EscapeKeyGrab(GlobalKeys* globalKeys, QList<quint32> keysyms, QObject* parent)
    : EscapeKeyGrab(globalKeys, parent) {
    if (!keysyms.isEmpty())
        symbols = std::move(keysyms);
}

EscapeKeyGrab::EscapeKeyGrab(GlobalKeys* globalKeys, QList<quint32> keysyms, quint32 held, QObject* parent)
    : EscapeKeyGrab(globalKeys, std::move(keysyms), parent) {
    modifiers = held;
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
        for (const quint32 other : extra)
            keys->ungrab(other);
        extra.clear();
        handle = 0;
        return true;
    }
    handle = keys->grab(symbols.value(0, escapeKeysym), modifiers);
    if (handle)
        for (qsizetype i = 1; i < symbols.size(); ++i)
            if (const quint32 other = keys->grab(symbols[i], modifiers))
                extra.append(other);
    return handle != 0;
}

bool EscapeKeyGrab::isActive() const {
    return handle != 0;
}
