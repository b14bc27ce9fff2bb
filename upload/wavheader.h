#pragma once

#include "device/protocol.h"

#include <cstdint>
#include <span>

// The canonical 44-byte WAV header the unit's recordings come with: "RIFF" descriptor, a
// 16-byte "fmt " chunk and the "data" chunk header, sample data right after. The unit takes
// the samples in whole sound blocks and the block count travels as 16 bits, so a file it can
// take holds at most 65,535 blocks.
namespace WavHeader {

constexpr int Size = 44;
constexpr std::uint32_t MaxBlocks = 0xFFFF;

enum class Problem {
    None,
    Short,            // the file is shorter than the header
    NoRiff,           // no "RIFF" at 0
    NoWave,           // no "WAVE" at 8
    NoFmt,            // no "fmt " at 12
    NoData,           // no "data" at 36, right after the fmt chunk
    LengthBeyondFile, // the data length runs past the end of the file
    TooManyBlocks,    // more blocks than the count can carry
};

struct Check {
    bool ok = false;
    std::uint32_t dataLength = 0; // sample bytes after the header, as the header states
    std::uint32_t blocks = 0;     // whole blocks in them; the remainder is never sent
    Problem problem = Problem::None;
};

// Checks the first bytes of a file (Size of them, fewer when the file is shorter) against
// the file's total size.
Check check(std::span<const std::uint8_t> header, std::int64_t fileSize);

} // namespace WavHeader
