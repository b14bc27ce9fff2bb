#include "support/ptypeer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    // Neither end is handed on to a process the test starts: a hang-up must close the line.
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(m_master);
    ::unlockpt(m_master);
    m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    m_keep = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(m_keep, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_keep, TCSANOW, &raw);
}

PtyPeer::~PtyPeer()
{
    hangUp();
    if (m_keep >= 0)
        ::close(m_keep);
}

void PtyPeer::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return;
        if (n > 0)
            done += n;
    }
}

qint64 PtyPeer::offer(const QByteArray &bytes)
{
    if (m_master < 0)
        return 0;
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::fcntl(m_master, F_SETFL, flags);
    return done;
}

QByteArray PtyPeer::readAvailable(int waitMs)
{
    QByteArray got;
    pollfd p{m_master, POLLIN, 0};
    while (m_master >= 0 && ::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
        char buffer[1024];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
        waitMs = 5;
    }
    return got;
}

void PtyPeer::hangUp()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
