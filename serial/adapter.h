#pragma once

#include <QString>

// What stands between the serial device and the unit's line, as far as the timing of its
// delivery goes. USB adapters hand received bytes on in packets: an FTDI chip holds a
// part-filled packet for its latency timer (16 ms unless lowered), and other chips batch in
// their own ways. A reply can therefore reach the program in pieces, with gaps of up to that
// delay, and the program's quiet-line checks must wait at least that long.
struct Adapter {
    enum class Kind {
        Native, // a UART on the board, or a pseudo-terminal: bytes come as they cross the line
        Ftdi,   // FTDI: the latency timer in force decides
        Usb,    // another USB chip: a conservative figure
    };

    Kind kind = Kind::Native;
    QString driver;     // the kernel driver's name, where the system says it
    int latencyMs = -1; // an FTDI chip's latency timer as the driver reports it, -1 unknown
    int settleMs = 0;   // how long the line must stay quiet to count as quiet

    // What a device whose kernel driver has this name (empty: none known) stands behind, with
    // an FTDI chip's latency timer as its driver reports it (-1 unknown).
    static Adapter fromDriver(const QString &driver, int latencyMs = -1);
    // Looks the device up in the system's tree ($TARVIK2_SYS_ROOT, else /sys): the driver
    // behind class/tty/NAME/device and, for FTDI, its latency_timer. Read after the
    // low-latency request, so that a granted request shows as 1 ms. NAME is the device's
    // node below /dev with '/' written '!' (pts/3 is pts!3), as the system names it.
    static Adapter lookup(const QString &devicePath);
};
