#include "device/unitlink.h"

#include "device/commands.h"
#include "serial/serialchannel.h"

std::uint8_t UnitLink::handshake(bool *accepted)
{
    m_channel.sendByte(Command::Handshake);
    // Only a 'W' that came counts: a receive that timed out yields the transfer block's
    // earlier first byte, which may well be a 'W' from before.
    bool arrived = false;
    const std::uint8_t reply = m_channel.receiveByte(&arrived);
    *accepted = arrived && reply == Reply::Ready;
    return reply;
}

bool UnitLink::disconnect()
{
    m_channel.sendByte(Command::Disconnect);
    bool arrived = false;
    const std::uint8_t reply = m_channel.receiveByte(&arrived);
    return arrived && reply == Reply::Bye;
}

void UnitLink::sendDisconnect() { m_channel.sendByte(Command::Disconnect); }

int UnitLink::readSettings(std::uint8_t *into)
{
    m_channel.sendByte(Command::ReadSettings);
    return m_channel.receiveBytes(into, SettingsBlock::Size);
}

bool UnitLink::writeSettings(const std::uint8_t *block)
{
    return m_channel.sendByte(Command::WriteSettings) && m_channel.sendBlock(block);
}
