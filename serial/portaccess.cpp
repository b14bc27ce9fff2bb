#include "serial/portaccess.h"

#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace PortAccess {

using Failure = SerialChannel::OpenFailure;

static Result fromQtError(QSerialPort::SerialPortError error, const QString &text)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {Failure::NoDevice, QStringLiteral("устройство не найдено")};
    case QSerialPort::PermissionError:
        return {Failure::Permission, QStringLiteral("нет доступа или порт занят")};
    default:
        return {Failure::Other, text};
    }
}

Result openExclusive(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const QFileInfo info(port.portName());
    if (info.isAbsolute()) {
        if (!info.exists())
            return {Failure::NoDevice, QStringLiteral("устройство не найдено")};
        if (info.isDir())
            return {Failure::NotSerial, QStringLiteral("это папка, а не порт")};
    }
#endif
    if (!port.open(QIODevice::ReadWrite)) {
        Result r = fromQtError(port.error(), port.errorString());
#ifdef Q_OS_LINUX
        // Qt reports a port held through its lock file and a refused open alike.
        const QFileInfo info(port.portName());
        if (r.failure == Failure::Permission && info.isReadable() && info.isWritable())
            r = {Failure::Busy, QStringLiteral("порт занят другой программой")};
        else if (r.failure == Failure::Permission)
            r.reason = QStringLiteral("нет доступа");
#endif
        port.clearError();
        return r;
    }
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(port.handle());
    // Qt's lock file and TIOCEXCL do not stop root or a second path to the same device.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        port.close();
        return {Failure::Busy, QStringLiteral("порт занят другой программой")};
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        port.close();
        return {Failure::NotSerial, QStringLiteral("это не последовательный порт")};
    }
#endif
    return {};
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

} // namespace PortAccess
