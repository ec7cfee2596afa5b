#pragma once
// Global keys in memory: the test decides which combinations another program holds and presses
// the keys itself.

#include "platform/GlobalKeys.h"

#include <QHash>
#include <QPair>
#include <QSet>

class FakeGlobalKeys : public GlobalKeys {
    Q_OBJECT
public:
    using Combination = QPair<quint32, quint32>; // keysym, modifiers

    using GlobalKeys::GlobalKeys;

    quint32 grab(quint32 keysym, quint32 modifiers) override;
    void ungrab(quint32 handle) override;
    quint32 keysym(quint32 keycode, int column) const override;

    // Presses and releases the combination as the server would report it to its holder, at the server's
    // time given (0: unknown); false when this process does not hold it.
    bool press(quint32 keysym, quint32 modifiers, quint32 time = 0);
    bool release(quint32 keysym, quint32 modifiers, quint32 time = 0);

    bool holds(quint32 keysym, quint32 modifiers) const;

    QSet<Combination> taken;                      // held by other programs
    QHash<quint32, Combination> grabs;            // ours, by handle
    QHash<QPair<quint32, int>, quint32> keyboard; // (keycode, column) → keysym
    int grabCalls = 0;

private:
    quint32 handleOf(quint32 keysym, quint32 modifiers) const;
    quint32 nextHandle = 1;
};
