// Reading, writing and factory-resetting the unit's settings block.

#include "app/tform1.h"
#include "device/unitlink.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int ReadPauseMs = 1000;
constexpr int ReadBackPauseMs = 10000;
constexpr int FactorySupervisionFrequency = 39;
const QString WriteFailed =
    QStringLiteral("Ошибка записи: порт не принял данные, настройки не записаны");
} // namespace

void TForm1::readall()
{
    log(QStringLiteral("ЖДИТЕ..."));
    // A reply is taken whole or not at all: a short one never passes for the unit's settings.
    SettingsBlock::Block reply;
    const int got = UnitLink(m_channel).readSettings(reply.data());
    if (got == SettingsBlock::Size) {
        std::copy(reply.begin(), reply.end(), m_channel.transferBlock());
        showSettings(SettingsBlock::decode(m_channel.transferBlock()));
        log(QStringLiteral("Прочитано"));
    } else {
        clearall();
        log(QStringLiteral("Ошибка чтения: получено %1 из %2 байт")
                .arg(got)
                .arg(SettingsBlock::Size));
    }
    Edit22->setText(QString::number(TrackBar3->value()));
}

void TForm1::Button5Click()
{
    clearall();
    m_clock.sleep(ReadPauseMs);
    if (m_connected)
        readall();
}

void TForm1::Button4Click()
{
    if (!m_connected)
        return;
    // Every field is converted before anything goes to the unit: a bad text stops the write
    // with the unit and the held block untouched.
    const SettingsBlock::Values values = windowSettings();
    std::uint8_t *block = m_channel.transferBlock();
    SettingsBlock::encode(values, block);
    if (!UnitLink(m_channel).writeSettings(block)) {
        log(QStringLiteral("Запись настроек..."));
        log(WriteFailed);
        return;
    }
    clearall();
    log(QStringLiteral("Запись настроек..."));
    log(QStringLiteral("Записано."));
    log(QStringLiteral("Чтение настроек..."));
    m_clock.sleep(ReadBackPauseMs);
    readall();
}

void TForm1::Button3Click()
{
    if (!m_connected)
        return;
    TrackBar2->setValue(FactorySupervisionFrequency);
    std::uint8_t *block = m_channel.transferBlock();
    const auto &factory = SettingsBlock::factoryValues();
    std::copy(factory.begin(), factory.end(), block);
    if (!UnitLink(m_channel).writeSettings(block)) {
        log(WriteFailed);
        return;
    }
    log(QStringLiteral("Запись..."));
    const int got = UnitLink(m_channel).readSettings(m_channel.readBack());
    const std::uint8_t *readBack = m_channel.readBack();
    // A byte that did not come back is a difference, whatever the area held before: a short
    // read-back never passes for the factory values.
    int differences = SettingsBlock::Size - got;
    for (int i = 0; i < got; ++i)
        differences += block[i] != readBack[i];
    if (differences == 0) {
        log(QStringLiteral("Завдские настройки"));
        return;
    }
    log(QStringLiteral("!!!!!!!!!!!!!!!!"));
    log(QStringLiteral("Ошибок:"));
    log(QString::number(differences));
    log(QStringLiteral("!!!!!!!!!!!!!!!!"));
}
