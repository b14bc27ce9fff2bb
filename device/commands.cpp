#include "device/commands.h"

#include "device/clock.h"
#include "device/unitlink.h"
#include "serial/serialchannel.h"

WaitResult waitForByte(UnitLink &link, std::uint8_t expected, const Clock &clock, int boundMs)
{
    const qint64 start = clock.now();
    for (;;) {
        const SerialChannel &channel = link.channel();
        if (!channel.isOpen() || channel.hasFailed())
            return WaitResult::PortFailed;
        bool arrived = false;
        const std::uint8_t byte = link.receiveByte(&arrived);
        if (arrived && byte == expected)
            return WaitResult::Received;
        if (clock.now() - start >= boundMs)
            return WaitResult::TimedOut;
    }
}
