#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The unit's 512-byte settings block. 16-bit numbers are big-endian (high byte at the lower
// offset); a flag counts as set when its byte is exactly 1. Offsets 1-5, 28-33 and 44-511
// are never written from the window: they go back to the unit as they came.
namespace SettingsBlock {

constexpr int Size = 512;
constexpr int FactorySize = 50;
using Block = std::array<std::uint8_t, Size>;

// The values the window shows and writes. Numbers coming from the window may lie outside
// their field's width; encode() keeps the low bits, as the unit has always been sent them.
struct Values {
    std::int32_t version = 0;         // 0
    std::uint8_t deviceType = 0;      // 1, shown only
    std::uint16_t launchCount = 0;    // 4-5, shown only
    std::int32_t address = 0;         // 6
    std::int32_t zone = 0;            // 7
    bool litOnDuty = false;           // 8
    bool blinkOnFire = false;         // 9
    std::int32_t boardDrift = 0;      // 10-11
    std::int32_t lineDrift = 0;       // 12-13
    std::int32_t signalDeparture = 0; // 14-15
    std::int32_t openLevel = 0;       // 16-17
    std::int32_t inputShortLevel = 0; // 18-19
    std::int32_t triggerLevel = 0;    // 20-21
    std::array<bool, 6> relay{};      // 22-27: PPK1, PPK2, civil defence, line in, console, siren
    std::array<bool, 4> supervise{};  // 34-37: PPK1, PPK2, civil defence, console link
    std::int32_t blinkRate = 0;       // 38, track bar position
    std::int32_t boardDeparture = 0;  // 39
    std::int32_t lineShortLevel = 0;  // 40-41
    std::int32_t supervisionFrequency = 0; // 42, track bar position
    std::int32_t volume = 0;               // 43, track bar position
};

Values decode(const std::uint8_t *block);

// Lays the window's values over the block; every byte not bound to a written field stays.
void encode(const Values &values, std::uint8_t *block);

// The text for the device type byte, or nothing for codes the window does not name.
std::optional<QString> deviceTypeText(std::uint8_t code);

// What the factory reset stores at offsets 0-49.
const std::array<std::uint8_t, FactorySize> &factoryValues();

} // namespace SettingsBlock
