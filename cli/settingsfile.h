#pragma once

#include "device/settingsblock.h"
#include "device/writeplan.h"

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

using Wanted = WritePlan::Wanted;

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

// "network_address: 1 -> 7", "offset 100: 0x00 -> 0x5a": one line per difference.
QString valueText(const SettingsLayout::Field &field, const std::uint8_t *block);
std::vector<QString> differenceLines(const std::vector<SettingsBlock::Difference> &differences,
                                     const std::uint8_t *from, const std::uint8_t *to,
                                     const QString &arrow = QStringLiteral(" -> "));
// The same for every difference between the two blocks.
std::vector<QString> differenceLines(const std::uint8_t *from, const std::uint8_t *to,
                                     const QString &arrow = QStringLiteral(" -> "));

} // namespace SettingsFile
