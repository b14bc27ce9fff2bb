#include "device/blockprocedures.h"

#include "device/clock.h"

#include <algorithm>

UnitLink::BlockReply SettingsRead::run()
{
    SettingsBlock::Block reply;
    const UnitLink::BlockReply result = m_link.readConfirmed(reply.data());
    if (result.complete())
        std::copy(reply.begin(), reply.end(), m_link.transferBlock());
    return result;
}

bool SettingsWrite::send(const SettingsBlock::Block &block)
{
    std::uint8_t *held = m_link.transferBlock();
    std::copy(block.begin(), block.end(), held);
    return m_link.writeSettings(held);
}

void SettingsWrite::pause() const { m_clock.sleep(PauseMs); }

UnitLink::BlockReply SettingsWrite::readBack()
{
    pause();
    return SettingsRead(m_link).run();
}

bool FactoryReset::send()
{
    std::uint8_t *held = m_link.transferBlock();
    const auto &factory = SettingsBlock::factoryValues();
    std::copy(factory.begin(), factory.end(), held);
    return m_link.writeSettings(held);
}

int FactoryReset::check()
{
    m_reply = m_link.readConfirmed(m_link.readBack());
    const UnitLink::BlockReply &reply = m_reply;
    if (reply.misaligned || reply.unconfirmed)
        return SettingsBlock::Size;
    const std::uint8_t *sent = m_link.transferBlock();
    const std::uint8_t *back = m_link.readBack();
    int differences = SettingsBlock::Size - reply.received;
    for (int i = 0; i < reply.received; ++i)
        differences += sent[i] != back[i];
    return differences;
}
