#pragma once

#include "device/commands.h"
#include "device/settingsblock.h"

#include <array>
#include <cstdint>
#include <optional>

class SerialChannel;

// The unit's exchanges over the serial channel, and the two 512-byte areas they share: the
// transfer block (the settings block as last read, and where single reply bytes land) and
// the read-back area right after it (the factory-reset check's copy; its first byte is the
// send buffer of sendByte()).
//
// The stale byte: a one-byte receive that gets nothing yields the transfer block's first byte
// as it stood, which is what the handshake's failure line shows. Only a byte that really
// arrived ever counts as an answer.
//
// Every command that expects a reply first drops whatever is waiting on the line, so a late,
// partial or unasked reply can never pass for the next one. A data reply counts only when all
// of it came and nothing followed it at once: bytes right behind it mean it was shifted.
class UnitLink {
public:
    // How long the line must stay quiet after a data reply for it to count as whole.
    static constexpr int QuietMs = 1;

    struct BlockReply {
        int received = 0;        // bytes of the reply that came
        bool misaligned = false; // all came, but more followed at once
        bool complete() const { return received == SettingsBlock::Size && !misaligned; }
    };
    using MeasurementReply = std::array<std::uint8_t, MeasurementSize>;

    explicit UnitLink(SerialChannel &channel) : m_channel(channel) {}
    SerialChannel &channel() const { return m_channel; }

    std::uint8_t *transferBlock() { return m_area.data(); }
    const std::uint8_t *transferBlock() const { return m_area.data(); }
    std::uint8_t *readBack() { return m_area.data() + SettingsBlock::Size; }
    const std::uint8_t *readBack() const { return m_area.data() + SettingsBlock::Size; }

    // One byte through the send buffer. False when the port did not take it.
    bool sendByte(std::uint8_t byte);
    // One byte into the transfer block's first byte; returns that byte afterwards (the
    // earlier one when nothing came). arrived (optional) tells whether a byte came.
    std::uint8_t receiveByte(bool *arrived = nullptr);
    // sendByte() after the line has been cleared of anything still waiting.
    bool sendCommand(std::uint8_t command);

    // 'U', one byte back. Returns the byte the receive yields; accepted tells whether a 'W'
    // really came.
    std::uint8_t handshake(bool *accepted);
    // 'Z' and one byte back; true when the unit said 'V'.
    bool disconnect();
    // 'Z' alone, no answer read (after a failed handshake).
    void sendDisconnect();

    // 'R', then the 512-byte block into `into`. A reply that is not complete() may have
    // changed `into` and must not be taken for the unit's settings.
    BlockReply readSettings(std::uint8_t *into);
    // 'S' and the whole block. False when the port did not take every byte.
    bool writeSettings(const std::uint8_t *block);

    // 0x10, then the 12-byte reply; nothing unless all of it came, alone.
    std::optional<MeasurementReply> measure();

private:
    std::uint8_t ask(std::uint8_t command, std::uint8_t expected, bool *answered);

    SerialChannel &m_channel;
    std::array<std::uint8_t, 2 * SettingsBlock::Size> m_area{};
};
