#include "device/settingsblock.h"

namespace SettingsBlock {

int value(const Field &field, const std::uint8_t *block)
{
    const std::uint8_t *bytes = block + field.offset;
    if (field.kind == SettingsLayout::Kind::Flag)
        return bytes[0] == 1 ? 1 : 0;
    return field.width == 2 ? bytes[0] << 8 | bytes[1] : bytes[0];
}

void store(const Field &field, std::uint8_t *block, std::int32_t value)
{
    std::uint8_t *bytes = block + field.offset;
    if (field.kind == SettingsLayout::Kind::Flag) {
        bytes[0] = value ? 1 : 0;
    } else if (field.width == 2) {
        bytes[0] = std::uint8_t(std::uint32_t(value) >> 8);
        bytes[1] = std::uint8_t(value);
    } else {
        bytes[0] = std::uint8_t(value);
    }
}

Values decode(const std::uint8_t *block)
{
    Values values;
    for (const Field &field : SettingsLayout::Fields)
        values[field.id] = value(field, block);
    return values;
}

void encode(const Values &values, std::uint8_t *block)
{
    for (const Field &field : SettingsLayout::Fields) {
        if (field.written)
            store(field, block, values[field.id]);
    }
}

std::vector<Difference> compare(const std::uint8_t *a, const std::uint8_t *b)
{
    std::vector<Difference> differences;
    for (int offset = 0; offset < Size; ++offset) {
        if (a[offset] == b[offset])
            continue;
        const Field *field = SettingsLayout::at(offset);
        if (field && !differences.empty() && differences.back().field == field)
            continue;
        differences.push_back({field, field ? field->offset : offset});
    }
    return differences;
}

std::optional<DeviceType> deviceType(int code)
{
    switch (code) {
    case int(DeviceType::Announcer):
    case int(DeviceType::Console):
    case int(DeviceType::InputModule):
        return DeviceType(code);
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
