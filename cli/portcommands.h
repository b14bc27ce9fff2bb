#pragma once

#include "serial/adapter.h"

#include <QString>

// The commands about ports themselves, rather than the units behind them: what each port is,
// and the COM folder's links. Each returns its exit status.
namespace Commands {

struct PortsOptions {
    bool all = false;  // also the serial devices no COM name reaches
    bool json = false; // one JSON document instead of lines
};
int ports(const PortsOptions &options);

// Points COM name `com` at `device` by the most stable name the device has.
int link(const QString &com, const QString &device);
int unlink(const QString &com);

// What stands behind a port and how long the tool waits for its line to fall quiet:
// "FTDI USB adapter (ftdi_sio), latency timer 16 ms, quiet line 20 ms".
QString adapterText(const Adapter &adapter);

} // namespace Commands
