#pragma once

#include "upload/soundfile.h"
#include "upload/wavheader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class UnitLink;
class Clock;

// Sends the unit its recordings: both alert messages ("PPK1.wav", "PPK2.wav", command 0x60)
// or the siren ("SIREN.wav", command 0x70), in sound blocks that the unit acknowledges one by
// one with 'U' and 0xFF. Files are taken by bare name from the current folder; every file is
// checked and read before the first byte goes out. What happens is reported step by step to
// the view, which turns it into its own texts; the progress bar (0..100) moves as the blocks
// go.
//
// The two halves also stand alone: load() reads and checks a set's files once, and send()
// sends what was loaded, to as many units as there are uploads.
//
// The caller decides whether the unit is connected; an upload runs to its end, or until the
// unit stays silent for the reply bound or the line is lost.
class SoundUpload {
public:
    enum class Set { Messages, Siren };

    struct Event {
        enum class Kind {
            Opening,    // about to open the slot's file
            Refused,    // the file cannot be sent (why: `refusal`, `header`); nothing was sent
            Connecting, // the command is about to go out
            Accepted,   // the unit took the counts and waits for data
            Sending,    // the slot's `blocks` blocks begin
            BlockDone,  // the unit acknowledged `blocks` of the slot's blocks so far
            Sent,       // every block of the slot was acknowledged
            NoAnswer,   // the unit stayed silent for the reply bound
            LineLost,   // the port failed or the line was lost
        };
        enum class Refusal { None, Missing, NotRegular, BadHeader, Changed };

        Kind kind;
        Set set = Set::Messages;
        int slot = 0; // 0 or 1, the file within the set
        Refusal refusal = Refusal::None;
        WavHeader::Problem header = WavHeader::Problem::None;
        std::uint32_t blocks = 0;
    };

    struct View {
        std::function<void(const Event &)> report;
        std::function<void(int)> setProgress;
        std::function<int()> progress;
    };

    // A set's files as they were read and checked: the whole blocks of each, which are what
    // the unit is sent, whatever happens to the files afterwards.
    struct Sounds {
        Set set = Set::Messages;
        std::array<QByteArray, 2> data;
        std::array<std::uint32_t, 2> blocks{};
    };

    // Longest wait for one reply byte, in clock time.
    static constexpr int ReplyBoundMs = 10000;
    static constexpr int ProgressMax = 100;

    // The files of a set, in the order they are sent.
    static int fileCount(Set set);
    static QString fileName(Set set, int slot);

    SoundUpload(UnitLink &link, const Clock &clock, View view);

    // True when every block of every file was acknowledged. The files stay open, and held for
    // this program alone, until the upload is over.
    bool run(Set set);

    // Opens, checks and reads the set's files from these paths, in the set's order, each held
    // only while it is read (so one file may stand for both). Reports Opening and Refused;
    // nothing when a file cannot be sent.
    static std::optional<Sounds> load(Set set, const QStringList &paths,
                                      const std::function<void(const Event &)> &report);
    // Sends what load() read: from the command on, as run() does. True when every block of
    // every file was acknowledged.
    bool send(const Sounds &sounds);

private:
    static bool prepare(SoundFile &file, Set set, int slot, const QString &name,
                        const std::function<void(const Event &)> &report, Sounds &sounds);
    bool startExchange(std::uint8_t command, const std::uint8_t *counts, int countBytes);
    bool sendBlocks(int slot, const QByteArray &data, std::uint32_t blocks);
    bool send(const std::uint8_t *bytes, int count);
    bool await(std::uint8_t reply);
    void report(Event::Kind kind, int slot = 0, std::uint32_t blocks = 0);
    void fail(Event::Kind kind);

    UnitLink &m_link;
    const Clock &m_clock;
    View m_view;
    Set m_set = Set::Messages;
    std::uint32_t m_counter = 0; // blocks since the bar last moved; kept from PPK1 to PPK2
};
