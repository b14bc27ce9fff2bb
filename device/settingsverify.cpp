#include "device/settingsverify.h"

#include "device/settingsprocedures.h"

#include <algorithm>

VerifiedWrite::Result VerifiedWrite::run(const SettingsBlock::Block &block, bool verify)
{
    Result result;
    result.sent = block;
    SettingsWrite write(m_link, m_clock);
    if (!write.send(block))
        return result;
    if (!verify) {
        result.outcome = Outcome::Sent;
        return result;
    }
    result.readBack = write.readBack();
    if (!result.readBack.complete()) {
        result.outcome = Outcome::NoReadBack;
        return result;
    }
    const std::uint8_t *held = m_link.transferBlock();
    std::copy(held, held + SettingsBlock::Size, result.back.begin());
    result.differences = SettingsFields::compare(result.sent.data(), result.back.data());
    result.outcome = result.differences.empty() ? Outcome::Verified : Outcome::Differs;
    return result;
}
