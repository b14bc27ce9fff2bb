#pragma once

#include "device/settingsblock.h"

#include <array>
#include <optional>
#include <vector>

// What a write of wanted field values to a unit comes to, worked out from the block the unit
// holds before anything is sent: the block that would go out, why it may not, and what it
// changes. The one plan for sending and for showing what a write would do.
namespace WritePlan {

// A wanted value per field, indexed like SettingsLayout::Fields; an empty one keeps the value
// of the block it is laid over. Values lie within their fields' widths.
using Wanted = std::array<std::optional<int>, SettingsLayout::Count>;

struct Request {
    Wanted wanted;
    // A whole block to send in place of the unit's own (a backup restored), the wanted values
    // laid over it.
    std::optional<SettingsBlock::Block> whole;
    // Lets a whole block of another device type than the unit's go to it.
    bool anyDeviceType = false;
};

// A value the write would change to one outside its field's range.
struct Refusal {
    const SettingsLayout::Field *field;
    int value;
};

// A whole block of another device type, refused unless the request lets it go.
struct ForeignType {
    int block;
    int unit;
};

struct Plan {
    SettingsBlock::Block outgoing{};
    std::optional<ForeignType> foreignType;
    std::vector<Refusal> refusals; // in block order
    // From the unit's block to the outgoing one.
    std::vector<SettingsBlock::Difference> differences;

    bool sendable() const { return !foreignType && refusals.empty(); }
};

// The informative fields always go out as the unit holds them. Only what the write changes is
// range-checked: an odd value the unit already holds goes back as it is.
Plan plan(const SettingsBlock::Block &unit, const Request &request);

// Stores every wanted value of a written field that differs from what `block` holds.
void layOver(SettingsBlock::Block &block, const Wanted &wanted);

} // namespace WritePlan
