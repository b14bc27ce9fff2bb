#include "device/settingsfields.h"

#include "device/settingsblock.h"

namespace SettingsFields {

namespace {
using K = Kind;
constexpr int Byte = 255;
constexpr int Word = 65535;
} // namespace

const std::array<Field, Count> &all()
{
    // The track-bar fields take only their bars' ranges; every other number its width.
    static const std::array<Field, Count> fields{{
        {"software_version", 0, 1, K::Number, true, 0, Byte},
        {"device_type", 1, 1, K::Number, false, 0, Byte},
        {"launch_count", 4, 2, K::Number, false, 0, Word},
        {"network_address", 6, 1, K::Number, true, 0, Byte},
        {"alert_zone", 7, 1, K::Number, true, 0, Byte},
        {"board_lit_on_duty", 8, 1, K::Flag, true, 0, 1},
        {"board_blinks_on_fire", 9, 1, K::Flag, true, 0, 1},
        {"board_current_drift", 10, 2, K::Number, true, 0, Word},
        {"alert_line_drift", 12, 2, K::Number, true, 0, Word},
        {"signal_departure_time", 14, 2, K::Number, true, 0, Word},
        {"open_line_level", 16, 2, K::Number, true, 0, Word},
        {"input_short_circuit_level", 18, 2, K::Number, true, 0, Word},
        {"trigger_level", 20, 2, K::Number, true, 0, Word},
        {"relay_on_ppk1", 22, 1, K::Flag, true, 0, 1},
        {"relay_on_ppk2", 23, 1, K::Flag, true, 0, 1},
        {"relay_on_gochs", 24, 1, K::Flag, true, 0, 1},
        {"relay_on_line_input", 25, 1, K::Flag, true, 0, 1},
        {"relay_on_console", 26, 1, K::Flag, true, 0, 1},
        {"relay_on_siren", 27, 1, K::Flag, true, 0, 1},
        {"supervise_ppk1", 34, 1, K::Flag, true, 0, 1},
        {"supervise_ppk2", 35, 1, K::Flag, true, 0, 1},
        {"supervise_gochs", 36, 1, K::Flag, true, 0, 1},
        {"supervise_console_link", 37, 1, K::Flag, true, 0, 1},
        {"board_blink_rate", 38, 1, K::Number, true, 2, 20},
        {"board_current_departure_time", 39, 1, K::Number, true, 0, Byte},
        {"line_short_circuit_level", 40, 2, K::Number, true, 0, Word},
        {"supervision_frequency", 42, 1, K::Number, true, 0, 100},
        {"message_volume", 43, 1, K::Number, true, 2, 16},
    }};
    return fields;
}

const Field *find(const QString &key)
{
    for (const Field &field : all()) {
        if (key == QLatin1String(field.key))
            return &field;
    }
    return nullptr;
}

const Field *at(int offset)
{
    for (const Field &field : all()) {
        if (offset >= field.offset && offset < field.offset + field.width)
            return &field;
    }
    return nullptr;
}

int widthMax(const Field &field)
{
    if (field.kind == Kind::Flag)
        return 1;
    return field.width == 2 ? Word : Byte;
}

int value(const Field &field, const std::uint8_t *block)
{
    const std::uint8_t *bytes = block + field.offset;
    if (field.kind == Kind::Flag)
        return bytes[0] == 1 ? 1 : 0;
    return field.width == 2 ? bytes[0] << 8 | bytes[1] : bytes[0];
}

void store(const Field &field, std::uint8_t *block, int value)
{
    std::uint8_t *bytes = block + field.offset;
    if (field.kind == Kind::Flag) {
        bytes[0] = value ? 1 : 0;
    } else if (field.width == 2) {
        bytes[0] = std::uint8_t(value >> 8);
        bytes[1] = std::uint8_t(value);
    } else {
        bytes[0] = std::uint8_t(value);
    }
}

bool inRange(const Field &field, int value) { return value >= field.min && value <= field.max; }

std::vector<Difference> compare(const std::uint8_t *a, const std::uint8_t *b)
{
    std::vector<Difference> differences;
    for (int offset = 0; offset < SettingsBlock::Size; ++offset) {
        if (a[offset] == b[offset])
            continue;
        const Field *field = at(offset);
        if (field && !differences.empty() && differences.back().field == field)
            continue;
        differences.push_back({field, field ? field->offset : offset});
    }
    return differences;
}

} // namespace SettingsFields
