#include "cli/site.h"

#include "cli/files.h"
#include "cli/journal.h"
#include "cli/settingsfile.h"
#include "device/settingslayout.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

QString siteFile(const QString &dir) { return dir + QStringLiteral("/site.json"); }
const QString TemplateName = QStringLiteral("template.json");

} // namespace

bool Site::init(const QString &dir, const QString &name, const QString &templateFile,
                QString *error)
{
    if (QFileInfo::exists(siteFile(dir))) {
        *error = QStringLiteral("%1 holds a site already").arg(dir);
        return false;
    }
    std::optional<QByteArray> templateText;
    if (!templateFile.isEmpty()) {
        QString why;
        templateText = Files::readSmall(templateFile, &why);
        if (!templateText || !SettingsFile::parse(*templateText, &why)) {
            *error = QStringLiteral("%1: %2").arg(templateFile, why);
            return false;
        }
    }
    if (!QDir().mkpath(dir + QStringLiteral("/backups"))) {
        *error = QStringLiteral("cannot make %1/backups").arg(dir);
        return false;
    }
    if (templateText &&
        !Files::saveWhole(dir + QLatin1Char('/') + TemplateName, *templateText, error))
        return false;
    const QJsonObject site{
        {QStringLiteral("name"), name.isEmpty() ? QFileInfo(dir).fileName() : name},
        {QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("template"), templateText ? QJsonValue(TemplateName) : QJsonValue()},
    };
    return Files::saveNew(siteFile(dir), QJsonDocument(site).toJson(QJsonDocument::Indented),
                          error);
}

std::optional<Site> Site::open(const QString &dir, QString *error)
{
    QString why;
    const std::optional<QByteArray> text = Files::readSmall(siteFile(dir), &why);
    if (!text) {
        *error = QStringLiteral("%1 is no site (%2); 'tarvik2-cli site init %1' makes one")
                     .arg(dir, why);
        return std::nullopt;
    }
    const QJsonObject json = QJsonDocument::fromJson(*text).object();
    if (json.isEmpty()) {
        *error = QStringLiteral("%1 is no site description").arg(siteFile(dir));
        return std::nullopt;
    }
    Site site;
    site.m_dir = dir;
    site.m_name = json.value(QStringLiteral("name")).toString();
    site.m_hasTemplate = json.value(QStringLiteral("template")).isString();
    return site;
}

QString Site::templateFile() const
{
    return m_hasTemplate ? m_dir + QLatin1Char('/') + TemplateName : QString();
}

std::optional<QString> Site::backup(const SettingsBlock::Block &block, const QString &port,
                                    QString *error) const
{
    using SettingsLayout::FieldId;
    const int address =
        SettingsBlock::value(SettingsLayout::field(FieldId::NetworkAddress), block.data());
    const int zone = SettingsBlock::value(SettingsLayout::field(FieldId::AlertZone), block.data());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray contents = SettingsFile::write(block, port, now.toString(Qt::ISODateWithMs));
    const QString stem = QStringLiteral("backups/address-%1_zone-%2_%3")
                             .arg(address, 3, 10, QLatin1Char('0'))
                             .arg(zone, 3, 10, QLatin1Char('0'))
                             .arg(now.toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'")));
    for (int n = 1; n < 100; ++n) {
        const QString name =
            stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".json");
        QString why;
        if (Files::saveNew(m_dir + QLatin1Char('/') + name, contents, &why))
            return name;
        if (QFileInfo::exists(m_dir + QLatin1Char('/') + name))
            continue; // taken meanwhile: by another unit with the same address, or another run
        *error = QStringLiteral("cannot save the backup %1/%2: %3").arg(m_dir, name, why);
        return std::nullopt;
    }
    *error =
        QStringLiteral("cannot save the backup %1/%2.json: every name is taken").arg(m_dir, stem);
    return std::nullopt;
}

bool Site::record(const QJsonObject &record, QString *error) const
{
    QString why;
    if (Journal::append(m_dir, record, &why))
        return true;
    *error = QStringLiteral("cannot write the journal %1/journal.jsonl: %2").arg(m_dir, why);
    return false;
}
