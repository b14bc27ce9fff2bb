#include "device/settingsread.h"

#include <algorithm>

UnitLink::BlockReply SettingsRead::run()
{
    const UnitLink::BlockReply reply = m_link.readConfirmed();
    if (const auto block = reply.block())
        std::copy(block->begin(), block->end(), m_link.transferBlock());
    return reply;
}
