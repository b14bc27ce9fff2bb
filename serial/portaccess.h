#pragma once

#include "serial/serialchannel.h"

#include <QSerialPort>
#include <QString>

// The platform's part of opening a port: exclusive access and the driver's low-latency mode
// on Linux, nothing more on Windows (where the system opens COM ports without sharing).
namespace PortAccess {

// Opens `port` (its name already set) for reading and writing, exclusively; says why not.
Line::OpenReason openExclusive(QSerialPort &port);

// Whether an error the port reported means the line is gone (hung up, the device removed),
// rather than a passing read failure.
bool lineLost(QSerialPort &port, QSerialPort::SerialPortError error);

// Asks the driver to hand received bytes on at once (USB adapters otherwise hold them for
// their latency timer). Quietly does nothing where that is not supported.
void requestLowLatency(QSerialPort &port);
// Whether the driver of an open port holds the low-latency mode now.
SerialChannel::LowLatency lowLatency(QSerialPort &port);

} // namespace PortAccess
