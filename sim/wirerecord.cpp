#include "wirerecord.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

void writeAll(int fd, const void *data, std::size_t size)
{
    auto *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= std::size_t(n);
    }
}

void pwriteAll(int fd, const std::string &text, off_t at)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = pwrite(fd, text.data() + done, text.size() - done, at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
}

} // namespace

WireRecord::~WireRecord()
{
    for (int fd : {m_rx, m_tx, m_log})
        if (fd >= 0)
            close(fd);
}

std::string WireRecord::open(const std::string &dir)
{
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    m_rx = ::open((dir + "/rx.bin").c_str(), flags | O_APPEND, 0644);
    m_tx = ::open((dir + "/tx.bin").c_str(), flags | O_APPEND, 0644);
    m_log = ::open((dir + "/wire.log").c_str(), flags, 0644);
    if (m_rx < 0 || m_tx < 0 || m_log < 0)
        return "cannot create the record files in " + dir + ": " + std::strerror(errno);
    return {};
}

void WireRecord::add(Direction direction, std::span<const std::uint8_t> bytes)
{
    if (!isOpen() || bytes.empty())
        return;
    writeAll(direction == Direction::Rx ? m_rx : m_tx, bytes.data(), bytes.size());

    // Rewrite wire.log from the start of its open line: that line grows in place, and lines
    // that fill up or change direction are closed behind it.
    static const char digits[] = "0123456789ABCDEF";
    const off_t from = m_lineStart;
    std::string text;
    for (std::uint8_t b : bytes) {
        if (m_line.empty() || direction != m_lineDirection || m_lineCount == BytesPerLine) {
            if (!m_line.empty()) {
                text += m_line + "\n";
                m_lineStart += off_t(m_line.size() + 1);
            }
            m_line = direction == Direction::Rx ? "RX" : "TX";
            m_lineDirection = direction;
            m_lineCount = 0;
        }
        m_line += ' ';
        m_line += digits[b >> 4];
        m_line += digits[b & 0x0F];
        ++m_lineCount;
    }
    text += m_line + "\n";
    pwriteAll(m_log, text, from);
}

void WireRecord::clear()
{
    if (!isOpen())
        return;
    for (int fd : {m_rx, m_tx, m_log})
        if (ftruncate(fd, 0) != 0)
            return;
    m_lineStart = 0;
    m_line.clear();
    m_lineCount = 0;
}

} // namespace sim
