#pragma once

#include <QElapsedTimer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QSerialPort;

// The one serial connection to the unit: 115200 baud, 8 data bits, no parity, one stop bit,
// no flow control, modem lines left as the port has them. A receive of n bytes returns as
// soon as n bytes have come or 10 x n ms after it began; input is never purged, so a late
// byte goes to whichever receive comes next.
//
// The channel also owns the transfer block (the settings block as last read, where single
// reply bytes land) and the read-back area right after it, whose first byte is the send
// buffer of sendByte().
class SerialChannel {
public:
    static constexpr int BlockSize = 512;
    static constexpr int MsPerByte = 10;

    enum class OpenFailure {
        None,
        NoIndex,    // list index outside 0..39: nothing is opened
        NoDevice,   // the device (or the link's target) does not exist
        Permission, // the system refused access
        Busy,       // another program holds the port
        NotSerial,  // opened, but it is no serial port (no line settings)
        Other,
    };

    SerialChannel();
    ~SerialChannel();
    SerialChannel(const SerialChannel &) = delete;
    SerialChannel &operator=(const SerialChannel &) = delete;

    // Closes what is open, then opens list index 0..39 ("COM1".."COM40") exclusively.
    bool open(int index);
    void close();
    bool isOpen() const;

    // Opens the device exclusively only to see whether it is a free serial port; the channel
    // itself is not touched. Used by the port scan.
    static bool probe(const QString &devicePath);

    // Why the last open failed, the device it tried and the system's own reason.
    OpenFailure lastOpenFailure() const { return m_failure; }
    QString lastOpenDevice() const { return m_failedDevice; }
    QString lastOpenReason() const { return m_failureReason; }

    // Sends report whether the port took every byte.
    bool sendByte(std::uint8_t byte);
    bool sendBlock(const std::uint8_t *source); // BlockSize bytes
    bool sendBytes(const std::uint8_t *source, int count);

    // One byte into the transfer block's first byte; returns that byte afterwards (the earlier
    // one when nothing came). arrived (optional) tells whether a byte actually came.
    std::uint8_t receiveByte(bool *arrived = nullptr);
    // Up to count bytes into destination; returns how many arrived. The rest of the
    // destination is left as it was.
    int receiveBytes(std::uint8_t *destination, int count);

    std::uint8_t *transferBlock() { return m_area.data(); }
    const std::uint8_t *transferBlock() const { return m_area.data(); }
    std::uint8_t *readBack() { return m_area.data() + BlockSize; }
    const std::uint8_t *readBack() const { return m_area.data() + BlockSize; }

    // Called every few tens of milliseconds while receives run, so that the window can paint
    // what the running handler has changed.
    void setIdleHook(std::function<void()> hook) { m_idle = std::move(hook); }

    // True after the port reported a fault it cannot recover from (the adapter was
    // unplugged, the other end hung up). Cleared by the next open.
    bool hasFailed() const { return m_failed; }

private:
    void noteFault();
    void idleIfDue();

    std::unique_ptr<QSerialPort> m_port;
    bool m_failed = false;
    std::array<std::uint8_t, 2 * BlockSize> m_area{};
    OpenFailure m_failure = OpenFailure::None;
    QString m_failedDevice;
    QString m_failureReason;
    std::function<void()> m_idle;
    QElapsedTimer m_sinceIdle;
};
