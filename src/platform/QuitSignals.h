#pragma once
// SIGTERM, SIGINT and SIGHUP turned into an orderly quit: the handler only writes a byte to a pipe, and the
// event loop reads it and asks the application to quit, so the usual shut-down (children stopped, settings
// flushed) runs instead of the process simply vanishing.

#include <QObject>

#include <functional>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for the life of this object; the previous ones come back with its end.
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // The display going away (a logout, a display restart) is a quit too, but the toolkit ends the process
    // with exit() at once, leaving no event loop to quit through and tearing static objects down under running
    // threads. When the toolkit says the display connection broke, orderlyEnd runs on the spot and the
    // process ends with status 1, without that teardown. Set once, for the life of the program.
    static void endOnDisplayLoss(std::function<void()> orderlyEnd);
    // Waits until every child process of ours has ended, at most timeoutMs: a child cut off by our end could
    // leave a file half written.
    static void waitForChildren(int timeoutMs);

signals:
    // One of the signals arrived; emitted on the event loop's thread, once per signal.
    void quitRequested(int signal);

private:
    QSocketNotifier* notifier = nullptr;
};
