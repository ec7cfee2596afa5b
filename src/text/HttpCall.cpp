#include "text/HttpCall.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {
constexpr qsizetype refusalLimit = 64 * 1024;
}

HttpCall::HttpCall(QUrl url) : address(std::move(url)) {}

HttpCall& HttpCall::stallTimeout(int ms) {
    stallMs = ms;
    return *this;
}

HttpCall& HttpCall::totalTimeout(qint64 ms) {
    totalMs = ms;
    return *this;
}

HttpCall& HttpCall::cancelFlag(const std::atomic<bool>* flag) {
    cancel = flag;
    return *this;
}

HttpCall& HttpCall::post(QByteArray data, QByteArray contentType) {
    isPost = true;
    body = std::move(data);
    type = std::move(contentType);
    return *this;
}

HttpCall& HttpCall::header(QByteArray name, QByteArray value) {
    headers.append({std::move(name), std::move(value)});
    return *this;
}

HttpCall& HttpCall::onData(std::function<bool(const QByteArray&)> r) {
    reader = std::move(r);
    return *this;
}

HttpCall& HttpCall::onProgress(std::function<void(qint64, qint64)> p) {
    progress = std::move(p);
    return *this;
}

HttpCall::Result HttpCall::run() {
    Result result;
    QEventLoop loop;
    QNetworkAccessManager manager;
    manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    // Our own server is on the loopback address: a proxy from the environment must not see it.
    const QString host = address.host();
    if (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"))
        manager.setProxy(QNetworkProxy::NoProxy);

    QNetworkRequest request(address);
    request.setTransferTimeout(stallMs);
    if (isPost)
        request.setHeader(QNetworkRequest::ContentTypeHeader, type);
    for (const auto& [name, value] : std::as_const(headers))
        request.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(isPost ? manager.post(request, body) : manager.get(request));
    QNetworkReply* r = reply.get();

    const auto status = [r] { return r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };
    qint64 delivered = 0;
    QObject::connect(r, &QNetworkReply::readyRead, r, [&] {
        const QByteArray chunk = r->readAll();
        delivered += chunk.size();
        // A refused or redirecting reply's body is of no use to the reader; a little of it may say why.
        if (status() >= 300) {
            result.refusal.append(chunk.left(refusalLimit - result.refusal.size()));
            return;
        }
        if (result.stoppedByReader || !reader)
            return;
        if (!reader(chunk)) {
            result.stoppedByReader = true;
            r->abort();
        }
    });
    if (progress)
        QObject::connect(r, &QNetworkReply::downloadProgress, r, [&](qint64 got, qint64 total) {
            if (status() < 300 && !result.stoppedByReader)
                progress(got, total);
        });
    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    QTimer cap;
    cap.setSingleShot(true);
    bool overTime = false;
    if (totalMs > 0) {
        QObject::connect(&cap, &QTimer::timeout, r, [&] {
            overTime = true;
            r->abort();
        });
        cap.start(std::chrono::milliseconds(totalMs));
    }
    QTimer poll;
    if (cancel) {
        QObject::connect(&poll, &QTimer::timeout, r, [&] {
            if (cancel->load()) {
                result.cancelled = true;
                r->abort();
            }
        });
        poll.start(50);
    }
    if (!r->isFinished())
        loop.exec();

    result.status = status();
    // Qt takes a closed connection for the end of a reply that said "Connection: close", even when
    // fewer bytes came than the reply announced: a cut download must not pass for a whole one.
    const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray coding = r->rawHeader("Content-Encoding");
    if (r->error() == QNetworkReply::NoError && !result.stoppedByReader && result.status < 300 && reader &&
        length.isValid() && (coding.isEmpty() || coding == "identity") && delivered < length.toLongLong())
        result.error = QStringLiteral("Connection closed before the end");
    if (r->error() != QNetworkReply::NoError && !result.stoppedByReader) {
        result.error = r->errorString();
        if (overTime)
            result.error = QStringLiteral("The transfer took longer than allowed");
        // Qt reports its own transfer time-out as a cancel, which the user never asked for.
        result.stalled = r->error() == QNetworkReply::OperationCanceledError && !result.cancelled && !overTime;
        if (result.stalled)
            result.error = QStringLiteral("no data for %1 s").arg((stallMs + 999) / 1000);
        if (result.error.isEmpty())
            result.error = QStringLiteral("Network error");
    }
    return result;
}
