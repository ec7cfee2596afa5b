#pragma once
// One running copy per user session. A second launch hands its request to the first and exits.

#include <QObject>
#include <QStringList>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // socketPath defaults to a socket in the session's runtime directory.
    explicit SingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Forwarded {
        Handled,   // a running copy queued the request and said so
        Pending,   // a running copy took the connection but has not answered yet (busy or stopped); the
                   // request waits in its socket and is handled when it gets to it
        NobodyRuns // nobody listens: this launch is the running copy
    };

    // Sends "reopen" (no files) or "open" with the files to a running instance, waiting at most timeoutMs
    // for the answer.
    Forwarded send(const QStringList& files, int timeoutMs = 5000) const;

    // True when a running copy has the request (handled or pending): this launch should exit.
    bool forward(const QStringList& files, int timeoutMs = 5000) const {
        return send(files, timeoutMs) != Forwarded::NobodyRuns;
    }

    // Starts listening as the running instance. A socket file is removed only when connecting to it is
    // refused (it was left by a copy that is gone); false when another copy listens or the socket could not
    // be made, or when another launch, deciding at the same moment, listens first.
    bool listen();

    QString socketPath() const { return path; }

signals:
    void reopenRequested();
    void openRequested(const QStringList& files);

private:
    void handle(const QByteArray& message);
    // Takes the lock beside the socket, waiting while another launch holds it until that one listens: false then.
    bool decideAlone();

    QString path;
    QLocalServer* server = nullptr;
    int lockFd = -1;
};
