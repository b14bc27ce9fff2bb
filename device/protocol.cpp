#include "device/protocol.h"

#include "device/clock.h"
#include "device/unitlink.h"
#include "serial/line.h"

WaitResult waitForByte(UnitLink &link, std::uint8_t expected, const Clock &clock, int boundMs)
{
    const qint64 start = clock.now();
    for (;;) {
        const Line &line = link.line();
        if (!line.isOpen() || line.hasFailed())
            return WaitResult::PortFailed;
        bool arrived = false;
        const std::uint8_t byte = link.receiveByte(&arrived);
        if (arrived && byte == expected)
            return WaitResult::Received;
        if (clock.now() - start >= boundMs)
            return WaitResult::TimedOut;
    }
}
