#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The integer conversion of the setting fields: leading blanks, then either an optional sign
// and decimal digits within the signed 32-bit range, or a hexadecimal number of at most eight
// digits introduced by "$", "x", "X", "0x" or "0X". Nothing may follow; empty text fails.
std::optional<std::int32_t> parseInteger(const QString &text);
