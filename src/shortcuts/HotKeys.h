#pragma once
// The process's global hot keys: each registration gets an id that is never reused, with a press
// handler and a release handler that run on the main thread.

#include "shortcuts/Shortcut.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class GlobalKeys;

class HotKeys : public QObject {
    Q_OBJECT
public:
    explicit HotKeys(GlobalKeys& keys, QObject* parent = nullptr);

    // The new id, or nothing when the combination cannot be had: another program holds it, this
    // process already registered it, or its key is on no key of the keyboard. The id is spent
    // either way.
    std::optional<quint32> registerShortcut(const Shortcut& shortcut, std::function<void()> onRelease,
                                            std::function<void()> handler);
    void unregister(quint32 id);

    GlobalKeys& keys() const { return globalKeys; }
    // The server's time of the key event whose handler is running (milliseconds, wrapping), 0 when
    // unknown or outside a handler.
    quint32 eventTime() const { return currentTime; }
    // Runs the block on the main thread after the delay, unless owner is gone by then, and only once
    // every key event the server sent by then has reached its handler: a decision taken on a timer
    // sees a release that waited behind a busy main thread.
    void settleThen(int milliseconds, const QObject* owner, std::function<void()> block);
    // The platform's modifier flags for a stored mask.
    static quint32 platformModifiers(int mask);

    QHash<quint32, std::function<void()>> handlers;
    QHash<quint32, std::function<void()>> releaseHandlers;
    QHash<quint32, quint32> refs; // id → the grab's handle
    bool installed = false;
    quint32 nextID = 1;

private:
    void dispatch(quint32 handle, bool released, quint32 time);

    GlobalKeys& globalKeys;
    QHash<quint32, Shortcut> registered; // id → its combination, to refuse a second registration
    quint32 currentTime = 0;
};
