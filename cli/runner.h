#pragma once

#include "cli/output.h"
#include "cli/session.h"

#include <QDateTime>
#include <QList>
#include <functional>

// Runs a command's job for every port, each on the thread of its port's unit session: with
// one port without a prefix; with several side by side, every line prefixed "NAME: ". The
// result is the worst status of them all; one port's failure never stops the others. A port
// whose thread the system would not start was never tried, and counts as one that could not
// be opened.
using PortJob = std::function<int(Session &, const Output &)>;
int runOnPorts(const QList<Port> &ports, const PortJob &job);
// One port's job with the output given.
int runOnPort(const Port &port, const Output &out, const PortJob &job);

// Now in ISO 8601 with the local offset; with milliseconds when asked.
QString isoNow(bool milliseconds = false);
