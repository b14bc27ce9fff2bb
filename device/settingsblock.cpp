#include "device/settingsblock.h"

namespace SettingsBlock {

namespace {

std::uint16_t get16(const std::uint8_t *block, int offset)
{
    return std::uint16_t(block[offset] << 8 | block[offset + 1]);
}

void put16(std::uint8_t *block, int offset, std::int32_t value)
{
    block[offset] = std::uint8_t(std::uint32_t(value) >> 8);
    block[offset + 1] = std::uint8_t(value);
}

void put8(std::uint8_t *block, int offset, std::int32_t value)
{
    block[offset] = std::uint8_t(value);
}

constexpr int RelayOffset = 22;
constexpr int SuperviseOffset = 34;

} // namespace

Values decode(const std::uint8_t *block)
{
    Values v;
    v.version = block[0];
    v.deviceType = block[1];
    v.launchCount = get16(block, 4);
    v.address = block[6];
    v.zone = block[7];
    v.litOnDuty = block[8] == 1;
    v.blinkOnFire = block[9] == 1;
    v.boardDrift = get16(block, 10);
    v.lineDrift = get16(block, 12);
    v.signalDeparture = get16(block, 14);
    v.openLevel = get16(block, 16);
    v.inputShortLevel = get16(block, 18);
    v.triggerLevel = get16(block, 20);
    for (int i = 0; i < 6; ++i)
        v.relay[i] = block[RelayOffset + i] == 1;
    for (int i = 0; i < 4; ++i)
        v.supervise[i] = block[SuperviseOffset + i] == 1;
    v.blinkRate = block[38];
    v.boardDeparture = block[39];
    v.lineShortLevel = get16(block, 40);
    v.supervisionFrequency = block[42];
    v.volume = block[43];
    return v;
}

void encode(const Values &v, std::uint8_t *block)
{
    put8(block, 0, v.version);
    put8(block, 6, v.address);
    put8(block, 7, v.zone);
    put16(block, 10, v.boardDrift);
    put16(block, 12, v.lineDrift);
    put16(block, 14, v.signalDeparture);
    put16(block, 16, v.openLevel);
    put16(block, 18, v.inputShortLevel);
    put16(block, 20, v.triggerLevel);
    put16(block, 40, v.lineShortLevel);
    for (int i = 0; i < 6; ++i)
        block[RelayOffset + i] = v.relay[i] ? 1 : 0;
    for (int i = 0; i < 4; ++i)
        block[SuperviseOffset + i] = v.supervise[i] ? 1 : 0;
    block[8] = v.litOnDuty ? 1 : 0;
    block[9] = v.blinkOnFire ? 1 : 0;
    put8(block, 38, v.blinkRate);
    put8(block, 42, v.supervisionFrequency);
    put8(block, 43, v.volume);
    put8(block, 39, v.boardDeparture);
}

std::optional<QString> deviceTypeText(std::uint8_t code)
{
    switch (code) {
    case 1:
        return QStringLiteral("ТАРВИК2");
    case 2:
        return QStringLiteral("ПУЛЬТ");
    case 3:
        return QStringLiteral("Модуль входов");
    default:
        return std::nullopt;
    }
}

const std::array<std::uint8_t, FactorySize> &factoryValues()
{
    static const std::array<std::uint8_t, FactorySize> values{
        0x03, 0x01, 0x01, 0x39, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x1E, 0x00,
        0x14, 0x03, 0xE8, 0x0D, 0xAC, 0x02, 0xBC, 0x0B, 0x54, 0x01, 0x01, 0x01, 0x01,
        0x01, 0x01, 0x02, 0x60, 0x01, 0x9C, 0x0A, 0xD1, 0x01, 0x01, 0x01, 0x00, 0x0A,
        0x32, 0x0C, 0x1C, 0x33, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    return values;
}

} // namespace SettingsBlock
