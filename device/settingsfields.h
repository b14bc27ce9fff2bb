#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// The 28 named fields of the settings block as the command-line tool names them in its
// settings files, in block order. A flag reads as 1 exactly when its byte is 1; a number is
// its byte, or its two bytes high first. Informative fields are shown but never written:
// their bytes always go back as the unit holds them.
namespace SettingsFields {

enum class Kind { Number, Flag };

struct Field {
    const char *key;
    int offset;
    int width; // 1 or 2 bytes
    Kind kind;
    bool written;
    int min; // the allowed range of a written value; flags 0-1
    int max;
};

constexpr int Count = 28;

const std::array<Field, Count> &all();
// nullptr for a key that names no field.
const Field *find(const QString &key);
// The field that holds `offset`, or nullptr for a pass-through byte.
const Field *at(int offset);

// Largest value the field's bytes can hold (1 for a flag).
int widthMax(const Field &field);

int value(const Field &field, const std::uint8_t *block);
// Stores value (within widthMax) in the field's bytes; a flag stores 1 or 0.
void store(const Field &field, std::uint8_t *block, int value);
bool inRange(const Field &field, int value);

// Where two blocks differ: one entry per named field with any differing byte, in block
// order, and one per differing pass-through byte (field == nullptr).
struct Difference {
    const Field *field;
    int offset;
};
std::vector<Difference> compare(const std::uint8_t *a, const std::uint8_t *b);

} // namespace SettingsFields
