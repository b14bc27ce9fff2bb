#pragma once

#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

// One sound-file slot of the uploads: a file held open and locked for the length of one
// upload, and the 512-byte area its header and then each data block is read into and sent
// from. The file is never loaded whole.
class SoundFile {
public:
    static constexpr int AreaSize = 512;

    SoundFile() = default;
    ~SoundFile() { close(); }
    SoundFile(const SoundFile &) = delete;
    SoundFile &operator=(const SoundFile &) = delete;

    // Opens an existing file for reading, takes it for this program alone and reads its
    // header into the area. False when the file does not exist, cannot be read or another
    // program holds it; nothing stays open then.
    bool open(const QString &name);
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    std::int64_t size() const { return m_file.size(); }
    // The header as read: up to 44 bytes, fewer for a shorter file. Valid until the first
    // readBlock(), which reuses the area.
    std::span<const std::uint8_t> header() const;

    // Reads the next 512 bytes after the header (or after the previous block) into the area.
    // A short read keeps the rest of the area as it was.
    void readBlock();
    const std::uint8_t *area() const { return m_area.data(); }

private:
    QFile m_file;
    std::array<std::uint8_t, AreaSize> m_area{};
    int m_headerBytes = 0;
};
