#pragma once

#include <QString>

// An error raised inside a handler. The handler boundary shows its message in the standard
// error box and the program carries on.
class AppError {
public:
    explicit AppError(QString message) : m_message(std::move(message)) {}
    virtual ~AppError() = default;
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// A setting field whose text is no integer: "'%s' is not a valid integer value".
class ConversionError : public AppError {
public:
    explicit ConversionError(const QString &text);
};
