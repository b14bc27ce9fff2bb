#pragma once

#include "cli/output.h"
#include "cli/session.h"

#include <QDateTime>
#include <QList>
#include <functional>

// Runs a command's job for every port: with one port on this thread and without a prefix;
// with several on one thread each, every line prefixed "NAME: ". The result is the worst
// status of them all; one port's failure never stops the others. A port whose thread the
// system would not start was never tried, and counts as one that could not be opened.
using PortJob = std::function<int(const Port &, const Output &)>;
int runOnPorts(const QList<Port> &ports, const PortJob &job);

// Now in ISO 8601 with the local offset; with milliseconds when asked.
QString isoNow(bool milliseconds = false);
