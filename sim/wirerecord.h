#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace sim {

// The record of every byte on the wire, kept in a folder:
//   rx.bin    the bytes received, in order
//   tx.bin    the bytes sent, in order
//   wire.log  the same as text, one line per run of one direction, at most 32 bytes a line:
//             "RX 55", "TX 57 ..."
// Every file is complete on disk after each call (the last line of wire.log included), so
// that a reader may look at any moment.
class WireRecord {
public:
    enum class Direction { Rx, Tx };

    WireRecord() = default;
    ~WireRecord();
    WireRecord(const WireRecord &) = delete;
    WireRecord &operator=(const WireRecord &) = delete;

    // Creates (or empties) the three files; returns an error text, empty on success.
    std::string open(const std::string &dir);
    bool isOpen() const { return m_log >= 0; }

    void add(Direction direction, std::span<const std::uint8_t> bytes);
    // Empties all three files.
    void clear();

private:
    static constexpr int BytesPerLine = 32;

    int m_rx = -1;
    int m_tx = -1;
    int m_log = -1;
    off_t m_lineStart = 0; // where the last, still growing line of wire.log begins
    std::string m_line;    // that line, without its newline
    Direction m_lineDirection = Direction::Rx;
    int m_lineCount = 0;
};

} // namespace sim
