#include "device/unitlink.h"

#include "device/commands.h"
#include "serial/serialchannel.h"

std::uint8_t UnitLink::ask(std::uint8_t command, std::uint8_t expected, bool *answered)
{
    m_channel.sendByte(command);
    // Only a byte that came counts: a receive that timed out yields the transfer block's
    // earlier first byte, which may well be the expected one from before.
    bool arrived = false;
    const std::uint8_t reply = m_channel.receiveByte(&arrived);
    *answered = arrived && reply == expected;
    return reply;
}

std::uint8_t UnitLink::handshake(bool *accepted)
{
    return ask(Command::Handshake, Reply::Ready, accepted);
}

bool UnitLink::disconnect()
{
    bool acknowledged = false;
    ask(Command::Disconnect, Reply::Bye, &acknowledged);
    return acknowledged;
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
