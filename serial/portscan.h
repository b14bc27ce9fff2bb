#pragma once

#include "serial/line.h"

#include <QStringList>

// Which of COM1 ... COM20 exist, are free and answer a request for their line settings.
namespace PortScan {
constexpr int ScannedPorts = 20;
QStringList freePorts(const Line &line);
} // namespace PortScan
