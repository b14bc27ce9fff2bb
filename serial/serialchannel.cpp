#include "serial/serialchannel.h"

#include "serial/comnames.h"
#include "serial/portaccess.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <algorithm>

namespace {
constexpr int IdleSliceMs = 25;      // how often a waiting receive lets the window paint
constexpr int WriteTimeoutMs = 5000; // a driver that takes no bytes for this long has failed
} // namespace

SerialChannel::SerialChannel() = default;
SerialChannel::~SerialChannel() = default;

bool SerialChannel::open(int index)
{
    close();
    m_failed = false;
    m_failure = OpenFailure::None;
    m_failedDevice.clear();
    m_failureReason.clear();

    const QString path = ComNames::devicePath(index);
    if (path.isEmpty()) {
        m_failure = OpenFailure::NoIndex;
        return false;
    }
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    const PortAccess::Result result = PortAccess::openExclusive(*port);
    if (result.failure != OpenFailure::None) {
        m_failure = result.failure;
        m_failedDevice = path;
        m_failureReason = result.reason;
        return false;
    }
    // Some drivers (a pty among them) refuse a setting they cannot honour; that is no
    // reason to give up the port.
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->clearError();
    PortAccess::requestLowLatency(*port);
    m_port = std::move(port);
    return true;
}

bool SerialChannel::probe(const QString &devicePath)
{
    QSerialPort port;
    port.setPortName(devicePath);
    if (PortAccess::openExclusive(port).failure != OpenFailure::None)
        return false;
    port.close();
    return true;
}

void SerialChannel::close()
{
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

bool SerialChannel::isOpen() const { return m_port && m_port->isOpen(); }

void SerialChannel::noteFault() { m_failed = true; }

bool SerialChannel::sendByte(std::uint8_t byte)
{
    readBack()[0] = byte;
    return sendBytes(readBack(), 1);
}

bool SerialChannel::sendBlock(const std::uint8_t *source) { return sendBytes(source, BlockSize); }

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

std::uint8_t SerialChannel::receiveByte(bool *arrived)
{
    const int got = receiveBytes(transferBlock(), 1);
    if (arrived)
        *arrived = got == 1;
    return transferBlock()[0];
}

int SerialChannel::receiveBytes(std::uint8_t *destination, int count)
{
    if (!isOpen() || m_failed || count <= 0)
        return 0;
    QElapsedTimer timer;
    timer.start();
    const qint64 budget = qint64(count) * MsPerByte;
    int got = 0;
    for (;;) {
        const qint64 n = m_port->read(reinterpret_cast<char *>(destination + got), count - got);
        if (n < 0) {
            noteFault();
            break;
        }
        got += int(n);
        if (got >= count)
            break;
        const qint64 left = budget - timer.elapsed();
        if (left <= 0)
            break;
        const int wait = int(m_idle ? std::min<qint64>(left, IdleSliceMs) : left);
        if (!m_port->waitForReadyRead(wait)) {
            const QSerialPort::SerialPortError error = m_port->error();
            m_port->clearError();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                noteFault();
                break;
            }
        }
        idleIfDue();
    }
    idleIfDue();
    return got;
}

void SerialChannel::idleIfDue()
{
    // Paced over all receives, so that a long run of short ones (an upload) lets the window
    // paint too.
    if (!m_idle)
        return;
    if (!m_sinceIdle.isValid() || m_sinceIdle.elapsed() >= IdleSliceMs) {
        m_sinceIdle.start();
        m_idle();
    }
}
