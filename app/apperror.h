#pragma once

#include <QString>
#include <cstdint>

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

// A setting field's text as an integer (the conversion of device/intconv.h), raising
// ConversionError with the text when it is none.
std::int32_t toInteger(const QString &text);
