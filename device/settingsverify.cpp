#include "device/settingsverify.h"

#include <algorithm>

namespace VerifiedWrite {

Result judge(const SettingsBlock::Block &sent, const UnitLink::BlockReply &readBack)
{
    Result result;
    result.sent = sent;
    result.readBack = readBack;
    if (!readBack.complete())
        return result;
    result.back = readBack.bytes;
    result.differences = SettingsBlock::compare(result.sent.data(), result.back.data());
    for (int i = 0; i < SettingsBlock::Size; ++i)
        result.bytesDiffering += result.sent[std::size_t(i)] != result.back[std::size_t(i)];
    result.outcome = result.differences.empty() ? Outcome::Verified : Outcome::Differs;
    return result;
}

} // namespace VerifiedWrite
