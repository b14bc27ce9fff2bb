#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

// One sound-file slot of the uploads: a file held open and locked as long as this object has
// it open (SoundUpload::run keeps it so to the upload's end). Once its header has passed the check,
// the blocks to send are read into memory (at most 65,535 of them, 32 MiB), so the unit gets
// the file as it was when the upload began, whatever happens to the file meanwhile.
class SoundFile {
public:
    enum class Opened {
        Yes,
        Missing,    // does not exist, cannot be read, or another program holds it
        NotRegular, // a pipe, a device, a socket or a folder: never read
    };

    SoundFile() = default;
    ~SoundFile() { close(); }
    SoundFile(const SoundFile &) = delete;
    SoundFile &operator=(const SoundFile &) = delete;

    // Opens an existing regular file for reading without ever waiting on it, takes it for
    // this program alone and reads its header. Nothing stays open unless it is Yes.
    Opened open(const QString &name);
    void close();

    std::int64_t size() const { return m_file.size(); }
    // The header as read: up to 44 bytes, fewer for a shorter file.
    std::span<const std::uint8_t> header() const;

    // Reads `blocks` sound blocks following the header. False when the file no longer holds
    // them all.
    bool load(std::uint32_t blocks);
    // The blocks loaded, one after the other.
    const QByteArray &data() const { return m_data; }

private:
    QFile m_file;
    std::array<std::uint8_t, 44> m_header{};
    int m_headerBytes = 0;
    QByteArray m_data;
};
