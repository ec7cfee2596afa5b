#pragma once
// One blocking HTTP request on the calling thread, with its own network manager and event loop, so
// worker threads can fetch, probe and stream without the UI thread's help.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>

class HttpCall {
public:
    struct Result {
        // The final response's status after redirects; 0 when no response head arrived.
        int status = 0;
        // Qt's error text when the transfer failed; empty when it completed.
        QString error;
        bool cancelled = false;
        bool stoppedByReader = false;
        // No data came for the stall time-out.
        bool stalled = false;
        // The start of a refused reply's body (status 300 or more), for its reason.
        QByteArray refusal;
        bool ok() const { return error.isEmpty() || stoppedByReader; }
    };

    explicit HttpCall(QUrl url);

    // Without data for this long the transfer fails (Qt's transfer time-out).
    HttpCall& stallTimeout(int ms);
    // The whole transfer may take no longer than this.
    HttpCall& totalTimeout(qint64 ms);
    HttpCall& cancelFlag(const std::atomic<bool>* flag);
    HttpCall& post(QByteArray body, QByteArray contentType);
    HttpCall& header(QByteArray name, QByteArray value);
    // Receives the body of a successful response (status below 300) as it arrives; returning false
    // ends the transfer (not an error).
    HttpCall& onData(std::function<bool(const QByteArray&)> reader);
    // Bytes so far and the stated length (-1 when the server sent none).
    HttpCall& onProgress(std::function<void(qint64, qint64)> progress);

    Result run();

private:
    QUrl address;
    int stallMs = 60000;
    qint64 totalMs = 0;
    const std::atomic<bool>* cancel = nullptr;
    bool isPost = false;
    QByteArray body;
    QByteArray type;
    QList<std::pair<QByteArray, QByteArray>> headers;
    std::function<bool(const QByteArray&)> reader;
    std::function<void(qint64, qint64)> progress;
};
