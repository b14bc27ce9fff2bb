#pragma once

#include "device/protocol.h"
#include "device/settingsblock.h"

#include <array>
#include <cstdint>
#include <optional>

class Line;

// The unit's exchanges over a line, and the two 512-byte areas they share: the
// transfer block (the settings block as last read, and where single reply bytes land) and
// the read-back area right after it (the factory-reset check's copy; its first byte is the
// send buffer of sendByte()).
//
// The stale byte: a one-byte receive that gets nothing yields the transfer block's first byte
// as it stood, which is what the handshake's failure line shows. Only a byte that really
// arrived ever counts as an answer.
//
// Every command that expects a reply waits first until the line has been quiet for the
// adapter's settle window, and drops whatever came meanwhile, so a late, partial or unasked
// reply can never pass for the next one. A data reply counts only when all of it came and the
// line then stayed quiet for the same window: bytes right behind it mean it was shifted.
// After an exchange that failed (a reply short, missing, wrong or followed by more) the bytes
// of that reply may still come, so the next command waits for a longer quiet line: as long as
// the failed reply was given, up to RecoveryCapMs.
//
// A settings block counts only when two consecutive reads agree byte for byte: with no
// framing, timing alone never proves a block whole and in place.
class UnitLink {
public:
    // Reads made at most to confirm a settings block.
    static constexpr int ConfirmReads = 3;
    // The longest quiet line asked for after a failed exchange.
    static constexpr int RecoveryCapMs = 250;

    struct BlockReply {
        int received = 0;             // bytes of the (last) reply that came
        bool misaligned = false;      // all came, but more followed at once
        bool unconfirmed = false;     // whole replies came, but no two consecutive ones agreed
        SettingsBlock::Block bytes{}; // the (last) reply: its first `received` bytes came
        bool complete() const
        {
            return received == SettingsBlock::Size && !misaligned && !unconfirmed;
        }
        // The unit's settings, when the reply stands for them.
        std::optional<SettingsBlock::Block> block() const
        {
            return complete() ? std::optional(bytes) : std::nullopt;
        }
    };
    using MeasurementReply = std::array<std::uint8_t, MeasurementSize>;

    explicit UnitLink(Line &line) : m_line(line) {}
    Line &line() const { return m_line; }

    std::uint8_t *transferBlock() { return m_area.data(); }
    const std::uint8_t *transferBlock() const { return m_area.data(); }
    std::uint8_t *readBack() { return m_area.data() + SettingsBlock::Size; }
    const std::uint8_t *readBack() const { return m_area.data() + SettingsBlock::Size; }

    // One byte through the send buffer. False when the port did not take it.
    bool sendByte(std::uint8_t byte);
    // One byte into the transfer block's first byte; returns that byte afterwards (the
    // earlier one when nothing came). arrived (optional) tells whether a byte came.
    std::uint8_t receiveByte(bool *arrived = nullptr);
    // Waits for the quiet line that a command expecting a reply needs (see above).
    void settle();
    // sendByte() once the line has settled.
    bool sendCommand(std::uint8_t command);

    // 'U', one byte back. Returns the byte the receive yields; accepted tells whether a 'W'
    // really came.
    std::uint8_t handshake(bool *accepted);
    // 'Z' and one byte back; true when the unit said 'V'.
    bool disconnect();
    // 'Z' alone, no answer read (after a failed handshake).
    void sendDisconnect();

    // 'R', then the 512-byte block: one exchange. A reply that is not complete() must not be
    // taken for the unit's settings.
    BlockReply readSettings();
    // The settings block as the unit confirms it: up to ConfirmReads exchanges, until two
    // consecutive whole replies agree. A short or missing reply ends it at once; a reply
    // followed by more counts as no reply and the reads go on. The reply holds the confirmed
    // block, or else the last reply as far as it came.
    BlockReply readConfirmed();
    // 'S' and the whole block. False when the port did not take every byte.
    bool writeSettings(const std::uint8_t *block);

    // 0x10, then the 12-byte reply; nothing unless all of it came, alone.
    std::optional<MeasurementReply> measure();

private:
    std::uint8_t ask(std::uint8_t command, std::uint8_t expected, bool *answered);
    // The exchange whose reply was `bytes` long failed.
    void failed(int bytes);
    int quietMs() const;

    Line &m_line;
    int m_recoveryMs = 0;
    std::array<std::uint8_t, 2 * SettingsBlock::Size> m_area{};
};
