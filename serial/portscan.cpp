#include "serial/portscan.h"

#include "serial/comnames.h"
#include "serial/line.h"

namespace PortScan {

QStringList freePorts(const Line &line)
{
    QStringList found;
    for (int index = 0; index < ScannedPorts; ++index) {
        if (line.canOpen(index))
            found << ComNames::name(index);
    }
    return found;
}

} // namespace PortScan
