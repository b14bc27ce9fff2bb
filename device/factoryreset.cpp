#include "device/factoryreset.h"

#include <algorithm>

bool FactoryReset::send()
{
    std::uint8_t *held = m_link.transferBlock();
    const auto &factory = SettingsBlock::factoryValues();
    std::copy(factory.begin(), factory.end(), held);
    return m_link.writeSettings(held);
}

int FactoryReset::check()
{
    m_reply = m_link.readConfirmed();
    const UnitLink::BlockReply &reply = m_reply;
    // The read-back area holds the check's copy, as far as it came.
    std::copy_n(reply.bytes.begin(), reply.received, m_link.readBack());
    if (reply.misaligned || reply.unconfirmed)
        return SettingsBlock::Size;
    const std::uint8_t *sent = m_link.transferBlock();
    const std::uint8_t *back = m_link.readBack();
    int differences = SettingsBlock::Size - reply.received;
    for (int i = 0; i < reply.received; ++i)
        differences += sent[i] != back[i];
    return differences;
}
