#include "usbadapter.h"

#include <algorithm>

namespace sim {

namespace {
constexpr Nanos Frame = Millisecond;
} // namespace

std::optional<AdapterProfile> AdapterProfile::named(const std::string &name)
{
    if (name == "none")
        return AdapterProfile{};
    if (name == "ftdi1" || name == "ftdi16") {
        const int ms = name == "ftdi1" ? 1 : 16;
        return AdapterProfile{name, 62, ms * Millisecond, 0, "ftdi_sio", ms};
    }
    if (name == "cp210x")
        return AdapterProfile{name, 64, 0, 4 * Millisecond, "cp210x", 0};
    if (name == "ch340")
        return AdapterProfile{name, 32, 0, 3 * CharacterTime, "ch341-uart", 0};
    return std::nullopt;
}

const char *AdapterProfile::names() { return "none|ftdi1|ftdi16|cp210x|ch340"; }

Nanos Adapter::frameAfter(Nanos t) const
{
    const Nanos since = std::max<Nanos>(0, t - m_start);
    return m_start + (since + Frame - 1) / Frame * Frame;
}

void Adapter::add(Nanos at)
{
    // A packet that is full, or that the chip has already sent off, takes no more bytes.
    if (m_packets.empty() || m_packets.back().count == m_profile.packet ||
        readyOf(m_packets.back()) <= at)
        m_packets.push_back({0, at, at});
    Packet &packet = m_packets.back();
    ++packet.count;
    packet.last = at;
}

Nanos Adapter::readyOf(const Packet &packet) const
{
    if (packet.count == m_profile.packet)
        return packet.last;
    if (m_profile.timer > 0) {
        // The chip's timer runs on its own; a part-filled packet goes at its first tick after
        // the packet's first byte came.
        const Nanos since = packet.first - m_start;
        return m_start + (since / m_profile.timer + 1) * m_profile.timer;
    }
    return packet.last + m_profile.idle;
}

Nanos Adapter::deliveryOf(const Packet &packet) const { return frameAfter(readyOf(packet)); }

std::optional<Nanos> Adapter::delivery() const
{
    if (m_packets.empty())
        return std::nullopt;
    return deliveryOf(m_packets.front());
}

std::size_t Adapter::take(Nanos now)
{
    std::size_t n = 0;
    while (!m_packets.empty() && deliveryOf(m_packets.front()) <= now) {
        n += m_packets.front().count;
        m_packets.pop_front();
    }
    return n;
}

std::size_t Adapter::buffered() const
{
    std::size_t n = 0;
    for (const Packet &p : m_packets)
        n += p.count;
    return n;
}

} // namespace sim
