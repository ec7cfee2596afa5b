#pragma once
// Escape for a window that never takes the keyboard focus: while active, the Escape key is taken as a
// global key, so every Escape press reaches us whatever window has the focus. Every other key keeps
// going to the focused application.

#include <QObject>
#include <QPointer>

class GlobalKeys;

class EscapeKeyGrab : public QObject {
    Q_OBJECT
public:
    // Grabs through the process's global keys; with none, it never grabs.
    explicit EscapeKeyGrab(GlobalKeys* keys = nullptr, QObject* parent = nullptr);
    ~EscapeKeyGrab() override;

    // Grabs or lets go of the key. Returns false when the key could not be grabbed (another client
    // holds it, or there is no display); the window then still takes Escape whenever it has the focus.
    virtual bool setActive(bool active);
    virtual bool isActive() const;

signals:
    void pressed();

private:
    QPointer<GlobalKeys> keys;
    quint32 handle = 0;
};
