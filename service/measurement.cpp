#include "service/measurement.h"

#include "device/commands.h"
#include "serial/serialchannel.h"

namespace Measurement {

Values decode(const std::uint8_t *reply)
{
    Values values{};
    for (int k = 0; k < 6; ++k)
        values[k] = std::uint16_t(reply[2 * k] << 8 | reply[2 * k + 1]);
    return values;
}

std::optional<Values> exchange(SerialChannel &channel)
{
    std::array<std::uint8_t, MeasurementSize> reply{};
    channel.sendByte(Command::Measure);
    if (channel.receiveBytes(reply.data(), MeasurementSize) != MeasurementSize)
        return std::nullopt;
    return decode(reply.data());
}

} // namespace Measurement
