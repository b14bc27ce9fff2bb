#include "app/apperror.h"

#include "device/intconv.h"

ConversionError::ConversionError(const QString &text)
    : AppError(QStringLiteral("'%1' is not a valid integer value").arg(text))
{
}

std::int32_t toInteger(const QString &text)
{
    const std::optional<std::int32_t> value = parseInteger(text);
    if (!value)
        throw ConversionError(text);
    return *value;
}
