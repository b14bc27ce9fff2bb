#include "device/settingsread.h"

#include <algorithm>

UnitLink::BlockReply SettingsRead::run()
{
    SettingsBlock::Block reply;
    const UnitLink::BlockReply result = m_link.readConfirmed(reply.data());
    if (result.complete())
        std::copy(reply.begin(), reply.end(), m_link.transferBlock());
    return result;
}
