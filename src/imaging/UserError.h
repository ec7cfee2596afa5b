#pragma once
// Failures meant for the user: each carries the text a toast shows.

#include <QByteArray>
#include <QString>
#include <exception>

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
