#pragma once

#include "device/settingsblock.h"
#include "device/unitlink.h"

class Clock;

// The procedures on the unit's settings block, as plain steps that return what happened; each
// caller turns the results into its own texts. The held block is
// the link's transfer block: only a block the unit has confirmed ever replaces it.

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

// The factory values over the held block's first bytes, sent whole, then read back (confirmed)
// into the read-back area at once and compared with what was sent.
class FactoryReset {
public:
    explicit FactoryReset(UnitLink &link) : m_link(link) {}
    // False when the port did not take the block.
    bool send();
    // Bytes of the read-back that differ from the block sent. A byte that did not come back
    // counts as a difference; a read-back that was shifted or not confirmed is no read-back
    // at all, and every byte counts.
    int check();
    // How the check's read-back came.
    const UnitLink::BlockReply &readBack() const { return m_reply; }

private:
    UnitLink &m_link;
    UnitLink::BlockReply m_reply;
};
