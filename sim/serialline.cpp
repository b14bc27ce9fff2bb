#include "serialline.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

SerialLine::~SerialLine() { closeAll(); }

std::string SerialLine::open()
{
    closeAll();
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return std::string("posix_openpt: ") + std::strerror(errno);
    const char *name = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
        std::string why = std::strerror(errno);
        ::close(master);
        return "cannot set up the pty: " + why;
    }
    std::string path = name;
    int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::string why = std::strerror(errno);
        ::close(master);
        return "cannot open " + path + ": " + why;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    m_master = master;
    m_ownSlave = slave;
    m_slavePath = path;
    return {};
}

void SerialLine::hangUp() { closeAll(); }

void SerialLine::closeAll()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_ownSlave >= 0)
        ::close(m_ownSlave);
    m_master = -1;
    m_ownSlave = -1;
    m_rx.clear();
    m_tx.clear();
    m_writeBlocked = false;
    m_recordedAhead = 0;
    m_adapter.clear();
    m_wire.clear();
    m_out.clear();
}

void SerialLine::send(std::span<const std::uint8_t> bytes, Nanos ready, Nanos gap)
{
    if (!isOpen())
        return;
    for (std::uint8_t b : bytes) {
        m_tx.push_back({b, ready, gap});
        gap = 0;
    }
}

int SerialLine::readAvailable(Nanos now)
{
    int total = 0;
    std::uint8_t buffer[4096];
    while (isOpen()) {
        ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // EAGAIN: all taken
        Nanos last = m_rx.empty() ? m_lastArrival : m_rx.back().time;
        const Nanos start = m_adapter.profile().present() ? m_adapter.frameAfter(now) : now;
        for (ssize_t i = 0; i < n; ++i) {
            last = std::max(start, last) + byteTime();
            m_rx.push_back({buffer[i], last});
        }
        total += int(n);
    }
    return total;
}

int SerialLine::deliverDue(Nanos now, const std::function<void(std::uint8_t, Nanos)> &onByte)
{
    std::vector<Pending> due;
    while (!m_rx.empty() && m_rx.front().time <= now) {
        due.push_back(m_rx.front());
        m_rx.pop_front();
    }
    if (due.empty())
        return 0;
    // Recorded before the unit acts on them: whatever it answers is written after them.
    std::vector<std::uint8_t> bytes;
    for (const Pending &p : due)
        bytes.push_back(p.byte);
    m_record.add(WireRecord::Direction::Rx, bytes);
    m_received += due.size();
    m_lastArrival = due.back().time;
    for (const Pending &p : due) {
        if (!isOpen())
            break;
        onByte(p.byte, p.time);
    }
    return int(due.size());
}

Nanos SerialLine::sendTime(const Pending &p, Nanos previous) const
{
    if (p.gap > 0)
        return std::max(p.time, std::max(previous, m_lastWrite) + p.gap) + byteTime();
    return std::max(p.time, previous) + byteTime();
}

int SerialLine::flushDue(Nanos now)
{
    if (!isOpen())
        return 0;
    return m_adapter.profile().present() ? flushThroughAdapter(now) : flushDirect(now);
}

int SerialLine::flushThroughAdapter(Nanos now)
{
    // Onto the line at its pace, into the adapter's packets...
    Nanos previous = m_lastSent;
    while (!m_tx.empty()) {
        const Nanos at = sendTime(m_tx.front(), previous);
        if (at > now)
            break;
        m_wire.push_back(m_tx.front().byte);
        m_adapter.add(at);
        m_tx.pop_front();
        previous = at;
        m_lastSent = at;
        m_lastWrite = at; // a gap is silence on the line itself
    }
    // ...and to the client as whole packets.
    for (std::size_t n = m_adapter.take(now); n > 0; --n) {
        m_out.push_back(m_wire.front());
        m_wire.pop_front();
    }
    if (m_out.empty())
        return 0;
    const std::size_t n = writeRecorded(m_out);
    m_out.erase(m_out.begin(), m_out.begin() + std::ptrdiff_t(n));
    return int(n);
}

std::size_t SerialLine::writeRecorded(const std::vector<std::uint8_t> &bytes)
{
    // Recorded before the write: once the client can read a byte, the record has it.
    if (bytes.size() > m_recordedAhead) {
        m_record.add(WireRecord::Direction::Tx,
                     std::span(bytes.data() + m_recordedAhead, bytes.size() - m_recordedAhead));
        m_recordedAhead = bytes.size();
    }
    ssize_t n;
    do {
        n = ::write(m_master, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    m_writeBlocked = n < ssize_t(bytes.size());
    if (n <= 0)
        return 0;
    m_recordedAhead -= std::size_t(n);
    m_sent += std::uint64_t(n);
    return std::size_t(n);
}

int SerialLine::flushDirect(Nanos now)
{
    if (m_tx.empty())
        return 0;
    std::vector<std::uint8_t> batch;
    std::vector<Nanos> times;
    Nanos previous = m_lastSent;
    for (const Pending &p : m_tx) {
        if (p.gap > 0 && !batch.empty())
            break; // its gap counts from the real write of the bytes before it
        Nanos at = sendTime(p, previous);
        if (at > now)
            break;
        batch.push_back(p.byte);
        times.push_back(at);
        previous = at;
    }
    if (batch.empty())
        return 0;
    const std::size_t n = writeRecorded(batch);
    if (n == 0)
        return 0;
    m_tx.erase(m_tx.begin(), m_tx.begin() + std::ptrdiff_t(n));
    m_lastSent = times[n - 1];
    m_lastWrite = monotonicNow();
    return int(n);
}

std::optional<Nanos> SerialLine::nextEvent() const
{
    std::optional<Nanos> next;
    if (!m_rx.empty())
        next = m_rx.front().time;
    auto earliest = [&next](Nanos at) { next = next ? std::min(*next, at) : at; };
    if (m_adapter.profile().present()) {
        if (!m_tx.empty())
            earliest(sendTime(m_tx.front(), m_lastSent));
        if (const std::optional<Nanos> at = m_adapter.delivery())
            earliest(*at);
        if (!m_out.empty() && !m_writeBlocked)
            earliest(0);
        return next;
    }
    if (!m_tx.empty() && !m_writeBlocked)
        earliest(sendTime(m_tx.front(), m_lastSent));
    return next;
}

} // namespace sim
