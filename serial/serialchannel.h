#pragma once

#include "serial/adapter.h"
#include "serial/line.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSerialPort;

// The one serial connection to the unit: 115200 baud, 8 data bits, no parity, one stop bit,
// no flow control, modem lines left as the port has them. It moves bytes and nothing else:
// what a reply means, and where it lands, is the unit link's business.
//
// A receive of n bytes returns as soon as n bytes have come, or at its bound (Line): a USB
// adapter may hold the end of a reply for its latency timer (16 ms by default), and the
// program cannot always tell what stands behind a tty.
// Input waits in a small bounded buffer until a receive takes it or settle() drops it, so a
// port that talks unasked cannot make the program grow.
//
// The line counts as quiet once nothing has come for the adapter's settle window (see
// Adapter), counted from the last byte seen or the last receive that gave up early: after
// that, bytes of a late reply may still be on their way.
//
// A line that hangs up (the unit's end closed, a USB adapter pulled out) is noticed once: the
// port is closed, every later transfer fails at once, and the loss handler is told.
class SerialChannel : public Line {
public:
    SerialChannel();
    ~SerialChannel() override;
    SerialChannel(const SerialChannel &) = delete;
    SerialChannel &operator=(const SerialChannel &) = delete;

    bool open(int index) override;
    bool openDevice(const QString &path) override;
    void close() override;
    bool isOpen() const override;

    // Opens the device exclusively only to see whether it is a free serial port; the channel
    // itself is not touched. Used by the port scan.
    static bool probe(const QString &devicePath);
    // Why the device at that path would not open now; None when it would.
    static OpenReason probeReason(const QString &devicePath);

    // What a driver made of the request to hand received bytes on at once.
    enum class LowLatency {
        Granted,
        Refused,     // the driver keeps serial settings, but not this one
        Unsupported, // it keeps none to ask (a pseudo-terminal, many USB ACM devices)
    };
    // Opens the device as open() does, asks for low latency and reads back what the driver
    // holds, then closes it; the channel itself is not touched. Nothing when it would not open
    // (*why, when given, says why).
    static std::optional<LowLatency> probeLowLatency(const QString &devicePath,
                                                     OpenReason *why = nullptr);

    bool canOpen(int index) const override;
    OpenReason lastOpenReason() const override { return m_openReason; }
    QString lastOpenDevice() const override { return m_failedDevice; }

    bool sendBytes(const std::uint8_t *source, int count) override;
    int receiveBytes(std::uint8_t *destination, int count) override;
    void settle(int quietMs) override;
    bool moreFollows(int quietMs) override;
    // A loss seen here is noted as for any transfer.
    bool lineUp() override;
    // The device behind the open port, read when it was opened.
    const Adapter &adapter() const override { return m_adapter; }

    // True after the line was lost (the adapter was unplugged, the other end hung up), until
    // the next open.
    bool hasFailed() const override { return m_failed; }
    void setLossHandler(std::function<void()> handler) override
    {
        m_lossHandler = std::move(handler);
    }

private:
    void noteFault();
    // Waits up to ms for input; false once the line has turned out lost.
    bool waitForInput(qint64 ms);
    // Takes whatever has come in, into nowhere; true when anything had.
    bool drop();

    std::unique_ptr<QSerialPort> m_port;
    bool m_failed = false;
    OpenReason m_openReason;
    QString m_failedDevice;
    QString m_failureReason;
    std::function<void()> m_lossHandler;
    QObject m_context;     // receives the queued close after a loss
    QElapsedTimer m_quiet; // since the last byte seen, or the last receive that gave up
    Adapter m_adapter;
};
