#pragma once

#include "device/settingsblock.h"
#include "device/unitlink.h"

// A procedure on the unit's settings block, as plain steps that return what happened; each
// caller turns the results into its own texts. The held block is the link's transfer block:
// only a block the unit has confirmed ever replaces it.
//
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
