#pragma once

#include "serial/line.h"

#include <QList>
#include <QStringList>

// Which ports of the list exist, are free and answer a request for their line settings. Each
// caller scans the range it offers: list indices 0 .. count - 1, "COM1" upwards. The line
// itself is not touched.
namespace PortScan {
// The free ports' list indices, in order.
QList<int> freeIndices(const Line &line, int count);
// The same ports by name ("COM5").
QStringList freePorts(const Line &line, int count);
} // namespace PortScan
