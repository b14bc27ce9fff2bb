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

Check refuse(const char *reason)
{
    Check result;
    result.reason = QString::fromUtf8(reason);
    return result;
}

} // namespace

Check check(std::span<const std::uint8_t> header, std::int64_t fileSize)
{
    if (fileSize < Size || header.size() < std::size_t(Size))
        return refuse("файл короче заголовка WAV (44 байта)");
    if (!tagAt(header, 0, "RIFF"))
        return refuse("нет заголовка RIFF");
    if (!tagAt(header, 8, "WAVE"))
        return refuse("нет метки WAVE");
    if (!tagAt(header, 12, "fmt "))
        return refuse("нет блока fmt");
    if (!tagAt(header, 36, "data"))
        return refuse("нет блока data сразу после блока fmt");

    const std::uint32_t length = littleEndian32(header, 40);
    if (std::int64_t(length) > fileSize - Size)
        return refuse("длина данных в заголовке больше файла");
    const std::uint32_t blocks = length / BlockSize;
    if (blocks > MaxBlocks)
        return refuse("больше 65535 блоков по 512 байт");

    Check result;
    result.ok = true;
    result.dataLength = length;
    result.blocks = blocks;
    return result;
}

} // namespace WavHeader
