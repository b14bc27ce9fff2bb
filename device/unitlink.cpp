#include "device/unitlink.h"

#include "device/protocol.h"
#include "serial/line.h"

#include <algorithm>

bool UnitLink::sendByte(std::uint8_t byte)
{
    readBack()[0] = byte;
    return m_line.sendBytes(readBack(), 1);
}

std::uint8_t UnitLink::receiveByte(bool *arrived)
{
    const int got = m_line.receiveBytes(transferBlock(), 1);
    if (arrived)
        *arrived = got == 1;
    return transferBlock()[0];
}

int UnitLink::quietMs() const { return m_line.adapter().settleMs; }

void UnitLink::failed(int bytes)
{
    m_recoveryMs = std::min(Line::receiveBoundMs(bytes), RecoveryCapMs);
}

void UnitLink::settle()
{
    m_line.settle(std::max(quietMs(), m_recoveryMs));
    m_recoveryMs = 0;
}

bool UnitLink::sendCommand(std::uint8_t command)
{
    settle();
    return sendByte(command);
}

std::uint8_t UnitLink::ask(std::uint8_t command, std::uint8_t expected, bool *answered)
{
    sendCommand(command);
    bool arrived = false;
    const std::uint8_t reply = receiveByte(&arrived);
    *answered = arrived && reply == expected;
    if (!*answered)
        failed(1);
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

UnitLink::BlockReply UnitLink::readSettings()
{
    sendCommand(Command::ReadSettings);
    BlockReply reply;
    reply.received = m_line.receiveBytes(reply.bytes.data(), SettingsBlock::Size);
    reply.misaligned = reply.received == SettingsBlock::Size && m_line.moreFollows(quietMs());
    if (!reply.complete())
        failed(SettingsBlock::Size);
    return reply;
}

UnitLink::BlockReply UnitLink::readConfirmed()
{
    std::optional<SettingsBlock::Block> previous;
    BlockReply reply;
    for (int read = 0; read < ConfirmReads; ++read) {
        reply = readSettings();
        if (reply.received < SettingsBlock::Size)
            return reply;
        if (reply.misaligned) {
            previous.reset();
            continue;
        }
        if (previous == reply.bytes)
            return reply;
        previous = reply.bytes;
    }
    reply.unconfirmed = !reply.misaligned;
    return reply;
}

bool UnitLink::writeSettings(const std::uint8_t *block)
{
    return sendByte(Command::WriteSettings) && m_line.sendBytes(block, SettingsBlock::Size);
}

std::optional<UnitLink::MeasurementReply> UnitLink::measure()
{
    MeasurementReply reply{};
    sendCommand(Command::Measure);
    if (m_line.receiveBytes(reply.data(), MeasurementSize) != MeasurementSize ||
        m_line.moreFollows(quietMs())) {
        failed(MeasurementSize);
        return std::nullopt;
    }
    return reply;
}
