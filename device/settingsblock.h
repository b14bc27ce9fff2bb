#pragma once

#include "device/settingslayout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The codec of the unit's settings block, built on its layout (SettingsLayout): a field's value
// read from its bytes or stored in them, the whole block as values, and where two blocks
// differ.
namespace SettingsBlock {

constexpr int Size = 512;
constexpr int FactorySize = 50;
using Block = std::array<std::uint8_t, Size>;

using SettingsLayout::Field;
using SettingsLayout::FieldId;

// A value per field: a flag 0 or 1, a number its bytes' value. A value given to encode() may
// lie outside its field's width; the low bits are stored, as the unit has always been sent them.
struct Values {
    std::array<std::int32_t, SettingsLayout::Count> values{};

    std::int32_t &operator[](FieldId id) { return values[std::size_t(id)]; }
    std::int32_t operator[](FieldId id) const { return values[std::size_t(id)]; }
    bool operator==(const Values &) const = default;
};

int value(const Field &field, const std::uint8_t *block);
// The low bits of `value` in the field's bytes; a flag stores 1 for any value but 0.
void store(const Field &field, std::uint8_t *block, std::int32_t value);

// Every field's value, informative ones included.
Values decode(const std::uint8_t *block);
// Stores the written fields' values; every other byte stays.
void encode(const Values &values, std::uint8_t *block);

// Where two blocks differ: one entry per field with any differing byte, in block order, and
// one per differing byte outside every field (field == nullptr).
struct Difference {
    const Field *field;
    int offset;
};
std::vector<Difference> compare(const std::uint8_t *a, const std::uint8_t *b);

// The device types the type byte names; any other code is a type of no known name.
enum class DeviceType : std::uint8_t { Announcer = 1, Console = 2, InputModule = 3 };
std::optional<DeviceType> deviceType(int code);

// What the factory reset stores at offsets 0-49.
const std::array<std::uint8_t, FactorySize> &factoryValues();

} // namespace SettingsBlock
