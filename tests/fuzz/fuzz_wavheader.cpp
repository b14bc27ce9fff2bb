// The WAV header check. Input: the file size as 8 bytes, little-endian (zero-padded when the
// input is shorter), then the first bytes of the file, at most 44 of them; fewer make a file
// shorter than the header.
//  - ok exactly when the header has all 44 bytes, the file is at least 44 bytes long, "RIFF",
//    "WAVE", "fmt " and "data" stand at 0, 8, 12 and 36, the data length at 40 (little-endian)
//    fits in the file after the header and makes at most 65,535 blocks of 512 bytes;
//  - ok gives that data length and its whole block count; not ok gives a reason.

#include "fuzzcheck.h"
#include "upload/wavheader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace {

struct Expected {
    bool ok = false;
    std::uint32_t dataLength = 0;
};

Expected reference(const std::uint8_t *header, std::size_t size, std::int64_t fileSize)
{
    Expected e;
    if (size < 44 || fileSize < 44)
        return e;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0 ||
        std::memcmp(header + 12, "fmt ", 4) != 0 || std::memcmp(header + 36, "data", 4) != 0)
        return e;
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | header[40 + i];
    if (std::int64_t(length) > fileSize - 44 || length / 512 > 65535)
        return e;
    e.ok = true;
    e.dataLength = length;
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t rawSize = 0;
    for (std::size_t i = 0; i < 8 && i < size; ++i)
        rawSize |= std::uint64_t(data[i]) << (8 * i);
    const auto fileSize = std::int64_t(rawSize);

    // A buffer of exactly the header's length, so that ASan sees any read past it.
    const std::size_t headerSize = size > 8 ? std::min<std::size_t>(size - 8, 44) : 0;
    const auto header = std::make_unique<std::uint8_t[]>(headerSize);
    if (headerSize > 0)
        std::memcpy(header.get(), data + 8, headerSize);

    const WavHeader::Check result =
        WavHeader::check(std::span<const std::uint8_t>(header.get(), headerSize), fileSize);
    const Expected expected = reference(header.get(), headerSize, fileSize);

    if (result.ok) {
        FUZZ_CHECK(headerSize >= 44, "accepted a header of %zu bytes", headerSize);
        FUZZ_CHECK(fileSize >= 44, "accepted a file of %lld bytes", (long long)fileSize);
        FUZZ_CHECK(std::memcmp(header.get(), "RIFF", 4) == 0, "accepted without RIFF at 0");
        FUZZ_CHECK(std::memcmp(header.get() + 8, "WAVE", 4) == 0, "accepted without WAVE at 8");
        FUZZ_CHECK(std::memcmp(header.get() + 12, "fmt ", 4) == 0, "accepted without fmt at 12");
        FUZZ_CHECK(std::memcmp(header.get() + 36, "data", 4) == 0, "accepted without data at 36");
        FUZZ_CHECK(std::int64_t(result.dataLength) <= fileSize - 44,
                   "data length %u does not fit a file of %lld bytes", result.dataLength,
                   (long long)fileSize);
        FUZZ_CHECK(result.blocks == result.dataLength / 512, "%u blocks for %u data bytes",
                   result.blocks, result.dataLength);
        FUZZ_CHECK(result.blocks <= 65535, "%u blocks accepted", result.blocks);
        FUZZ_CHECK(expected.ok, "accepted a header the rules refuse");
        FUZZ_CHECK(result.dataLength == expected.dataLength, "data length %u, the header says %u",
                   result.dataLength, expected.dataLength);
    } else {
        FUZZ_CHECK(result.problem != WavHeader::Problem::None, "refused without a reason");
        FUZZ_CHECK(!expected.ok, "refused a good header (file of %lld bytes, %u data bytes): %d",
                   (long long)fileSize, expected.dataLength, int(result.problem));
    }
    return 0;
}
