#include "serial/portscan.h"

#include "serial/comnames.h"
#include "serial/serialchannel.h"

namespace PortScan {

QStringList freePorts()
{
    QStringList found;
    for (int index = 0; index < ScannedPorts; ++index) {
        if (SerialChannel::probe(ComNames::devicePath(index)))
            found << ComNames::name(index);
    }
    return found;
}

} // namespace PortScan
