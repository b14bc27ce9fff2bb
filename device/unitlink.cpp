#include "device/unitlink.h"

#include "device/commands.h"
#include "serial/serialchannel.h"

bool UnitLink::sendByte(std::uint8_t byte)
{
    readBack()[0] = byte;
    return m_channel.sendBytes(readBack(), 1);
}

std::uint8_t UnitLink::receiveByte(bool *arrived)
{
    const int got = m_channel.receiveBytes(transferBlock(), 1);
    if (arrived)
        *arrived = got == 1;
    return transferBlock()[0];
}

bool UnitLink::sendCommand(std::uint8_t command)
{
    m_channel.discardInput();
    return sendByte(command);
}

std::uint8_t UnitLink::ask(std::uint8_t command, std::uint8_t expected, bool *answered)
{
    sendCommand(command);
    bool arrived = false;
    const std::uint8_t reply = receiveByte(&arrived);
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

void UnitLink::sendDisconnect() { sendByte(Command::Disconnect); }

UnitLink::BlockReply UnitLink::readSettings(std::uint8_t *into)
{
    sendCommand(Command::ReadSettings);
    BlockReply reply;
    reply.received = m_channel.receiveBytes(into, SettingsBlock::Size);
    reply.misaligned = reply.received == SettingsBlock::Size && m_channel.moreFollows(QuietMs);
    return reply;
}

bool UnitLink::writeSettings(const std::uint8_t *block)
{
    return sendByte(Command::WriteSettings) && m_channel.sendBytes(block, SettingsBlock::Size);
}

std::optional<UnitLink::MeasurementReply> UnitLink::measure()
{
    MeasurementReply reply{};
    sendCommand(Command::Measure);
    if (m_channel.receiveBytes(reply.data(), MeasurementSize) != MeasurementSize ||
        m_channel.moreFollows(QuietMs))
        return std::nullopt;
    return reply;
}
