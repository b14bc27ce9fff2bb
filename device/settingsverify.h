#pragma once

#include "device/settingsblock.h"
#include "device/settingsfields.h"
#include "device/unitlink.h"

#include <vector>

class Clock;

// A settings write that is checked: 'S' and the block, the unit's pause, a read-back and a
// byte-for-byte comparison with what was sent. Only a confirmed read-back is compared; one
// that came short, shifted or unconfirmed proves nothing and is reported as such.
class VerifiedWrite {
public:
    enum class Outcome {
        Verified,   // the read-back equals the block sent
        Sent,       // sent, and no read-back was asked for
        NotSent,    // the port did not take the command and the block
        NoReadBack, // the read-back was not complete
        Differs,    // the read-back differs from the block sent
    };
    struct Result {
        Outcome outcome = Outcome::NotSent;
        UnitLink::BlockReply readBack;
        SettingsBlock::Block sent{};
        SettingsBlock::Block back{}; // the read-back, when it was complete
        std::vector<SettingsFields::Difference> differences;
        int bytesDiffering = 0; // of the 512
    };

    VerifiedWrite(UnitLink &link, const Clock &clock) : m_link(link), m_clock(clock) {}
    // Without verify the write ends once the block is sent: no pause, no read-back.
    Result run(const SettingsBlock::Block &block, bool verify = true);

    // The one judgement of a read-back: `back` (the read's destination) against what was
    // sent, for every writer of the block.
    static Result judge(const SettingsBlock::Block &sent, const UnitLink::BlockReply &readBack,
                        const std::uint8_t *back);

private:
    UnitLink &m_link;
    const Clock &m_clock;
};
