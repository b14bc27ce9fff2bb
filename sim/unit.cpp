#include "unit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <utility>

namespace sim {

namespace {

constexpr std::uint8_t Handshake = 0x55;     // 'U'
constexpr std::uint8_t Disconnect = 0x5A;    // 'Z'
constexpr std::uint8_t ReadSettings = 0x52;  // 'R'
constexpr std::uint8_t WriteSettings = 0x53; // 'S'
constexpr std::uint8_t Measure = 0x10;
constexpr std::uint8_t UploadMessages = 0x60;
constexpr std::uint8_t UploadSiren = 0x70;

constexpr std::uint8_t Ready = 0x57; // 'W'
constexpr std::uint8_t Bye = 0x56;   // 'V'
constexpr std::uint8_t Next = 0x55;  // 'U'
constexpr std::uint8_t Data = 0x54;  // 'T'
constexpr std::uint8_t BlockDone = 0xFF;

// Junk sent ahead of replies: none of it is a byte that a client waits for.
constexpr std::array<std::uint8_t, 6> Garbage = {0x00, 0x13, 0xA5, 0x3C, 0x81, 0x7E};

// Where the read-back after a write is spoiled, and how.
constexpr std::size_t CorruptFrom = 100;
constexpr std::uint8_t CorruptMask = 0x5A;

void report(const std::string &problem)
{
    std::fprintf(stderr, "tarvik2-sim: %s\n", problem.c_str());
}

} // namespace

Unit::Unit(UnitPort &port, const Block &block, Nanos startTime)
    : m_port(port), m_block(block), m_start(startTime)
{
}

void Unit::receive(std::uint8_t byte, Nanos at)
{
    if (m_faults.silent) {
        abandon();
        return;
    }
    switch (m_phase) {
    case Phase::Command:
        command(byte, at);
        break;
    case Phase::Settings:
        m_incoming.push_back(byte);
        if (m_incoming.size() == BlockSize)
            settingsStored();
        break;
    case Phase::Counts:
        m_incoming.push_back(byte);
        if (m_incoming.size() == 2 * (m_upload == Upload::Messages ? 2 : 1))
            countsReceived(at);
        break;
    case Phase::Blocks:
        m_data.push_back(byte);
        if (m_data.size() % BlockSize == 0)
            blockReceived(at);
        break;
    case Phase::Stopped:
        break;
    }
}

void Unit::abandon()
{
    m_phase = Phase::Command;
    m_incoming.clear();
    m_counts.clear();
    m_data.clear();
}

void Unit::command(std::uint8_t byte, Nanos at)
{
    switch (byte) {
    case Handshake:
        reply(std::array{Ready}, at);
        break;
    case Disconnect:
        reply(std::array{Bye}, at);
        break;
    case ReadSettings:
        replyBlock(at);
        break;
    case WriteSettings:
        m_phase = Phase::Settings;
        m_incoming.clear();
        break;
    case Measure:
        replyMeasurement(at);
        break;
    case UploadMessages:
    case UploadSiren:
        m_upload = byte == UploadMessages ? Upload::Messages : Upload::Siren;
        m_phase = Phase::Counts;
        m_incoming.clear();
        reply(std::array{Next}, at);
        break;
    default:
        break; // not a command: the unit takes no notice
    }
}

void Unit::reply(std::span<const std::uint8_t> bytes, Nanos at, bool cuttable)
{
    std::vector<std::uint8_t> body(bytes.begin(), bytes.end());
    std::vector<std::uint8_t> held; // this reply's tail, for the next reply
    std::optional<Split> split;
    if (cuttable) {
        if (m_faults.shortTo && body.size() > *m_faults.shortTo)
            body.resize(*m_faults.shortTo);
        std::optional<std::size_t> keep;
        if (m_faults.tailOnce && body.size() > *m_faults.tailOnce)
            keep = std::exchange(m_faults.tailOnce, std::nullopt);
        else if (m_faults.tail && body.size() > *m_faults.tail)
            keep = m_faults.tail;
        if (keep) {
            held.assign(body.begin() + std::ptrdiff_t(*keep), body.end());
            body.resize(*keep);
        }
        if (m_faults.shiftOnce && body.size() > m_faults.shiftOnce->head) {
            const Split shift = *std::exchange(m_faults.shiftOnce, std::nullopt);
            m_faults.garbageOnce += shift.head;
            split = Split{body.size() - shift.head, shift.gap};
        } else if (m_faults.splitOnce && body.size() > m_faults.splitOnce->head)
            split = std::exchange(m_faults.splitOnce, std::nullopt);
        else if (m_faults.split && body.size() > m_faults.split->head)
            split = m_faults.split;
    }

    // What an earlier reply held back goes first, then the junk, then this reply.
    std::vector<std::uint8_t> out = std::exchange(m_held, std::move(held));
    const std::size_t junk = m_faults.garbage + std::exchange(m_faults.garbageOnce, 0);
    for (std::size_t i = 0; i < junk; ++i)
        out.push_back(Garbage[m_garbageIndex++ % Garbage.size()]);
    const std::size_t head = split ? split->head : body.size();
    out.insert(out.end(), body.begin(), body.begin() + std::ptrdiff_t(head));
    if (!out.empty())
        m_port.send(out, at + m_faults.late);
    if (split)
        m_port.send(std::span(body).subspan(head), at + m_faults.late, split->gap);
}

void Unit::replyBlock(Nanos at)
{
    Block out = m_block;
    if (m_corruptNextRead) {
        std::size_t end = std::min(BlockSize, CorruptFrom + m_faults.corrupt);
        for (std::size_t i = CorruptFrom; i < end; ++i)
            out[i] ^= CorruptMask;
        m_corruptNextRead = false;
    }
    reply(out, at, true);
}

void Unit::replyMeasurement(Nanos at)
{
    std::array<std::uint8_t, 12> out{};
    Measurement values = measurement(at);
    for (std::size_t i = 0; i < values.size(); ++i) {
        out[2 * i] = std::uint8_t(values[i] >> 8);
        out[2 * i + 1] = std::uint8_t(values[i]);
    }
    reply(out, at, true);
}

Measurement Unit::measurement(Nanos at) const
{
    if (m_fixed)
        return *m_fixed;
    // Slow waves around plausible levels, and a slow triangle for the ADC: enough movement for
    // a trend chart, never outside the 12-bit range.
    const double t = double(at - m_start) / double(Second);
    const double twoPi = 2 * std::acos(-1.0);
    auto wave = [&](double mid, double swing, double period, double phase) {
        double value = mid + swing * std::sin(twoPi * t / period + phase);
        return std::uint16_t(std::clamp(std::lround(value), 0L, 4095L));
    };
    double ramp = std::fmod(t * 20.0, 2 * 4095.0);
    auto adc = std::uint16_t(std::lround(ramp <= 4095.0 ? ramp : 2 * 4095.0 - ramp));
    return {wave(2048, 700, 37, 0.0), wave(2048, 700, 43, 1.3), wave(1500, 400, 29, 2.1), adc,
            wave(800, 60, 23, 0.5),   wave(2400, 25, 17, 0.0)};
}

void Unit::setBlock(const Block &block)
{
    m_block = block;
    persist();
}

void Unit::settingsStored()
{
    std::copy(m_incoming.begin(), m_incoming.end(), m_block.begin());
    const std::size_t end = std::min(BlockSize, CorruptFrom + m_faults.misstore);
    for (std::size_t i = CorruptFrom; i < end; ++i)
        m_block[i] ^= CorruptMask;
    m_incoming.clear();
    m_phase = Phase::Command;
    ++m_writes;
    m_corruptNextRead = m_faults.corrupt > 0;
    persist();
}

void Unit::countsReceived(Nanos at)
{
    m_counts.clear();
    for (std::size_t i = 0; i + 1 < m_incoming.size(); i += 2)
        m_counts.push_back(m_incoming[i] << 8 | m_incoming[i + 1]);
    m_incoming.clear();
    m_data.clear();
    reply(std::array{Data}, at);
    if (std::accumulate(m_counts.begin(), m_counts.end(), 0) == 0)
        uploadFinished();
    else
        m_phase = Phase::Blocks;
}

void Unit::blockReceived(Nanos at)
{
    const auto number = int(m_data.size() / BlockSize);
    if (m_faults.hangupAfter && number == *m_faults.hangupAfter) {
        abandon();
        dropHeld();
        m_port.hangUp();
        return;
    }
    if (m_faults.stopAfter && number > *m_faults.stopAfter) {
        m_phase = Phase::Stopped; // stays so until the line has been quiet long enough
        return;
    }
    if (m_faults.ffOnly)
        reply(std::array{BlockDone}, at);
    else if (m_faults.uOnly)
        reply(std::array{Next}, at);
    else
        reply(std::array{Next, BlockDone}, at);
    if (number == std::accumulate(m_counts.begin(), m_counts.end(), 0))
        uploadFinished();
}

void Unit::uploadFinished()
{
    if (!m_recordingsDir.empty()) {
        const std::vector<std::string> names = m_upload == Upload::Messages
                                                   ? std::vector<std::string>{"PPK1", "PPK2"}
                                                   : std::vector<std::string>{"SIREN"};
        std::size_t offset = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::size_t length = std::size_t(m_counts[i]) * BlockSize;
            std::span<const std::uint8_t> data(m_data.data() + offset, length);
            std::string error = saveWav(m_recordingsDir + "/" + names[i] + ".wav", data);
            if (!error.empty())
                report(error);
            offset += length;
        }
    }
    ++m_uploads;
    abandon();
}

void Unit::persist()
{
    if (m_stateFile.empty())
        return;
    std::string error = saveBlock(m_stateFile, m_block);
    if (!error.empty())
        report(error);
}

} // namespace sim
