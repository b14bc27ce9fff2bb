#pragma once

#include "device/settingsblock.h"
#include "device/settingsfields.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

// The settings file: JSON, two-space indentation, keys in a fixed order so that files diff
// well. "fields" holds the named fields in block order, "block" all 512 bytes as read. A file
// may give fewer fields than all 28; those it leaves out are taken from the block it is laid
// over.
namespace SettingsFile {

// A wanted value per field, in the order of SettingsFields::all().
using Wanted = std::array<std::optional<int>, SettingsFields::Count>;

struct Contents {
    SettingsBlock::Block block{};
    Wanted fields;
};

// time: ISO 8601.
QByteArray write(const SettingsBlock::Block &block, const QString &port, const QString &time);

// Nothing, with the reason, for a file that is not a settings file, has an unknown key or one
// given twice, a value of the wrong type or a number outside its field's width.
std::optional<Contents> parse(const QByteArray &json, QString *error);

// "KEY=VALUE" over `wanted`; false with the reason when it is malformed or names an
// informative field.
bool applySet(const QString &assignment, Wanted &wanted, QString *error);

// Lays every written field whose wanted value differs from the block's over the block.
void layOver(SettingsBlock::Block &block, const Wanted &wanted);

// "network_address: 1 -> 7", "offset 100: 0x00 -> 0x5a": one line per difference.
QString valueText(const SettingsFields::Field &field, const std::uint8_t *block);
std::vector<QString> differenceLines(const std::uint8_t *from, const std::uint8_t *to,
                                     const QString &arrow = QStringLiteral(" -> "));

} // namespace SettingsFile
