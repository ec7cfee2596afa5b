#pragma once
// Key combinations that reach us whichever window has the keyboard. Keys are named by their
// X keysym (the unshifted symbol, e.g. XK_d), so a combination means the same key on every layout
// that has that symbol.

#include <QObject>

class GlobalKeys : public QObject {
    Q_OBJECT
public:
    enum Modifier : quint32 { Super = 1, Shift = 2, Alt = 4, Control = 8 };

    using QObject::QObject;
    ~GlobalKeys() override = default;

    // Takes the combination for this process. Returns a handle (never 0), or 0 when it cannot be
    // had: another client or this process already holds it, the keysym is on no key of the current
    // keyboard, or there is no display. A refused grab leaves nothing grabbed.
    virtual quint32 grab(quint32 keysym, quint32 modifiers) = 0;
    // Gives a combination back; an unknown handle does nothing.
    virtual void ungrab(quint32 handle) = 0;
    // The keysym a key (its X keycode, as key events report it) carries in a column of the keyboard
    // map: 0 is the plain symbol, 1 the shifted one. 0 when the key has none there.
    virtual quint32 keysym(quint32 keycode, int column) const = 0;
    // Reports now, through pressed and released, every key event the server sent before this call,
    // also those still waiting behind a busy main thread.
    virtual void catchUp() {}

signals:
    // The combination went down: once per press, auto-repeat is filtered out. time is the server's
    // time of the event in milliseconds (it wraps), 0 when unknown.
    void pressed(quint32 handle, quint32 time = 0);
    // Its key came up again, whatever modifiers were let go first.
    void released(quint32 handle, quint32 time = 0);
};
