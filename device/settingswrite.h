#pragma once

#include "device/settingsblock.h"
#include "device/unitlink.h"

class Clock;

// A procedure on the unit's settings block, as plain steps that return what happened; each
// caller turns the results into its own texts. The held block is the link's transfer block:
// only a block the unit has confirmed ever replaces it.
//
// 'S' and a whole block, then the unit's pause before it can be read back.
class SettingsWrite {
public:
    // The unit stores the block before it answers again.
    static constexpr int PauseMs = 10000;

    SettingsWrite(UnitLink &link, const Clock &clock) : m_link(link), m_clock(clock) {}
    // Lays `block` in the transfer block and sends it. False when the port did not take it.
    bool send(const SettingsBlock::Block &block);
    void pause() const;
    // pause(), then a read whose confirmed block becomes the held block.
    UnitLink::BlockReply readBack();

private:
    UnitLink &m_link;
    const Clock &m_clock;
};
