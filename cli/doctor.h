#pragma once

#include "cli/port.h"

#include <QList>
#include <optional>

namespace Commands {

// Checks what keeps the tool from a port, one line each, and says under each failed check how
// to put it right: the device and the user's access to it, programs that hold it, brltty's and
// ModemManager's udev rules, the low-latency mode and, for ports named, a handshake; then the
// COM folder's links. Without ports, every COM name that leads to a device the system has.
// Status::Done when every check passes, Status::NoPort otherwise.
int doctor(const std::optional<QList<Port>> &ports);

} // namespace Commands
