#include "upload/soundfile.h"

#include "upload/wavheader.h"

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

bool SoundFile::open(const QString &name)
{
    close();
    m_file.setFileName(name);
    // Unbuffered: each read takes exactly what the area holds from the file.
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
#ifdef Q_OS_UNIX
    // Held exclusively while the upload runs: a file another program has locked counts as
    // one that cannot be opened.
    if (::flock(m_file.handle(), LOCK_EX | LOCK_NB) != 0) {
        m_file.close();
        return false;
    }
#endif
    const qint64 got = m_file.read(reinterpret_cast<char *>(m_area.data()), WavHeader::Size);
    m_headerBytes = got > 0 ? int(got) : 0;
    return true;
}

void SoundFile::close()
{
    // Closing the descriptor also releases the lock.
    if (m_file.isOpen())
        m_file.close();
    m_headerBytes = 0;
}

std::span<const std::uint8_t> SoundFile::header() const
{
    return {m_area.data(), std::size_t(m_headerBytes)};
}

void SoundFile::readBlock() { m_file.read(reinterpret_cast<char *>(m_area.data()), AreaSize); }
