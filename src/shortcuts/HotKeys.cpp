#include "shortcuts/HotKeys.h"

#include "platform/Dispatch.h"
#include "platform/GlobalKeys.h"
#include "shortcuts/KeyCodes.h"

#include <QPointer>

HotKeys::HotKeys(GlobalKeys& keys, QObject* parent) : QObject(parent), globalKeys(keys) {}

quint32 HotKeys::platformModifiers(int mask) {
    quint32 flags = 0;
    if (mask & Shortcut::command)
        flags |= GlobalKeys::Super;
    if (mask & Shortcut::shift)
        flags |= GlobalKeys::Shift;
    if (mask & Shortcut::option)
        flags |= GlobalKeys::Alt;
    if (mask & Shortcut::control)
        flags |= GlobalKeys::Control;
    return flags;
}

std::optional<quint32> HotKeys::registerShortcut(const Shortcut& shortcut, std::function<void()> onRelease,
                                                 std::function<void()> handler) {
    if (!installed) {
        connect(&globalKeys, &GlobalKeys::pressed, this,
                [this](quint32 handle, quint32 time) { dispatch(handle, false, time); });
        connect(&globalKeys, &GlobalKeys::released, this,
                [this](quint32 handle, quint32 time) { dispatch(handle, true, time); });
        installed = true;
    }
    const quint32 id = nextID++;

    // The server lets a client grab the same combination twice, the second silently replacing the
    // first; two actions on one combination would leave one of them dead without a word.
    for (const Shortcut& other : std::as_const(registered))
        if (other.keyCode == shortcut.keyCode && other.modifiers == shortcut.modifiers)
            return std::nullopt;
    const quint32 sym = KeyCodes::keysym(shortcut.keyCode);
    if (!sym)
        return std::nullopt;
    const quint32 handle = globalKeys.grab(sym, platformModifiers(shortcut.modifiers));
    if (!handle)
        return std::nullopt;

    handlers.insert(id, std::move(handler));
    releaseHandlers.insert(id, std::move(onRelease));
    refs.insert(id, handle);
    registered.insert(id, shortcut);
    return id;
}

void HotKeys::unregister(quint32 id) {
    if (refs.contains(id))
        globalKeys.ungrab(refs.take(id));
    handlers.remove(id);
    releaseHandlers.remove(id);
    registered.remove(id);
}

void HotKeys::settleThen(int milliseconds, const QObject* owner, std::function<void()> block) {
    Dispatch::after(milliseconds, owner,
                    [self = QPointer<HotKeys>(this), tied = owner != nullptr, owner = QPointer<const QObject>(owner),
                     block = std::move(block)] {
                        if (self)
                            // Events read now queue their handlers like any other; the block
                            // queues behind them.
                            self->globalKeys.catchUp();
                        Dispatch::main([tied, owner, block] {
                            if (!tied || owner)
                                block();
                        });
                    });
}

void HotKeys::dispatch(quint32 handle, bool released, quint32 time) {
    const quint32 id = refs.key(handle, 0);
    if (!id)
        return;
    // Looked up when the queued call runs, so a handler unregistered in between does nothing.
    Dispatch::main([self = QPointer<HotKeys>(this), id, released, time] {
        if (!self)
            return;
        const auto& table = released ? self->releaseHandlers : self->handlers;
        // A copy: the handler may re-register and so replace the table entry it runs from.
        const std::function<void()> handler = table.value(id);
        if (!handler)
            return;
        self->currentTime = time;
        handler();
        if (self)
            self->currentTime = 0;
    });
}
