#include "cli/siterecord.h"

#include "cli/runner.h"
#include "cli/settingsfile.h"
#include "cli/status.h"
#include "device/settingslayout.h"
#include "serial/comnames.h"
#include "serial/serialdevice.h"

#include <algorithm>

namespace {

// The port as given, and the adapter behind it as the system names it.
QJsonObject portRecord(const Port &port)
{
    QJsonObject record{{QStringLiteral("name"), port.name}};
    const QString path = port.index >= 0 ? ComNames::devicePath(port.index) : port.path;
    const std::optional<SerialDevice> device = SerialDevice::describe(path);
    if (!device)
        return record;
    record.insert(QStringLiteral("device"), device->node);
    if (!device->stableName().isEmpty())
        record.insert(QStringLiteral("stable_name"), device->stableName());
    if (device->usb()) {
        record.insert(QStringLiteral("usb"), device->vidPid());
        if (!device->serial.isEmpty())
            record.insert(QStringLiteral("serial"), device->serial);
    }
    return record;
}

} // namespace

SiteRecord::SiteRecord(const SiteContext *context, Session &session, const QString &operation)
    : m_context(context), m_port(session.port().name)
{
    if (!m_context)
        return;
    m_record = QJsonObject{
        {QStringLiteral("time"), isoNow(true)},
        {QStringLiteral("operator"), m_context->operatorName},
        {QStringLiteral("port"), portRecord(session.port())},
        {QStringLiteral("operation"), operation},
    };
}

void SiteRecord::unit(const SettingsBlock::Block &block)
{
    if (!m_context)
        return;
    using SettingsLayout::FieldId;
    QJsonObject unit;
    for (const FieldId id : {FieldId::DeviceType, FieldId::SoftwareVersion, FieldId::NetworkAddress,
                             FieldId::AlertZone}) {
        const SettingsLayout::Field &field = SettingsLayout::field(id);
        unit.insert(QLatin1String(field.key), SettingsBlock::value(field, block.data()));
    }
    m_record.insert(QStringLiteral("unit"), unit);
}

bool SiteRecord::backUp(const SettingsBlock::Block &block, const Output &out)
{
    if (!m_context)
        return true;
    QString error;
    const std::optional<QString> name = m_context->site.backup(block, m_port, &error);
    if (!name) {
        out.note(error + QStringLiteral("; nothing was sent"));
        m_record.insert(QStringLiteral("backup_failed"), error);
        return false;
    }
    m_record.insert(QStringLiteral("backup"), *name);
    return true;
}

void SiteRecord::changes(const SettingsBlock::Block &before, const SettingsBlock::Block &after)
{
    if (!m_context)
        return;
    QJsonArray changes;
    for (const QString &line : SettingsFile::differenceLines(before.data(), after.data()))
        changes.append(line);
    m_record.insert(QStringLiteral("changes"), changes);
}

void SiteRecord::settings(const SettingsBlock::Block &block)
{
    set(QStringLiteral("settings"),
        QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(block.data()), qsizetype(block.size()))
                .toHex()));
}

void SiteRecord::verify(const QString &result) { set(QStringLiteral("verify"), result); }

void SiteRecord::set(const QString &key, const QJsonValue &value)
{
    if (m_context)
        m_record.insert(key, value);
}

int SiteRecord::finish(int status, const Output &out)
{
    if (!m_context)
        return status;
    m_record.insert(QStringLiteral("status"), status);
    QString error;
    if (m_context->site.record(m_record, &error))
        return status;
    out.note(error);
    return std::max(status, int(Status::BadInput));
}
