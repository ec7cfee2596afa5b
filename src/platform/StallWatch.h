#pragma once
// Reports, on standard error, each time the main thread's event loop stops answering for longer than a
// threshold, with the main thread's stack as it was while it stalled. Off unless the environment variable
// PICTOLARIUM_STALL_WATCH names the threshold in milliseconds.
//
// The main thread beats every 50 ms on a timer; a watcher thread notices a late beat and, once it is later than
// the threshold, stops the main thread for a moment with a signal to note where it is. When the beat comes back
// the main thread writes one report:
//
//   pictolarium: stall of 612 ms; the main thread was in:
//       #0 ImageConvert::load(QUrl const&)
//       ...
//
// The launch itself, before the event loop first turns, says "stall of 612 ms during start-up"; from that first
// turn on, the program's own start included, every stall is told as any other. Time
// the whole process was held (stopped by a signal, or given no turn by a busy machine) is not counted.

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class QTimer;

class StallWatch : public QObject {
    Q_OBJECT
public:
    // The watch the environment asks for, or none. Made on the main thread once the application object is.
    static std::unique_ptr<StallWatch> fromEnvironment();

    explicit StallWatch(int thresholdMs);
    ~StallWatch() override;

    static constexpr int beatMs = 50;

private:
    // A beat of the loop; `launch` for its first turn, which ends the launch.
    void beat(bool launch);
    void watch();
    // Counts a gap in the watcher's turns as time the whole process was held; true when there was one.
    bool notePause(qint64 now);

    static constexpr int tickMs = 10;
    static constexpr int pauseMs = 60;

    const int threshold;
    QTimer* timer;
    std::atomic<qint64> lastBeat; // steady clock, in ms
    std::atomic<quint64> beats{0};
    std::atomic<qint64> lastTick; // the watcher's last turn
    std::atomic<qint64> heldMs{0};
    std::atomic<bool> capturing{false}; // the watcher is busy noting the main thread's stack
    std::atomic<bool> stopping{false};
    std::mutex pendingLock;
    quint64 pendingBeat = ~quint64(0); // the beat the stack was caught after
    QByteArray pendingStack;
    std::thread watcher;
};
