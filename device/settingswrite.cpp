#include "device/settingswrite.h"

#include "device/clock.h"
#include "device/settingsread.h"

#include <algorithm>

bool SettingsWrite::send(const SettingsBlock::Block &block)
{
    std::uint8_t *held = m_link.transferBlock();
    std::copy(block.begin(), block.end(), held);
    return m_link.writeSettings(held);
}

void SettingsWrite::pause() const { m_clock.sleep(PauseMs); }

UnitLink::BlockReply SettingsWrite::readBack()
{
    pause();
    return SettingsRead(m_link).run();
}
