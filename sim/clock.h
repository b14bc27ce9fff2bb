#pragma once

#include <cstdint>
#include <ctime>

namespace sim {

// Nanoseconds on the monotonic clock; every deadline of the simulator is one of these.
using Nanos = std::int64_t;

constexpr Nanos kMicrosecond = 1'000;
constexpr Nanos kMillisecond = 1'000'000;
constexpr Nanos kSecond = 1'000'000'000;

inline Nanos monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * kSecond + ts.tv_nsec;
}

} // namespace sim
