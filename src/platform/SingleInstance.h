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

    // Sends "reopen" (no files) or "open" with the files to a running instance.
    // True when one was running and acknowledged the request within the timeout.
    bool forward(const QStringList& files, int timeoutMs = 800) const;

    // Starts listening as the running instance. False when the socket could not be made.
    bool listen();

    QString socketPath() const { return path; }

signals:
    void reopenRequested();
    void openRequested(const QStringList& files);

private:
    void handle(const QByteArray& message);

    QString path;
    QLocalServer* server = nullptr;
};
