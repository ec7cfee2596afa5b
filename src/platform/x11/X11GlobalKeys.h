#pragma once
// Global keys as passive key grabs on the root window, made on a connection of our own so that
// Qt's connection and its event filters never see them.

#include "platform/GlobalKeys.h"

#include <QHash>
#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

class QSocketNotifier;

class X11GlobalKeys : public GlobalKeys {
    Q_OBJECT
public:
    // Connects to the display named by $DISPLAY (or the one given). askDetectableAutoRepeat false
    // keeps the server's default repeat reporting (for tests of the fallback).
    explicit X11GlobalKeys(const QByteArray& display = {}, QObject* parent = nullptr,
                           bool askDetectableAutoRepeat = true);
    ~X11GlobalKeys() override;

    quint32 grab(quint32 keysym, quint32 modifiers) override;
    void ungrab(quint32 handle) override;
    quint32 keysym(quint32 keycode, int column) const override;
    void catchUp() override;

    bool connected() const;
    // The server reports a held key as presses only, without a release before each repeat.
    bool detectableAutoRepeat() const { return detectable; }

private:
    struct Grab {
        QList<quint8> keycodes;
        quint16 mask = 0;
        quint16 numLock = 0; // the NumLock mask its lock variants were grabbed with
        quint32 keysym = 0;
        quint32 modifiers = 0;
    };

    void readEvents();
    void handle(xcb_generic_event_t* event);
    void readModifierMap();
    quint16 maskOf(quint32 modifiers) const;
    QList<quint16> lockVariants() const;
    void ungrabKeys(const QList<quint8>& keycodes, quint16 mask, quint16 numLock);
    // Grabs every variant of a combination; false when any was refused (the others are let go).
    bool grabKeys(const QList<quint8>& keycodes, quint16 mask);
    QList<quint8> keycodesOf(quint32 sym) const;
    // After the keyboard map or the modifier map changed, the same keys sit on other key codes.
    void regrabAll();
    void scheduleRegrab();

    xcb_connection_t* c = nullptr;
    quint32 root = 0;
    xcb_key_symbols_t* symbols = nullptr;
    QSocketNotifier* notifier = nullptr;
    bool detectable = false;
    quint16 superMask = 0, altMask = 0, numLockMask = 0;
    QHash<quint32, Grab> grabs;
    QHash<quint8, quint32> down; // keycode → handle whose press has not been released yet
    quint32 nextHandle = 1;
    bool regrabPending = false;
    quint8 xkbEvent = 0; // XKB's event code on this connection; 0 without XKB
};
