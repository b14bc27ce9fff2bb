#pragma once

#include "serial/adapter.h"

#include <QString>
#include <cstdint>
#include <functional>

// A byte line to the unit, as the unit link needs it: the real serial port (SerialChannel) or
// a unit in the same process. A line moves bytes and nothing else; what a reply means is the
// unit link's business.
//
// Time on a line is the line's own: a receive waits within its bound, a settle until the line
// has been quiet long enough, and a line in the same process may run on a virtual clock.
class Line {
public:
    static constexpr int MsPerByte = 10;
    // The slowest common USB chip's default latency timer, and a margin.
    static constexpr int DeliveryAllowanceMs = 20;
    // The longest a receive of n bytes waits.
    static constexpr int receiveBoundMs(int n) { return n * MsPerByte + DeliveryAllowanceMs; }
    // Input waits for a receive in a buffer of at most this many bytes; beyond it the system's
    // own buffers fill and the line is throttled or dropped. Far above the longest reply (512
    // bytes).
    static constexpr int InputBound = 4096;
    // A line that keeps talking is given this long to fall quiet before a command goes out all
    // the same; the reply is then judged on its own.
    static constexpr int SettleBoundMs = 1000;

    enum class OpenFailure {
        None,
        NoIndex,    // list index outside 0..39: nothing is opened
        NoDevice,   // the device (or the link's target) does not exist
        Permission, // the system refused access
        Busy,       // another program holds the port
        NotSerial,  // opened, but it is no serial port (no line settings)
        Other,
    };
    // Why an open failed, as values: each caller says it in its own words.
    struct OpenReason {
        OpenFailure failure = OpenFailure::None;
        // NotSerial: the path names a folder rather than a device.
        bool folder = false;
        // Permission: the system does not tell a refused access from a port another program
        // holds.
        bool accessOrBusy = false;
        // Other: the error the serial port reported (QSerialPort::SerialPortError).
        int portError = 0;
    };

    virtual ~Line() = default;

    // Closes what is open, then opens list index 0..39 ("COM1".."COM40") exclusively.
    virtual bool open(int index) = 0;
    // The same for a device named by its path.
    virtual bool openDevice(const QString &path) = 0;
    virtual void close() = 0;
    // Whether list index 0..39 could be opened now; the line itself is not touched.
    virtual bool canOpen(int index) const = 0;
    // Why the last open failed, and the device it tried (a link's target rather than the link).
    virtual OpenReason lastOpenReason() const = 0;
    OpenFailure lastOpenFailure() const { return lastOpenReason().failure; }
    virtual QString lastOpenDevice() const = 0;

    // True once the line is open and until it is closed or lost.
    virtual bool isOpen() const = 0;
    // True after the line was lost (the adapter pulled out, the other end hung up), until
    // the next open.
    virtual bool hasFailed() const = 0;
    // Called once per loss, after the line has been closed, on the thread the line works on
    // (for a serial port: from its thread's event loop, never inside a transfer).
    virtual void setLossHandler(std::function<void()> handler) = 0;

    // Reports whether the line took every byte.
    virtual bool sendBytes(const std::uint8_t *source, int count) = 0;
    bool sendByte(std::uint8_t byte) { return sendBytes(&byte, 1); }
    // Up to count bytes into destination, as they come within receiveBoundMs(count); returns
    // how many arrived. The rest of the destination is left as it was.
    virtual int receiveBytes(std::uint8_t *destination, int count) = 0;

    // Waits until nothing has come for quietMs and drops whatever came meanwhile: a reply that
    // came too late, junk, or bytes the unit sent unasked. Costs nothing when the line has
    // been quiet that long already; gives up after a second of a line that never stops.
    virtual void settle(int quietMs) = 0;
    // True when another byte comes within quietMs. Tells a reply that is followed by more
    // (and so is not the reply it seems to be) from one that stands alone.
    virtual bool moreFollows(int quietMs) = 0;
    // Looks at the line without taking anything from it: false once it has turned out lost.
    virtual bool lineUp() = 0;

    // What stands between the line and the unit, and so how long a quiet line must last.
    virtual const Adapter &adapter() const = 0;
};
