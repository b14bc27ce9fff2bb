#include "upload/wavheader.h"

#include <cstring>

namespace WavHeader {

namespace {

bool tagAt(std::span<const std::uint8_t> header, int offset, const char (&tag)[5])
{
    return std::memcmp(header.data() + offset, tag, 4) == 0;
}

std::uint32_t littleEndian32(std::span<const std::uint8_t> header, int offset)
{
    return std::uint32_t(header[offset]) | std::uint32_t(header[offset + 1]) << 8 |
           std::uint32_t(header[offset + 2]) << 16 | std::uint32_t(header[offset + 3]) << 24;
}

Check refuse(Problem problem)
{
    Check result;
    result.problem = problem;
    return result;
}

} // namespace

Check check(std::span<const std::uint8_t> header, std::int64_t fileSize)
{
    if (fileSize < Size || header.size() < std::size_t(Size))
        return refuse(Problem::Short);
    if (!tagAt(header, 0, "RIFF"))
        return refuse(Problem::NoRiff);
    if (!tagAt(header, 8, "WAVE"))
        return refuse(Problem::NoWave);
    if (!tagAt(header, 12, "fmt "))
        return refuse(Problem::NoFmt);
    if (!tagAt(header, 36, "data"))
        return refuse(Problem::NoData);

    const std::uint32_t length = littleEndian32(header, 40);
    if (std::int64_t(length) > fileSize - Size)
        return refuse(Problem::LengthBeyondFile);
    const std::uint32_t blocks = length / SoundBlockSize;
    if (blocks > MaxBlocks)
        return refuse(Problem::TooManyBlocks);

    Check result;
    result.ok = true;
    result.dataLength = length;
    result.blocks = blocks;
    return result;
}

} // namespace WavHeader
