// The settings block decode/encode, against the layout's table (SettingsLayout). The first 512
// input bytes (zero-padded) are a block as the unit sends it; the rest of the input, or the
// whole input when there is no rest, supplies a set of values.
//  - decode() reads every field from its offset, 16-bit numbers big-endian, flags set only
//    when their byte is exactly 1;
//  - decode then encode over a copy of the same block gives back the identical block when
//    every flag byte is 0 or 1 and the narrow-range bytes lie in their ranges; otherwise only
//    the flag bytes (1 stays 1, anything else becomes 0) and the narrow-range bytes may change;
//  - encode() of any values writes each written field's low bits at its offset and never
//    touches a byte outside the written fields.

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
using SettingsLayout::Field;
using SettingsLayout::Kind;

namespace {

// A field whose range is narrower than its byte: its bar's positions.
bool narrow(const Field &field)
{
    return field.kind == Kind::Number && field.max < SettingsLayout::widthMax(field);
}

std::int64_t expectedValue(const Field &field, const Block &b)
{
    const int at = field.offset;
    if (field.kind == Kind::Flag)
        return b[at] == 1;
    return field.width == 2 ? b[at] * 256 + b[at + 1] : b[at];
}

void checkDecode(const Block &block, const Values &v)
{
    for (const Field &field : SettingsLayout::Fields) {
        const std::int64_t got = v[field.id];
        const std::int64_t expected = expectedValue(field, block);
        FUZZ_CHECK(got == expected, "decode: %s is %lld, the block says %lld", field.key,
                   (long long)got, (long long)expected);
    }
}

// Flags to 0/1 and narrow-range bytes into their ranges, as a block the unit takes.
Block normalised(Block block)
{
    for (const Field &field : SettingsLayout::Fields) {
        std::uint8_t &byte = block[std::size_t(field.offset)];
        if (field.kind == Kind::Flag)
            byte &= 1;
        else if (narrow(field))
            byte = std::uint8_t(field.min + byte % (field.max - field.min + 1));
    }
    return block;
}

void checkRoundTrip(const Block &original, bool isNormalised)
{
    const Values values = SettingsBlock::decode(original.data());
    checkDecode(original, values);
    Block copy = original;
    SettingsBlock::encode(values, copy.data());
    for (int offset = 0; offset < SettingsBlock::Size; ++offset) {
        const int was = original[std::size_t(offset)];
        const int now = copy[std::size_t(offset)];
        const Field *field = SettingsLayout::at(offset);
        if (field && field->kind == Kind::Flag) {
            FUZZ_CHECK(now == (was == 1 ? 1 : 0), "round trip: flag byte %d went %d -> %d", offset,
                       was, now);
        } else if (field && narrow(*field) && !isNormalised) {
            FUZZ_CHECK(now == was || (now >= field->min && now <= field->max),
                       "round trip: narrow-range byte %d went %d -> %d", offset, was, now);
        } else {
            FUZZ_CHECK(now == was, "round trip%s: byte %d went %d -> %d",
                       isNormalised ? " of a normalised block" : "", offset, was, now);
        }
    }
}

Values valuesFrom(FuzzedDataProvider &in)
{
    Values v;
    for (const Field &field : SettingsLayout::Fields)
        v[field.id] =
            field.kind == Kind::Flag ? in.ConsumeBool() : in.ConsumeIntegral<std::int32_t>();
    return v;
}

void checkEncode(const Block &original, const Values &v)
{
    // What each written offset must hold afterwards: the field's low 8 or 16 bits, a flag 0/1.
    std::vector<int> expected(SettingsBlock::Size, -1);
    for (const Field &field : SettingsLayout::Fields) {
        if (!field.written)
            continue;
        const std::int64_t value = v[field.id];
        if (field.kind == Kind::Flag) {
            expected[std::size_t(field.offset)] = value != 0;
        } else if (field.width == 2) {
            expected[std::size_t(field.offset)] = int((value & 0xFFFF) >> 8);
            expected[std::size_t(field.offset) + 1] = int(value & 0xFF);
        } else {
            expected[std::size_t(field.offset)] = int(value & 0xFF);
        }
    }

    Block block = original;
    SettingsBlock::encode(v, block.data());
    for (int offset = 0; offset < SettingsBlock::Size; ++offset) {
        const int want = expected[std::size_t(offset)];
        if (want < 0)
            FUZZ_CHECK(block[std::size_t(offset)] == original[std::size_t(offset)],
                       "encode changed byte %d (%d -> %d), which it must leave alone", offset,
                       original[std::size_t(offset)], block[std::size_t(offset)]);
        else
            FUZZ_CHECK(block[std::size_t(offset)] == want,
                       "encode wrote %d at offset %d, expected %d", block[std::size_t(offset)],
                       offset, want);
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
