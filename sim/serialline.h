#pragma once

#include "nanos.h"
#include "unit.h"
#include "usbadapter.h"
#include "wirerecord.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The unit's end of the serial line: a pty master, paced like a real line.
//
// With pacing on, a received byte counts as arrived once its line time has passed after the
// previous one (10 bits at 115200 baud), and a byte to send goes out one line time after the
// one before it, both on absolute deadlines. A run queued with a gap waits for that much
// silence after the real write of the byte before it, however late the loop was. The caller's
// loop reads when the master is readable, hands arrived bytes on with deliverDue(), writes with
// flushDue(), and sleeps until nextEvent().
//
// With a USB adapter profile, what the unit sends reaches the client as the adapter delivers
// it (see Adapter), and what the client writes starts on the line at the next USB frame.
//
// The line keeps one descriptor of the slave open itself and never reads from it, so that
// reading the master does not fail while the client has its side closed.
class SerialLine : public UnitPort {
public:
    static constexpr Nanos ByteTime = CharacterTime;

    SerialLine(bool paced, WireRecord &record, const AdapterProfile &adapter = {})
        : m_paced(paced), m_record(record), m_adapter(adapter, monotonicNow())
    {
    }
    const AdapterProfile &adapter() const { return m_adapter.profile(); }
    ~SerialLine() override;
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // A new pty in raw mode; the old one, if any, is dropped first. Returns an error text,
    // empty on success.
    std::string open();
    bool isOpen() const { return m_master >= 0; }
    const std::string &slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Closes the master: the client sees the line drop. Queued bytes are lost.
    void hangUp() override;
    void send(std::span<const std::uint8_t> bytes, Nanos ready, Nanos gap = 0) override;

    // Takes what the master has to read; each byte is stamped with its arrival time. Returns
    // how many bytes were read.
    int readAvailable(Nanos now);
    // Hands every byte whose arrival time has come to onByte(byte, arrivalTime), in order,
    // and returns how many. Stops early if the line is hung up meanwhile.
    int deliverDue(Nanos now, const std::function<void(std::uint8_t, Nanos)> &onByte);
    // Writes every byte whose send time has come; returns how many were written.
    int flushDue(Nanos now);

    // True when the master would not take more bytes and must be polled for writing.
    bool writeBlocked() const { return m_writeBlocked; }
    // The next arrival or send time, if anything is queued.
    std::optional<Nanos> nextEvent() const;
    // Nothing queued in either direction.
    bool quiet() const
    {
        return m_rx.empty() && m_tx.empty() && m_adapter.buffered() == 0 && m_out.empty();
    }
    // Bytes queued to go out but not yet written.
    std::size_t queued() const { return m_tx.size() + m_adapter.buffered() + m_out.size(); }
    // The last moment something moved on the line (a byte arrived or went out).
    Nanos lastActivity() const { return std::max(m_lastArrival, m_lastSent); }

    std::uint64_t received() const { return m_received; }
    std::uint64_t sent() const { return m_sent; }

private:
    struct Pending {
        std::uint8_t byte;
        Nanos time;   // arrival time (rx) or earliest send time (tx)
        Nanos gap{0}; // tx: silence owed before this byte
    };

    Nanos byteTime() const { return m_paced ? ByteTime : 0; }
    Nanos sendTime(const Pending &p, Nanos previous) const;
    int flushDirect(Nanos now);
    int flushThroughAdapter(Nanos now);
    // Writes bytes to the master, recording them first; returns how many were taken.
    std::size_t writeRecorded(const std::vector<std::uint8_t> &bytes);
    void closeAll();

    bool m_paced;
    WireRecord &m_record;
    int m_master = -1;
    int m_ownSlave = -1;
    std::string m_slavePath;

    std::deque<Pending> m_rx;
    std::deque<Pending> m_tx;
    Nanos m_lastArrival = 0;
    Nanos m_lastSent = 0;  // the deadline of the last byte written
    Nanos m_lastWrite = 0; // when that write really happened
    bool m_writeBlocked = false;
    std::size_t m_recordedAhead = 0; // queued bytes already in the record (a write fell short)
    Adapter m_adapter;
    std::deque<std::uint8_t> m_wire; // crossed the line, in the adapter's packets
    std::vector<std::uint8_t> m_out; // delivered by the adapter, not yet written
    std::uint64_t m_received = 0;
    std::uint64_t m_sent = 0;
};

} // namespace sim
