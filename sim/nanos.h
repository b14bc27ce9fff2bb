#pragma once

#include <cstdint>
#include <ctime>

namespace sim {

// Nanoseconds on the monotonic clock; every deadline of the simulator is one of these.
using Nanos = std::int64_t;

constexpr Nanos Microsecond = 1'000;
constexpr Nanos Millisecond = 1'000'000;
constexpr Nanos Second = 1'000'000'000;

// One character on the line: 10 bits at 115200 baud.
constexpr Nanos CharacterTime = 10 * Second / 115200;

inline Nanos monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * Second + ts.tv_nsec;
}

} // namespace sim
