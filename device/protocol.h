#pragma once

#include <cstdint>

class UnitLink;
class Clock;

// The unit's one-byte commands and reply bytes. No framing, address or checksum: a reply's
// meaning follows from the command it answers. Multi-byte numbers go high byte first.
namespace Command {
constexpr std::uint8_t Measure = 0x10;
constexpr std::uint8_t ReadSettings = 0x52;  // 'R', reply: the 512-byte settings block
constexpr std::uint8_t WriteSettings = 0x53; // 'S', followed by the block, no reply
constexpr std::uint8_t Handshake = 0x55;     // 'U', reply 'W'
constexpr std::uint8_t Disconnect = 0x5A;    // 'Z', reply 'V'
constexpr std::uint8_t UploadMessages = 0x60;
constexpr std::uint8_t UploadSiren = 0x70;
} // namespace Command

namespace Reply {
constexpr std::uint8_t Ready = 0x57;     // 'W', handshake accepted
constexpr std::uint8_t Bye = 0x56;       // 'V', disconnect acknowledged
constexpr std::uint8_t Next = 0x55;      // 'U', ready for counts / first half of a block ack
constexpr std::uint8_t Data = 0x54;      // 'T', ready for the upload data
constexpr std::uint8_t BlockDone = 0xFF; // second half of a block ack
} // namespace Reply

// The measurement reply: six 16-bit values.
constexpr int MeasurementSize = 12;
// Sound data travels in blocks of this many bytes, each acknowledged by the unit.
constexpr int SoundBlockSize = 512;

enum class WaitResult {
    Received,   // the awaited byte came
    TimedOut,   // it did not come within the bound
    PortFailed, // the port is closed or failed: nothing can come
};

// Receives single bytes, discarding all others, until `expected` arrives. Only bytes that
// actually arrived count: the stale byte a timed-out receive yields never ends the wait.
// Used by the uploads only.
// Gives up after boundMs of clock time without the awaited byte.
WaitResult waitForByte(UnitLink &link, std::uint8_t expected, const Clock &clock, int boundMs);
