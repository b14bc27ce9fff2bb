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
    return judge(block, write.readBack(), m_link.transferBlock());
}

VerifiedWrite::Result VerifiedWrite::judge(const SettingsBlock::Block &sent,
                                           const UnitLink::BlockReply &readBack,
                                           const std::uint8_t *back)
{
    Result result;
    result.sent = sent;
    result.readBack = readBack;
    if (!readBack.complete()) {
        result.outcome = Outcome::NoReadBack;
        return result;
    }
    std::copy(back, back + SettingsBlock::Size, result.back.begin());
    result.differences = SettingsFields::compare(result.sent.data(), result.back.data());
    for (int i = 0; i < SettingsBlock::Size; ++i)
        result.bytesDiffering += result.sent[std::size_t(i)] != result.back[std::size_t(i)];
    result.outcome = result.differences.empty() ? Outcome::Verified : Outcome::Differs;
    return result;
}
