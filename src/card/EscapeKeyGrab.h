#pragma once
// Escape for a card that never takes the keyboard focus: while the pointer rests on the card, a passive
// grab of the Escape key on the root window (on a private X connection) hands every Escape press to us,
// whatever window has the focus. Every other key keeps going to the focused application.

#include <QObject>

#include <memory>

class EscapeKeyGrab : public QObject {
    Q_OBJECT
public:
    // The X11 grab when the application runs on an X display, otherwise one that never reports.
    static std::unique_ptr<EscapeKeyGrab> create();
    ~EscapeKeyGrab() override;

    // Grabs or lets go of the key. Returns false when the key could not be grabbed (another client holds
    // it, or there is no display); the card then still takes Escape whenever it has the focus.
    virtual bool setActive(bool active) = 0;
    virtual bool isActive() const = 0;

signals:
    void pressed();

protected:
    explicit EscapeKeyGrab(QObject* parent = nullptr);
};
