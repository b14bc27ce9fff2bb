#pragma once

#include "upload/soundfile.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class SerialChannel;
class Clock;

// Sends the unit its recordings: both alert messages ("PPK1.wav", "PPK2.wav", command 0x60)
// or the siren ("SIREN.wav", command 0x70), in 512-byte blocks that the unit acknowledges one
// by one with 'U' and 0xFF. Files are taken by bare name from the current folder and every
// file is checked before the first byte goes out. Progress goes to the activity log and the
// progress bar (0..100) through the view.
//
// The caller decides whether the unit is connected; an upload runs to its end, or until the
// unit stays silent for 10 s or the line is lost.
class SoundUpload {
public:
    struct View {
        std::function<void(const QString &)> log; // appends one line to the activity log
        std::function<void(int)> setProgress;
        std::function<int()> progress;
    };

    // Longest wait for one reply byte, in clock time.
    static constexpr int ReplyBoundMs = 10000;
    static constexpr int ProgressMax = 100;

    SoundUpload(SerialChannel &channel, const Clock &clock, View view);

    void uploadMessages();
    void uploadSiren();

private:
    // The file's block count, or nothing when it could not be opened or failed the check.
    std::optional<std::uint32_t> openChecked(SoundFile &file, const QString &name,
                                             const QString &notFoundLine);
    bool startExchange(std::uint8_t command, const std::uint8_t *counts, int countBytes);
    bool sendBlocks(SoundFile &file, std::uint32_t blocks, const QString &title);
    bool send(const std::uint8_t *bytes, int count);
    bool await(std::uint8_t reply);
    void fail(const QString &line);
    void closeFiles();

    SerialChannel &m_channel;
    const Clock &m_clock;
    View m_view;
    SoundFile m_slot1;           // "PPK1.wav" or "SIREN.wav"
    SoundFile m_slot2;           // "PPK2.wav"
    std::uint32_t m_counter = 0; // blocks since the bar last moved; kept from PPK1 to PPK2
};
