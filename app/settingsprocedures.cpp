// Reading, writing and factory-resetting the unit's settings block: the procedures' results
// in the window's fields and log.

#include "app/tform1.h"
#include "device/factoryreset.h"
#include "device/settingsread.h"
#include "device/settingsverify.h"
#include "device/settingswrite.h"

namespace {
constexpr int FactorySupervisionFrequency = 39;
const QString WriteFailed =
    QStringLiteral("Ошибка записи: порт не принял данные, настройки не записаны");

// A reply that does not stand for the unit's settings: short, or shifted by bytes that came
// with it.
QString readFailure(const UnitLink::BlockReply &reply)
{
    if (reply.unconfirmed)
        return QStringLiteral("Ошибка чтения: данные не подтвердились");
    if (reply.misaligned)
        return QStringLiteral("Ошибка чтения: ответ не совпал с запросом, данные отброшены");
    return QStringLiteral("Ошибка чтения: получено %1 из %2 байт")
        .arg(reply.received)
        .arg(SettingsBlock::Size);
}
} // namespace

void TForm1::readall(const std::optional<SettingsBlock::Block> &written)
{
    ui([this] { log(QStringLiteral("ЖДИТЕ...")); });
    // A block is taken only as the unit confirms it: a short, shifted or unconfirmed one never
    // passes for the unit's settings.
    UnitLink &unit = m_session->link();
    const UnitLink::BlockReply reply = SettingsRead(unit).run();
    std::optional<int> differing;
    if (written) {
        const VerifiedWrite::Result check = VerifiedWrite::judge(*written, reply);
        if (check.outcome == VerifiedWrite::Outcome::Differs)
            differing = check.bytesDiffering;
    }
    std::optional<SettingsBlock::Values> values;
    if (const auto block = reply.block())
        values = SettingsBlock::decode(block->data());
    ui([this, reply, differing, values] {
        if (differing)
            log(QStringLiteral("Ошибка записи: устройство хранит другие данные (%1 байт)")
                    .arg(*differing));
        if (values) {
            showSettings(*values);
            log(QStringLiteral("Прочитано"));
        } else {
            clearall();
            log(readFailure(reply));
        }
        Edit22->setText(QString::number(TrackBar3->value()));
    });
}

void TForm1::Button5Click()
{
    clearall();
    operate([this] {
        m_session->clock().sleep(SettingsRead::PauseMs);
        if (m_connected)
            readall();
    });
}

void TForm1::Button4Click()
{
    if (!m_connected)
        return;
    // Every field is converted before anything goes to the unit: a bad text stops the write
    // with the unit and the held block untouched.
    const SettingsBlock::Values values = windowSettings();
    operate([this, values] {
        UnitLink &unit = m_session->link();
        SettingsBlock::Block block;
        std::copy_n(unit.transferBlock(), SettingsBlock::Size, block.begin());
        SettingsBlock::encode(values, block.data());
        SettingsWrite write(unit, m_session->clock());
        if (!write.send(block)) {
            ui([this] {
                log(QStringLiteral("Запись настроек..."));
                log(WriteFailed);
            });
            return;
        }
        ui([this] {
            clearall();
            log(QStringLiteral("Запись настроек..."));
            log(QStringLiteral("Записано."));
            log(QStringLiteral("Чтение настроек..."));
        });
        write.pause();
        // What the unit now holds is shown even when it is not what was sent.
        readall(block);
    });
}

void TForm1::Button3Click()
{
    if (!m_connected)
        return;
    TrackBar2->setValue(FactorySupervisionFrequency);
    operate([this] {
        FactoryReset reset(m_session->link());
        if (!reset.send()) {
            ui([this] { log(WriteFailed); });
            return;
        }
        ui([this] { log(QStringLiteral("Запись...")); });
        const int differences = reset.check();
        ui([this, differences] {
            if (differences == 0) {
                log(QStringLiteral("Завдские настройки"));
                return;
            }
            log(QStringLiteral("!!!!!!!!!!!!!!!!"));
            log(QStringLiteral("Ошибок:"));
            log(QString::number(differences));
            log(QStringLiteral("!!!!!!!!!!!!!!!!"));
        });
    });
}
