#include "serial/portscan.h"

#include "serial/comnames.h"

namespace PortScan {

QList<int> freeIndices(const Line &line, int count)
{
    QList<int> found;
    for (int index = 0; index < count; ++index) {
        if (line.canOpen(index))
            found << index;
    }
    return found;
}

QStringList freePorts(const Line &line, int count)
{
    QStringList names;
    for (const int index : freeIndices(line, count))
        names << ComNames::name(index);
    return names;
}

} // namespace PortScan
