#pragma once

#include "nanos.h"
#include "storage.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// What the unit needs of its serial line.
class UnitPort {
public:
    virtual ~UnitPort() = default;
    // Queues bytes to go out on the line, the first of them not before `ready`, and, with a
    // gap, not before the line has been silent that long after the byte sent before it.
    virtual void send(std::span<const std::uint8_t> bytes, Nanos ready, Nanos gap = 0) = 0;
    // Drops the line at once (the pty master is closed).
    virtual void hangUp() = 0;
};

// A reply cut in two: the first `head` bytes go out as usual, the rest after `gap` of silence.
struct Split {
    std::size_t head = 0;
    Nanos gap = 0;
};

// Misbehaviour switched on from the control input; all off by default. Split and tail apply to
// the replies that short cuts, and only to those longer than their head; a one-shot fault is
// used up by the first reply it applies to and takes precedence over its standing form.
struct Faults {
    bool silent = false;                 // answer nothing, store nothing
    Nanos late = 0;                      // every reply starts this much later
    std::optional<std::size_t> shortTo;  // block and measurement replies cut to this many bytes
    std::size_t garbage = 0;             // junk bytes sent ahead of every reply
    std::size_t garbageOnce = 0;         // junk bytes sent ahead of the next reply only
    std::optional<Split> split;          // block and measurement replies sent in two parts
    std::optional<Split> splitOnce;      // the same, for the next such reply only
    std::optional<std::size_t> tail;     // the rest after this many bytes waits for the next reply
    std::optional<std::size_t> tailOnce; // the same, for the next such reply only
    // The next data reply shifted by `head` junk bytes ahead of it, and cut where its own
    // length ends on the wire: the junk and the reply's head fill exactly its length, and
    // the rest follows after the gap.
    std::optional<Split> shiftOnce;
    bool ffOnly = false;            // upload blocks acknowledged with 0xFF alone
    bool uOnly = false;             // upload blocks acknowledged with 'U' alone
    std::optional<int> stopAfter;   // acknowledge this many upload blocks, then nothing
    std::size_t corrupt = 0;        // bytes changed in the first read-back after a write
    std::size_t misstore = 0;       // bytes changed in what each write stores
    std::optional<int> hangupAfter; // hang up on receiving this upload block
};

// Six values in reply order: PPK1, PPK2, GOiChS, ADC, LIGHT, POWER.
using Measurement = std::array<std::uint16_t, 6>;

// The unit's side of the protocol: one-byte commands, the settings block, the uploads and the
// measurement reply. Bytes come in with their arrival time on the line, replies go out through
// the port. Knows nothing of ptys or pacing.
class Unit {
public:
    // A settings write or an upload is given up after this much silence on the line.
    static constexpr Nanos StallTime = Second;

    Unit(UnitPort &port, const Block &block, Nanos startTime);

    // Where stored settings (settings.bin) and finished recordings go; empty: nowhere.
    void setStateFile(std::string path) { m_stateFile = std::move(path); }
    void setRecordingsDir(std::string dir) { m_recordingsDir = std::move(dir); }

    void receive(std::uint8_t byte, Nanos at);

    // True while a settings write or an upload waits for more bytes.
    bool inExchange() const { return m_phase != Phase::Command; }
    // Drops the open exchange: nothing of it is stored or saved.
    void abandon();

    Faults &faults() { return m_faults; }
    void setFixedMeasurement(std::optional<Measurement> values) { m_fixed = values; }
    // Reply bytes held back by a tail fault; they go out just ahead of the next reply. Clearing
    // the faults keeps them, as it keeps a late reply on its way; only a lost line drops them.
    std::size_t held() const { return m_held.size(); }
    void dropHeld() { m_held.clear(); }
    Measurement measurement(Nanos at) const;

    const Block &block() const { return m_block; }
    void setBlock(const Block &block);

    int writes() const { return m_writes; }
    int uploads() const { return m_uploads; }

private:
    enum class Phase { Command, Settings, Counts, Blocks, Stopped };
    enum class Upload { Messages, Siren };

    void command(std::uint8_t byte, Nanos at);
    void reply(std::span<const std::uint8_t> bytes, Nanos at, bool cuttable = false);
    void replyBlock(Nanos at);
    void replyMeasurement(Nanos at);
    void settingsStored();
    void countsReceived(Nanos at);
    void blockReceived(Nanos at);
    void uploadFinished();
    void persist();

    UnitPort &m_port;
    Block m_block;
    Nanos m_start;
    std::string m_stateFile;
    std::string m_recordingsDir;

    Faults m_faults;
    std::optional<Measurement> m_fixed;
    std::size_t m_garbageIndex = 0;
    std::vector<std::uint8_t> m_held;
    bool m_corruptNextRead = false;

    Phase m_phase = Phase::Command;
    Upload m_upload = Upload::Messages;
    std::vector<std::uint8_t> m_incoming; // settings data or count bytes so far
    std::vector<int> m_counts;            // blocks per recording of the running upload
    std::vector<std::uint8_t> m_data;     // upload blocks so far, back to back

    int m_writes = 0;
    int m_uploads = 0;
};

} // namespace sim
