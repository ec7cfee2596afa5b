#pragma once
// Escape (or other plain keys) for a window that never takes the keyboard focus: while active, the keys
// are taken as global keys, so every press reaches us whatever window has the focus. Every other key
// keeps going to the focused application.

#include <QList>
#include <QObject>
#include <QPointer>

class GlobalKeys;

class EscapeKeyGrab : public QObject {
    Q_OBJECT
public:
    // Grabs through the process's global keys; with none, it never grabs.
    explicit EscapeKeyGrab(GlobalKeys* keys = nullptr, QObject* parent = nullptr);
    // The same for other unmodified keys, named by keysym (Delete and BackSpace for the card's review).
    EscapeKeyGrab(GlobalKeys* keys, QList<quint32> keysyms, QObject* parent = nullptr);
    // Keys held with modifiers (GlobalKeys::Modifier), such as Ctrl+C.
    EscapeKeyGrab(GlobalKeys* keys, QList<quint32> keysyms, quint32 modifiers, QObject* parent = nullptr);
    ~EscapeKeyGrab() override;

    // Grabs or lets go of the key. Returns false when the key could not be grabbed (another client
    // holds it, or there is no display); the window then still takes Escape whenever it has the focus.
    virtual bool setActive(bool active);
    virtual bool isActive() const;
    // The keys it grabs, by keysym.
    const QList<quint32>& keysyms() const { return symbols; }

signals:
    void pressed();

private:
    QPointer<GlobalKeys> keys;
    quint32 handle = 0;
    QList<quint32> symbols{0xff1b};
    quint32 modifiers = 0;
    QList<quint32> extra; // handles of the keys after the first
};
