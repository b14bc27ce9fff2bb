#include "app/apperror.h"

ConversionError::ConversionError(const QString &text)
    : AppError(QStringLiteral("'%1' is not a valid integer value").arg(text))
{
}
