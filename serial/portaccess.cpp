#include "serial/portaccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace PortAccess {

using Failure = Line::OpenFailure;
using Reason = Line::OpenReason;

namespace {

#ifdef Q_OS_LINUX
// The device the port opens. Qt names a device under /dev/ by the rest of its path ("null",
// "pts/3"), which as a path would be looked for in the working folder.
QString devicePath(const QSerialPort &port)
{
    const QString name = port.portName();
    const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                      name.startsWith(QLatin1String("../"));
    return path ? name : QStringLiteral("/dev/") + name;
}

// An open that Qt could not finish: the device exists but is no terminal (ENOTTY), or the
// driver refused it for a reason of its own.
bool isTerminal(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return true; // cannot tell; not a reason to call it something else
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
}
#endif

Reason fromQtError(QSerialPort::SerialPortError error, const QString &path)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {Failure::NoDevice};
    case QSerialPort::PermissionError:
        return {.failure = Failure::Permission, .accessOrBusy = true};
    default:
        break;
    }
#ifdef Q_OS_LINUX
    if (!isTerminal(path))
        return {Failure::NotSerial};
#else
    Q_UNUSED(path);
#endif
    return {.failure = Failure::Other, .portError = int(error)};
}

} // namespace

Reason openExclusive(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const QFileInfo info(devicePath(port));
    if (info.isAbsolute()) {
        if (!info.exists())
            return {Failure::NoDevice};
        if (info.isDir())
            return {.failure = Failure::NotSerial, .folder = true};
    }
#endif
    if (!port.open(QIODevice::ReadWrite)) {
#ifdef Q_OS_LINUX
        Reason r = fromQtError(port.error(), devicePath(port));
        // Qt reports a port held through its lock file and a refused open alike; the device's
        // access bits tell them apart.
        const QFileInfo info(devicePath(port));
        if (r.failure == Failure::Permission && info.isReadable() && info.isWritable())
            r = {Failure::Busy};
        else if (r.failure == Failure::Permission)
            r.accessOrBusy = false;
#else
        const Reason r = fromQtError(port.error(), port.portName());
#endif
        port.clearError();
        return r;
    }
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(port.handle());
    // Qt's lock file and TIOCEXCL do not stop root or a second path to the same device.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        port.close();
        return {Failure::Busy};
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        port.close();
        return {Failure::NotSerial};
    }
#endif
    return {};
}

bool lineLost(QSerialPort &port, QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::ResourceError)
        return true;
    if (error != QSerialPort::ReadError || !port.isOpen())
        return false;
#ifdef Q_OS_LINUX
    // A read that returned nothing on a readable port: the other end has hung up when the
    // system says so.
    pollfd p{static_cast<int>(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

void requestLowLatency(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(port.handle());
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    if (info.flags & ASYNC_LOW_LATENCY)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &info);
#else
    Q_UNUSED(port);
#endif
}

SerialChannel::LowLatency lowLatency(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    serial_struct info{};
    if (::ioctl(static_cast<int>(port.handle()), TIOCGSERIAL, &info) != 0)
        return SerialChannel::LowLatency::Unsupported;
    return (info.flags & ASYNC_LOW_LATENCY) ? SerialChannel::LowLatency::Granted
                                            : SerialChannel::LowLatency::Refused;
#else
    Q_UNUSED(port);
    return SerialChannel::LowLatency::Unsupported;
#endif
}

} // namespace PortAccess
