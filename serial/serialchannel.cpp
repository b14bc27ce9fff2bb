#include "serial/serialchannel.h"

#include "serial/comnames.h"
#include "serial/portaccess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <algorithm>

namespace {
constexpr int WriteTimeoutMs = 5000; // a driver that takes no bytes for this long has failed
} // namespace

SerialChannel::SerialChannel() = default;
SerialChannel::~SerialChannel() = default;

bool SerialChannel::open(int index)
{
    const QString path = ComNames::devicePath(index);
    if (path.isEmpty()) {
        close();
        m_failed = false;
        m_openReason = {OpenFailure::NoIndex};
        m_failedDevice.clear();
        return false;
    }
    return openDevice(path);
}

bool SerialChannel::openDevice(const QString &path)
{
    close();
    m_failed = false;
    m_openReason = {};
    m_failedDevice.clear();
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    const OpenReason reason = PortAccess::openExclusive(*port);
    if (reason.failure != OpenFailure::None) {
        m_openReason = reason;
        // The user knows the device by what the link points at, not by the link.
        const QFileInfo info(path);
        m_failedDevice = info.isSymLink() ? info.symLinkTarget() : path;
        return false;
    }
    // Some drivers (a pty among them) refuse a setting they cannot honour; that is no
    // reason to give up the port.
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setReadBufferSize(InputBound);
    port->clearError();
    PortAccess::requestLowLatency(*port);
    m_adapter = Adapter::lookup(path);
    m_quiet.start();
    // Between receives nobody reads the port; a hang-up then shows only as an error from the
    // port's own read notifier, which would otherwise fire again and again.
    QObject::connect(port.get(), &QSerialPort::errorOccurred, port.get(),
                     [this, p = port.get()](QSerialPort::SerialPortError error) {
                         if (PortAccess::lineLost(*p, error))
                             noteFault();
                     });
    m_port = std::move(port);
    return true;
}

bool SerialChannel::probe(const QString &devicePath)
{
    return probeReason(devicePath).failure == OpenFailure::None;
}

Line::OpenReason SerialChannel::probeReason(const QString &devicePath)
{
    QSerialPort port;
    port.setPortName(devicePath);
    const OpenReason reason = PortAccess::openExclusive(port);
    if (reason.failure == OpenFailure::None)
        port.close();
    return reason;
}

std::optional<SerialChannel::LowLatency> SerialChannel::probeLowLatency(const QString &devicePath,
                                                                        OpenReason *why)
{
    QSerialPort port;
    port.setPortName(devicePath);
    const OpenReason reason = PortAccess::openExclusive(port);
    if (why)
        *why = reason;
    if (reason.failure != OpenFailure::None)
        return std::nullopt;
    PortAccess::requestLowLatency(port);
    const LowLatency held = PortAccess::lowLatency(port);
    port.close();
    return held;
}

bool SerialChannel::canOpen(int index) const
{
    const QString path = ComNames::devicePath(index);
    return !path.isEmpty() && probe(path);
}

void SerialChannel::close()
{
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

bool SerialChannel::isOpen() const { return m_port && m_port->isOpen(); }

void SerialChannel::noteFault()
{
    if (m_failed)
        return;
    m_failed = true;
    // The port is closed from its thread's event loop, never inside the port's own notifier,
    // and only if it is still the one that failed. Until then it stays open but unused.
    QSerialPort *failed = m_port.get();
    QMetaObject::invokeMethod(
        &m_context,
        [this, failed] {
            if (m_port.get() != failed)
                return;
            close();
            if (m_lossHandler)
                m_lossHandler();
        },
        Qt::QueuedConnection);
}

bool SerialChannel::sendBytes(const std::uint8_t *source, int count)
{
    if (!isOpen() || m_failed)
        return false;
    const qint64 taken = m_port->write(reinterpret_cast<const char *>(source), count);
    if (taken != count) {
        noteFault();
        return false;
    }
    while (m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(WriteTimeoutMs)) {
            noteFault();
            return false;
        }
    }
    return true;
}

int SerialChannel::receiveBytes(std::uint8_t *destination, int count)
{
    if (!isOpen() || m_failed || count <= 0)
        return 0;
    QElapsedTimer timer;
    timer.start();
    const qint64 budget = receiveBoundMs(count);
    int got = 0;
    for (;;) {
        const qint64 n = m_port->read(reinterpret_cast<char *>(destination + got), count - got);
        if (n < 0) {
            noteFault();
            break;
        }
        if (n > 0)
            m_quiet.start();
        got += int(n);
        if (got >= count || m_failed)
            break;
        const qint64 left = budget - timer.elapsed();
        if (left <= 0)
            break;
        if (!waitForInput(left))
            break;
    }
    if (got < count)
        m_quiet.start(); // what did not come may still be on its way
    return got;
}

bool SerialChannel::waitForInput(qint64 ms)
{
    if (m_port->waitForReadyRead(int(ms)))
        return true;
    const QSerialPort::SerialPortError error = m_port->error();
    m_port->clearError();
    if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError &&
        PortAccess::lineLost(*m_port, error)) {
        noteFault();
        return false;
    }
    return true;
}

bool SerialChannel::lineUp()
{
    if (!isOpen() || m_failed)
        return false;
    waitForInput(0);
    return !m_failed;
}

bool SerialChannel::drop()
{
    bool any = false;
    do {
        if (m_port->bytesAvailable() > 0) {
            any = true;
            m_port->clear(QSerialPort::Input);
        }
    } while (m_port->waitForReadyRead(0));
    m_port->clearError();
    return any;
}

void SerialChannel::settle(int quietMs)
{
    if (!isOpen() || m_failed)
        return;
    QElapsedTimer bound;
    bound.start();
    for (;;) {
        if (drop())
            m_quiet.start();
        const qint64 left = quietMs - m_quiet.elapsed();
        if (left <= 0 || bound.elapsed() >= SettleBoundMs || m_failed)
            return;
        if (!waitForInput(left))
            return;
    }
}

bool SerialChannel::moreFollows(int quietMs)
{
    if (!isOpen() || m_failed)
        return false;
    if (m_port->bytesAvailable() == 0 && !waitForInput(quietMs))
        return false;
    if (m_port->bytesAvailable() == 0)
        return false;
    m_quiet.start();
    return true;
}
