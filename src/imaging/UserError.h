#pragma once
// Failures meant for the user: each carries the text a toast shows.

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

class UserError : public std::exception {
public:
    explicit UserError(QString text) : message(std::move(text)), utf8(message.toUtf8()) {}
    const char* what() const noexcept override { return utf8.constData(); }

    QString message;

private:
    QByteArray utf8;
};

// An image conversion, load or write failed.
class ConvertError : public UserError {
public:
    using UserError::UserError;
};

// Runs `work` and returns, in words for the user, what it threw: the message of a UserError (what() carries it),
// the text of any other exception, `otherwise` for anything else. Empty when it threw nothing. For work run on a
// worker, whose failure is told on the main thread.
template <class Work>
QString failureOf(Work&& work, const QString& otherwise = QStringLiteral("Something went wrong")) {
    try {
        std::forward<Work>(work)();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return otherwise;
    }
    return {};
}
