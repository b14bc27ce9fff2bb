#pragma once

#include <array>
#include <cstdint>
#include <optional>

class UnitLink;

// One measurement: six big-endian values in the order PPK1, PPK2, civil defence input, ADC,
// LIGHT, POWER. Only a complete reply that stands alone counts; it never touches the
// settings block.
namespace Measurement {
constexpr int Light = 4;
constexpr int Power = 5;
using Values = std::array<std::uint16_t, 6>;
std::optional<Values> exchange(UnitLink &link);
Values decode(const std::uint8_t *reply);
} // namespace Measurement
