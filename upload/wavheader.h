#pragma once

#include <QString>
#include <cstdint>
#include <span>

// The canonical 44-byte WAV header the unit's recordings come with: "RIFF" descriptor, a
// 16-byte "fmt " chunk and the "data" chunk header, sample data right after. The unit takes
// the samples in whole 512-byte blocks and the block count travels as 16 bits, so a file it
// can take holds at most 65,535 blocks.
namespace WavHeader {

constexpr int Size = 44;
constexpr int BlockSize = 512;
constexpr std::uint32_t MaxBlocks = 0xFFFF;

struct Check {
    bool ok = false;
    std::uint32_t dataLength = 0; // sample bytes after the header, as the header states
    std::uint32_t blocks = 0;     // whole blocks in them; the remainder is never sent
    QString reason;               // why the file cannot be sent, in the log's words
};

// Checks the first bytes of a file (Size of them, fewer when the file is shorter) against
// the file's total size.
Check check(std::span<const std::uint8_t> header, std::int64_t fileSize);

} // namespace WavHeader
