#pragma once

#include "device/settingsblock.h"
#include "device/unitlink.h"

#include <vector>

// The check of a settings write: the read-back after the unit's pause, compared byte for byte
// with what was sent. Only a confirmed read-back is compared; one that came short, shifted or
// unconfirmed proves nothing and is reported as such. The one judgement for every writer of
// the block.
namespace VerifiedWrite {

enum class Outcome {
    Verified,   // the read-back equals the block sent
    NoReadBack, // the read-back was not complete
    Differs,    // the read-back differs from the block sent
};

struct Result {
    Outcome outcome = Outcome::NoReadBack;
    UnitLink::BlockReply readBack;
    SettingsBlock::Block sent{};
    SettingsBlock::Block back{}; // the read-back, when it was complete
    std::vector<SettingsBlock::Difference> differences;
    int bytesDiffering = 0; // of the 512
};

Result judge(const SettingsBlock::Block &sent, const UnitLink::BlockReply &readBack);

} // namespace VerifiedWrite
