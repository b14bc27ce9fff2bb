#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

constexpr std::size_t BlockSize = 512;
using Block = std::array<std::uint8_t, BlockSize>;

// The settings block of a unit fresh from the factory: the documented values at offsets 0..49
// (launch count 1) and a fixed pattern in the rest, which a client must pass through intact.
Block factoryBlock();

// Offsets 4-5, big endian.
unsigned launchCount(const Block &block);
void setLaunchCount(Block &block, unsigned count);

// Reads a 512-byte block file; nullopt when it is missing or of another size.
std::optional<Block> loadBlock(const std::string &path);

// Writes the file whole (through a temporary and a rename). Returns an error text, empty on
// success.
std::string saveFile(const std::string &path, std::span<const std::uint8_t> bytes);
std::string saveBlock(const std::string &path, const Block &block);

// A recording as a canonical 44-byte WAV header (PCM, mono, 8000 Hz, 16 bit) followed by the
// data bytes exactly as received.
std::string saveWav(const std::string &path, std::span<const std::uint8_t> data);

std::string toHex(std::span<const std::uint8_t> bytes);
// Two hex digits per byte, either case; nullopt for anything else or another length.
std::optional<Block> blockFromHex(const std::string &hex);

} // namespace sim
