#pragma once

#include "serial/serialchannel.h"

#include <QString>

class QSerialPort;

// The platform's part of opening a port: exclusive access and the driver's low-latency mode
// on Linux, nothing more on Windows (where the system opens COM ports without sharing).
namespace PortAccess {

struct Result {
    SerialChannel::OpenFailure failure = SerialChannel::OpenFailure::None;
    QString reason; // the system's own words, in Russian where we know them
};

// Opens `port` (its name already set) for reading and writing, exclusively.
Result openExclusive(QSerialPort &port);

// Asks the driver to hand received bytes on at once (USB adapters otherwise hold them for
// their latency timer). Quietly does nothing where that is not supported.
void requestLowLatency(QSerialPort &port);

} // namespace PortAccess
