#include "upload/soundfile.h"

#include "device/protocol.h"
#include "upload/wavheader.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

SoundFile::Opened SoundFile::open(const QString &name)
{
    close();
#ifdef Q_OS_UNIX
    // O_NONBLOCK: opening a pipe must not wait for a writer. The type is taken from the
    // descriptor itself, so the file cannot be swapped between the check and the read.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return Opened::Missing;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Opened::NotRegular;
    }
    // Held exclusively while the upload runs: a file another program has locked counts as
    // one that cannot be opened.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        !m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Opened::Missing;
    }
#else
    m_file.setFileName(name);
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Opened::Missing;
#endif
    const qint64 got = m_file.read(reinterpret_cast<char *>(m_header.data()), WavHeader::Size);
    m_headerBytes = got > 0 ? int(got) : 0;
    return Opened::Yes;
}

void SoundFile::close()
{
    // Closing the descriptor also releases the lock.
    if (m_file.isOpen())
        m_file.close();
    m_headerBytes = 0;
    m_data = QByteArray();
}

std::span<const std::uint8_t> SoundFile::header() const
{
    return {m_header.data(), std::size_t(m_headerBytes)};
}

bool SoundFile::load(std::uint32_t blocks)
{
    const qint64 wanted = qint64(blocks) * SoundBlockSize;
    m_data.resize(wanted);
    qint64 got = 0;
    while (got < wanted) {
        const qint64 n = m_file.read(m_data.data() + got, wanted - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got == wanted)
        return true;
    m_data = QByteArray();
    return false;
}
