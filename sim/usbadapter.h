#pragma once

#include "nanos.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace sim {

// A USB serial adapter between the unit's line and the client, as the chips deliver what they
// receive: in packets, each handed to the host on a 1 ms USB frame.
//
//   none    no adapter: every byte reaches the client as soon as it has crossed the line
//   ftdi1   62 data bytes a packet, a part-filled one sent at the next tick of a 1 ms timer
//   ftdi16  the same with the chip's default 16 ms latency timer
//   cp210x  64 bytes a packet, a part-filled one sent once the line has been idle for 4 ms
//   ch340   32 bytes a packet, a part-filled one sent once the line has been idle for 3
//           character times
//
// Bytes from the client go out on the line from the next frame on.
struct AdapterProfile {
    std::string name = "none";
    std::size_t packet = 0; // data bytes a packet; 0: no adapter
    Nanos timer = 0;        // a periodic latency timer (FTDI), or 0
    Nanos idle = 0;         // idle time that sends a part-filled packet (others), or 0
    std::string driver;     // the kernel driver a system would report for it
    int latencyTimerMs = 0; // what the driver reports as latency_timer (FTDI), or 0

    bool present() const { return packet > 0; }
    static std::optional<AdapterProfile> named(const std::string &name);
    static const char *names(); // "none|ftdi1|ftdi16|cp210x|ch340"
};

// The adapter's receive buffer: bytes go in at the moment they have crossed the line, and
// come out as whole packets at their delivery time.
class Adapter {
public:
    Adapter(AdapterProfile profile, Nanos start) : m_profile(std::move(profile)), m_start(start) {}
    const AdapterProfile &profile() const { return m_profile; }

    // The next frame at or after t: when a byte written by the client can start on the line.
    Nanos frameAfter(Nanos t) const;

    // A byte that crossed the line at `at` joins the packet being filled, or starts the next
    // one when that is full.
    void add(Nanos at);
    // When the oldest packet goes to the host, if any is waiting. Packets go in order.
    std::optional<Nanos> delivery() const;
    // How many buffered bytes have been delivered by `now`; they leave the buffer.
    std::size_t take(Nanos now);
    std::size_t buffered() const;
    void clear() { m_packets.clear(); }

private:
    struct Packet {
        std::size_t count = 0;
        Nanos first = 0; // when its first byte came
        Nanos last = 0;  // when its last byte came
    };
    // When the chip sends the packet off, and when the host has it (the next frame).
    Nanos readyOf(const Packet &packet) const;
    Nanos deliveryOf(const Packet &packet) const;

    AdapterProfile m_profile;
    Nanos m_start;
    std::deque<Packet> m_packets;
};

} // namespace sim
