#include "platform/fake/FakeGlobalKeys.h"

quint32 FakeGlobalKeys::grab(quint32 keysym, quint32 modifiers) {
    ++grabCalls;
    if (taken.contains({keysym, modifiers}) || handleOf(keysym, modifiers))
        return 0;
    const quint32 handle = nextHandle++;
    grabs.insert(handle, {keysym, modifiers});
    return handle;
}

void FakeGlobalKeys::ungrab(quint32 handle) {
    grabs.remove(handle);
}

quint32 FakeGlobalKeys::keysym(quint32 keycode, int column) const {
    return keyboard.value({keycode, column}, 0);
}

quint32 FakeGlobalKeys::handleOf(quint32 keysym, quint32 modifiers) const {
    for (auto it = grabs.cbegin(); it != grabs.cend(); ++it)
        if (it.value() == Combination{keysym, modifiers})
            return it.key();
    return 0;
}

bool FakeGlobalKeys::press(quint32 keysym, quint32 modifiers, quint32 time) {
    const quint32 handle = handleOf(keysym, modifiers);
    if (handle)
        emit pressed(handle, time);
    return handle != 0;
}

bool FakeGlobalKeys::release(quint32 keysym, quint32 modifiers, quint32 time) {
    const quint32 handle = handleOf(keysym, modifiers);
    if (handle)
        emit released(handle, time);
    return handle != 0;
}

bool FakeGlobalKeys::holds(quint32 keysym, quint32 modifiers) const {
    return handleOf(keysym, modifiers) != 0;
}
