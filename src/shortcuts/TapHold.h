#pragma once
// Tells a tap of a hot key from a hold: a release within holdDelay of its press is a tap; a key
// still down after holdDelay runs the hold action at once, and its release then does nothing.
// When the key events carry the server's times, those decide, not when the events were read: a
// press and release read together after a busy spell are a hold when they lie holdDelay apart.

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class TapHold : public QObject {
    Q_OBJECT
public:
    static constexpr int holdDelay = 280; // milliseconds

    // Runs the block after the delay on the main thread, unless the owner is gone by then.
    using Schedule = std::function<void(int milliseconds, const QObject* owner, std::function<void()> block)>;
    using Action = std::function<void(const QString& key)>;

    // held and fired are per action key and belong to the caller, which shows them to others.
    TapHold(QHash<QString, bool>& held, QHash<QString, bool>& fired, Schedule schedule, Action tap, Action hold,
            QObject* parent = nullptr);

    // time is the server's time of the key event in milliseconds (it wraps), 0 when unknown.
    void keyPressed(const QString& key, quint32 time = 0);
    void keyReleased(const QString& key, quint32 time = 0);
    // The key's registration went away: its release will never come, so it counts as up, and a hold
    // check still pending does nothing.
    void forget(const QString& key);

private:
    void holdCheck(const QString& key, quint64 press);

    QHash<QString, bool>& held;
    QHash<QString, bool>& fired;
    Schedule schedule;
    Action tap;
    Action hold;
    // Numbers each press, so a hold check only acts on the press that scheduled it.
    QHash<QString, quint64> presses;
    QHash<QString, quint32> pressTimes; // server time of the key's last press, 0 when unknown
};
