#pragma once

#include <array>
#include <cstdint>
#include <optional>

class SerialChannel;

// One measurement exchange: 0x10, then twelve bytes, six big-endian values in the order
// PPK1, PPK2, civil defence input, ADC, LIGHT, POWER. The reply lands in its own buffer,
// never in the settings block, and only a complete reply counts.
namespace Measurement {
constexpr int Light = 4;
constexpr int Power = 5;
using Values = std::array<std::uint16_t, 6>;
std::optional<Values> exchange(SerialChannel &channel);
Values decode(const std::uint8_t *reply);
} // namespace Measurement
