#pragma once
// SIGTERM, SIGINT and SIGHUP turned into an orderly quit: the handler only writes a byte to a pipe, and the
// event loop reads it and asks the application to quit, so the usual shut-down (children stopped, settings
// flushed) runs instead of the process simply vanishing.

#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for the life of this object; the previous ones come back with its end.
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    // One of the signals arrived; emitted on the event loop's thread, once per signal.
    void quitRequested(int signal);

private:
    QSocketNotifier* notifier = nullptr;
};
