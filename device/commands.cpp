#include "device/commands.h"

#include "device/clock.h"
#include "serial/serialchannel.h"

WaitResult waitForByte(SerialChannel &channel, std::uint8_t expected, const Clock &clock,
                       int boundMs)
{
    const qint64 start = clock.now();
    for (;;) {
        if (!channel.isOpen() || channel.hasFailed())
            return WaitResult::PortFailed;
        bool arrived = false;
        const std::uint8_t byte = channel.receiveByte(&arrived);
        if (arrived && byte == expected)
            return WaitResult::Received;
        if (clock.now() - start >= boundMs)
            return WaitResult::TimedOut;
    }
}
