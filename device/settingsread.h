#pragma once

#include "device/settingsblock.h"
#include "device/unitlink.h"

// A procedure on the unit's settings block, as plain steps that return what happened; each
// caller turns the results into its own texts. The held block is the link's transfer block:
// only a block the unit has confirmed ever replaces it.
//
// 'R' and the block, confirmed (UnitLink::readConfirmed).
class SettingsRead {
public:
    // The pause an interactive caller makes before it asks for the block.
    static constexpr int PauseMs = 1000;

    explicit SettingsRead(UnitLink &link) : m_link(link) {}
    // A confirmed block becomes the held block; anything else leaves it as it was.
    UnitLink::BlockReply run();

private:
    UnitLink &m_link;
};
