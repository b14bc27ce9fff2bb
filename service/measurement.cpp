#include "service/measurement.h"

#include "device/unitlink.h"

namespace Measurement {

Values decode(const std::uint8_t *reply)
{
    Values values{};
    for (int k = 0; k < 6; ++k)
        values[k] = std::uint16_t(reply[2 * k] << 8 | reply[2 * k + 1]);
    return values;
}

std::optional<Values> exchange(UnitLink &link)
{
    if (const auto reply = link.measure())
        return decode(reply->data());
    return std::nullopt;
}

} // namespace Measurement
