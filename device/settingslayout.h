#pragma once

#include <QString>
#include <array>
#include <cstddef>

// The unit's 512-byte settings block, field by field: the one description of where each setting
// lies, how it is stored and what a write may put there. A number is one byte, or two with the
// high byte at the lower offset; a flag is one byte and counts as set when it is exactly 1.
// Informative fields are read but never written, and so are the bytes outside every field
// (1-5 but for the fields there, 28-33 and 44-511): they go back to the unit as it holds them.
namespace SettingsLayout {

enum class Kind { Number, Flag };

// The fields in block order; each is its own index in Fields.
enum class FieldId {
    SoftwareVersion,
    DeviceType,
    LaunchCount,
    NetworkAddress,
    AlertZone,
    BoardLitOnDuty,
    BoardBlinksOnFire,
    BoardCurrentDrift,
    AlertLineDrift,
    SignalDepartureTime,
    OpenLineLevel,
    InputShortCircuitLevel,
    TriggerLevel,
    RelayOnPpk1,
    RelayOnPpk2,
    RelayOnGochs,
    RelayOnLineInput,
    RelayOnConsole,
    RelayOnSiren,
    SupervisePpk1,
    SupervisePpk2,
    SuperviseGochs,
    SuperviseConsoleLink,
    BoardBlinkRate,
    BoardCurrentDepartureTime,
    LineShortCircuitLevel,
    SupervisionFrequency,
    MessageVolume,
};
constexpr int Count = 28;

struct Field {
    FieldId id;
    const char *key; // its name in settings files and on the command line
    int offset;
    int width; // 1 or 2 bytes
    Kind kind;
    bool written;
    // What a write may give it: its width's range, or a narrower one (flags 0-1).
    int min;
    int max;
};

constexpr int ByteMax = 255;
constexpr int WordMax = 65535;

namespace detail {
constexpr std::array<Field, Count> fields()
{
    using enum FieldId;
    using enum Kind;
    constexpr int Byte = ByteMax;
    constexpr int Word = WordMax;
    return {{
        {SoftwareVersion, "software_version", 0, 1, Number, true, 0, Byte},
        {DeviceType, "device_type", 1, 1, Number, false, 0, Byte},
        {LaunchCount, "launch_count", 4, 2, Number, false, 0, Word},
        {NetworkAddress, "network_address", 6, 1, Number, true, 0, Byte},
        {AlertZone, "alert_zone", 7, 1, Number, true, 0, Byte},
        {BoardLitOnDuty, "board_lit_on_duty", 8, 1, Flag, true, 0, 1},
        {BoardBlinksOnFire, "board_blinks_on_fire", 9, 1, Flag, true, 0, 1},
        {BoardCurrentDrift, "board_current_drift", 10, 2, Number, true, 0, Word},
        {AlertLineDrift, "alert_line_drift", 12, 2, Number, true, 0, Word},
        {SignalDepartureTime, "signal_departure_time", 14, 2, Number, true, 0, Word},
        {OpenLineLevel, "open_line_level", 16, 2, Number, true, 0, Word},
        {InputShortCircuitLevel, "input_short_circuit_level", 18, 2, Number, true, 0, Word},
        {TriggerLevel, "trigger_level", 20, 2, Number, true, 0, Word},
        {RelayOnPpk1, "relay_on_ppk1", 22, 1, Flag, true, 0, 1},
        {RelayOnPpk2, "relay_on_ppk2", 23, 1, Flag, true, 0, 1},
        {RelayOnGochs, "relay_on_gochs", 24, 1, Flag, true, 0, 1},
        {RelayOnLineInput, "relay_on_line_input", 25, 1, Flag, true, 0, 1},
        {RelayOnConsole, "relay_on_console", 26, 1, Flag, true, 0, 1},
        {RelayOnSiren, "relay_on_siren", 27, 1, Flag, true, 0, 1},
        {SupervisePpk1, "supervise_ppk1", 34, 1, Flag, true, 0, 1},
        {SupervisePpk2, "supervise_ppk2", 35, 1, Flag, true, 0, 1},
        {SuperviseGochs, "supervise_gochs", 36, 1, Flag, true, 0, 1},
        {SuperviseConsoleLink, "supervise_console_link", 37, 1, Flag, true, 0, 1},
        // The blink rate, the supervision frequency and the volume take narrower ranges.
        {BoardBlinkRate, "board_blink_rate", 38, 1, Number, true, 2, 20},
        {BoardCurrentDepartureTime, "board_current_departure_time", 39, 1, Number, true, 0, Byte},
        {LineShortCircuitLevel, "line_short_circuit_level", 40, 2, Number, true, 0, Word},
        {SupervisionFrequency, "supervision_frequency", 42, 1, Number, true, 0, 100},
        {MessageVolume, "message_volume", 43, 1, Number, true, 2, 16},
    }};
}
} // namespace detail

inline constexpr std::array<Field, Count> Fields = detail::fields();

constexpr const Field &field(FieldId id) { return Fields[std::size_t(id)]; }

// Largest value the field's bytes can hold (1 for a flag).
constexpr int widthMax(const Field &field)
{
    if (field.kind == Kind::Flag)
        return 1;
    return field.width == 2 ? WordMax : ByteMax;
}

constexpr bool inRange(const Field &field, int value)
{
    return value >= field.min && value <= field.max;
}

// nullptr for a key that names no field.
const Field *find(const QString &key);
// The field that holds `offset`, or nullptr for a byte outside every field.
const Field *at(int offset);

} // namespace SettingsLayout
