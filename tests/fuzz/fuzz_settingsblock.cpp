// The settings block decode/encode. The first 512 input bytes (zero-padded) are a block as the
// unit sends it; the rest of the input, or the whole input when there is no rest, supplies a
// set of window values.
//  - decode() reads every field from its offset, 16-bit numbers big-endian, flags set only
//    when their byte is exactly 1;
//  - decode then encode over a copy of the same block gives back the identical block when
//    every flag byte is 0 or 1 and the track-bar bytes lie in their ranges; otherwise only the
//    flag bytes (1 stays 1, anything else becomes 0) and the track-bar bytes may change;
//  - encode() of any values writes each field's low bits at its offset and never touches
//    offsets 1-5, 28-33 and 44-511.

#include "device/settingsblock.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using SettingsBlock::Block;
using SettingsBlock::Values;

namespace {

constexpr int FlagOffsets[] = {8, 9, 22, 23, 24, 25, 26, 27, 34, 35, 36, 37};

struct TrackBar {
    int offset;
    int low;
    int high;
};
constexpr TrackBar TrackBars[] = {{38, 2, 20}, {42, 0, 100}, {43, 2, 16}};

bool isFlag(int offset)
{
    return std::find(std::begin(FlagOffsets), std::end(FlagOffsets), offset) !=
           std::end(FlagOffsets);
}

const TrackBar *trackBarAt(int offset)
{
    for (const TrackBar &bar : TrackBars)
        if (bar.offset == offset)
            return &bar;
    return nullptr;
}

bool neverWritten(int offset)
{
    return (offset >= 1 && offset <= 5) || (offset >= 28 && offset <= 33) || offset >= 44;
}

int big16(const Block &b, int offset) { return b[offset] * 256 + b[offset + 1]; }

void checkDecode(const Block &block, const Values &v)
{
    struct Field {
        const char *name;
        std::int64_t got;
        std::int64_t expected;
    };
    const Field fields[] = {
        {"version", v.version, block[0]},
        {"deviceType", v.deviceType, block[1]},
        {"launchCount", v.launchCount, big16(block, 4)},
        {"address", v.address, block[6]},
        {"zone", v.zone, block[7]},
        {"litOnDuty", v.litOnDuty, block[8] == 1},
        {"blinkOnFire", v.blinkOnFire, block[9] == 1},
        {"boardDrift", v.boardDrift, big16(block, 10)},
        {"lineDrift", v.lineDrift, big16(block, 12)},
        {"signalDeparture", v.signalDeparture, big16(block, 14)},
        {"openLevel", v.openLevel, big16(block, 16)},
        {"inputShortLevel", v.inputShortLevel, big16(block, 18)},
        {"triggerLevel", v.triggerLevel, big16(block, 20)},
        {"relay[0]", v.relay[0], block[22] == 1},
        {"relay[1]", v.relay[1], block[23] == 1},
        {"relay[2]", v.relay[2], block[24] == 1},
        {"relay[3]", v.relay[3], block[25] == 1},
        {"relay[4]", v.relay[4], block[26] == 1},
        {"relay[5]", v.relay[5], block[27] == 1},
        {"supervise[0]", v.supervise[0], block[34] == 1},
        {"supervise[1]", v.supervise[1], block[35] == 1},
        {"supervise[2]", v.supervise[2], block[36] == 1},
        {"supervise[3]", v.supervise[3], block[37] == 1},
        {"blinkRate", v.blinkRate, block[38]},
        {"boardDeparture", v.boardDeparture, block[39]},
        {"lineShortLevel", v.lineShortLevel, big16(block, 40)},
        {"supervisionFrequency", v.supervisionFrequency, block[42]},
        {"volume", v.volume, block[43]},
    };
    for (const Field &f : fields)
        FUZZ_CHECK(f.got == f.expected, "decode: %s is %lld, the block says %lld", f.name,
                   (long long)f.got, (long long)f.expected);
}

// Flags to 0/1 and track-bar positions into their ranges, as a block written by the window.
Block normalised(Block block)
{
    for (const int offset : FlagOffsets)
        block[offset] &= 1;
    for (const TrackBar &bar : TrackBars)
        block[bar.offset] = std::uint8_t(bar.low + block[bar.offset] % (bar.high - bar.low + 1));
    return block;
}

void checkRoundTrip(const Block &original, bool isNormalised)
{
    const Values values = SettingsBlock::decode(original.data());
    checkDecode(original, values);
    Block copy = original;
    SettingsBlock::encode(values, copy.data());
    for (int offset = 0; offset < SettingsBlock::Size; ++offset) {
        const int was = original[offset];
        const int now = copy[offset];
        if (isFlag(offset)) {
            FUZZ_CHECK(now == (was == 1 ? 1 : 0), "round trip: flag byte %d went %d -> %d", offset,
                       was, now);
        } else if (const TrackBar *bar = trackBarAt(offset); bar && !isNormalised) {
            FUZZ_CHECK(now == was || (now >= bar->low && now <= bar->high),
                       "round trip: track-bar byte %d went %d -> %d", offset, was, now);
        } else {
            FUZZ_CHECK(now == was, "round trip%s: byte %d went %d -> %d",
                       isNormalised ? " of a normalised block" : "", offset, was, now);
        }
    }
}

Values valuesFrom(FuzzedDataProvider &in)
{
    Values v;
    v.version = in.ConsumeIntegral<std::int32_t>();
    v.deviceType = in.ConsumeIntegral<std::uint8_t>();
    v.launchCount = in.ConsumeIntegral<std::uint16_t>();
    v.address = in.ConsumeIntegral<std::int32_t>();
    v.zone = in.ConsumeIntegral<std::int32_t>();
    v.litOnDuty = in.ConsumeBool();
    v.blinkOnFire = in.ConsumeBool();
    v.boardDrift = in.ConsumeIntegral<std::int32_t>();
    v.lineDrift = in.ConsumeIntegral<std::int32_t>();
    v.signalDeparture = in.ConsumeIntegral<std::int32_t>();
    v.openLevel = in.ConsumeIntegral<std::int32_t>();
    v.inputShortLevel = in.ConsumeIntegral<std::int32_t>();
    v.triggerLevel = in.ConsumeIntegral<std::int32_t>();
    for (bool &r : v.relay)
        r = in.ConsumeBool();
    for (bool &s : v.supervise)
        s = in.ConsumeBool();
    v.blinkRate = in.ConsumeIntegral<std::int32_t>();
    v.boardDeparture = in.ConsumeIntegral<std::int32_t>();
    v.lineShortLevel = in.ConsumeIntegral<std::int32_t>();
    v.supervisionFrequency = in.ConsumeIntegral<std::int32_t>();
    v.volume = in.ConsumeIntegral<std::int32_t>();
    return v;
}

void checkEncode(const Block &original, const Values &v)
{
    // What each written offset must hold afterwards: the field's low 8 or 16 bits.
    std::vector<int> expected(SettingsBlock::Size, -1);
    auto byte = [&](int offset, std::int64_t value) { expected[offset] = int(value & 0xFF); };
    auto word = [&](int offset, std::int64_t value) {
        byte(offset, (value & 0xFFFF) >> 8);
        byte(offset + 1, value);
    };
    byte(0, v.version);
    byte(6, v.address);
    byte(7, v.zone);
    byte(8, v.litOnDuty);
    byte(9, v.blinkOnFire);
    word(10, v.boardDrift);
    word(12, v.lineDrift);
    word(14, v.signalDeparture);
    word(16, v.openLevel);
    word(18, v.inputShortLevel);
    word(20, v.triggerLevel);
    for (int i = 0; i < 6; ++i)
        byte(22 + i, v.relay[i]);
    for (int i = 0; i < 4; ++i)
        byte(34 + i, v.supervise[i]);
    byte(38, v.blinkRate);
    byte(39, v.boardDeparture);
    word(40, v.lineShortLevel);
    byte(42, v.supervisionFrequency);
    byte(43, v.volume);

    Block block = original;
    SettingsBlock::encode(v, block.data());
    for (int offset = 0; offset < SettingsBlock::Size; ++offset) {
        if (neverWritten(offset))
            FUZZ_CHECK(block[offset] == original[offset],
                       "encode changed byte %d (%d -> %d), which it must leave alone", offset,
                       original[offset], block[offset]);
        else
            FUZZ_CHECK(block[offset] == expected[offset],
                       "encode wrote %d at offset %d, expected %d", block[offset], offset,
                       expected[offset]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Block block{};
    std::memcpy(block.data(), data, std::min<std::size_t>(size, SettingsBlock::Size));

    checkRoundTrip(block, false);
    checkRoundTrip(normalised(block), true);

    FuzzedDataProvider rest(
        size > std::size_t(SettingsBlock::Size) ? data + SettingsBlock::Size : data,
        size > std::size_t(SettingsBlock::Size) ? size - SettingsBlock::Size : size);
    checkEncode(block, valuesFrom(rest));
    return 0;
}
