#include "cli/report.h"

#include "cli/files.h"
#include "cli/journal.h"
#include "cli/settingsfile.h"
#include "cli/site.h"
#include "device/settingsblock.h"
#include "device/settingslayout.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QXmlStreamReader>
#include <map>

namespace Report {

namespace {

using SettingsLayout::FieldId;

// Where the window shows each field: the widget whose text labels it, and the group it stands
// in when the label alone does not say it (the relays, the board, the supervision).
struct FieldLabel {
    FieldId field;
    const char *group;
    const char *widget;
};
const FieldLabel FieldLabels[] = {
    {FieldId::SoftwareVersion, nullptr, "Label2"},
    {FieldId::DeviceType, nullptr, "Label4"},
    {FieldId::LaunchCount, nullptr, "Label3"},
    {FieldId::NetworkAddress, nullptr, "Label6"},
    {FieldId::AlertZone, nullptr, "Label7"},
    {FieldId::BoardLitOnDuty, "Label20", "CheckBox11"},
    {FieldId::BoardBlinksOnFire, "Label20", "CheckBox12"},
    {FieldId::BoardCurrentDrift, nullptr, "Label9"},
    {FieldId::AlertLineDrift, nullptr, "Label10"},
    {FieldId::SignalDepartureTime, nullptr, "Label11"},
    {FieldId::OpenLineLevel, "Label15", "Label12"},
    {FieldId::InputShortCircuitLevel, "Label15", "Label13"},
    {FieldId::TriggerLevel, "Label15", "Label14"},
    {FieldId::RelayOnPpk1, "Label19", "CheckBox5"},
    {FieldId::RelayOnPpk2, "Label19", "CheckBox6"},
    {FieldId::RelayOnGochs, "Label19", "CheckBox7"},
    {FieldId::RelayOnLineInput, "Label19", "CheckBox8"},
    {FieldId::RelayOnConsole, "Label19", "CheckBox9"},
    {FieldId::RelayOnSiren, "Label19", "CheckBox10"},
    {FieldId::SupervisePpk1, "Label18", "CheckBox1"},
    {FieldId::SupervisePpk2, "Label18", "CheckBox2"},
    {FieldId::SuperviseGochs, "Label18", "CheckBox3"},
    {FieldId::SuperviseConsoleLink, "Label18", "CheckBox4"},
    {FieldId::BoardBlinkRate, "Label20", "Label23"},
    {FieldId::BoardCurrentDepartureTime, nullptr, "Label24"},
    {FieldId::LineShortCircuitLevel, nullptr, "Label32"},
    {FieldId::SupervisionFrequency, nullptr, "Label33"},
    {FieldId::MessageVolume, nullptr, "Label34"},
};

// The texts of the window's labels, read from its own description (built into the tool), so
// the report names every field as the window does.
QHash<QString, QString> windowTexts()
{
    QHash<QString, QString> texts;
    QFile ui(QStringLiteral(":/report/tform1.ui"));
    if (!ui.open(QIODevice::ReadOnly))
        return texts;
    QXmlStreamReader xml(&ui);
    QStringList widgets;
    QString property;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("widget"))
                widgets << xml.attributes().value(QLatin1String("name")).toString();
            else if (xml.name() == QLatin1String("property"))
                property = xml.attributes().value(QLatin1String("name")).toString();
            else if (xml.name() == QLatin1String("string") && !widgets.isEmpty() &&
                     (property == QLatin1String("text") || property == QLatin1String("title")))
                texts.insert(widgets.last(), xml.readElementText());
        } else if (xml.isEndElement() && xml.name() == QLatin1String("widget")) {
            widgets.removeLast();
        }
    }
    return texts;
}

QString labelOf(FieldId field, const QHash<QString, QString> &texts)
{
    for (const FieldLabel &label : FieldLabels) {
        if (label.field != field)
            continue;
        const QString own = texts.value(QLatin1String(label.widget)).simplified();
        if (!label.group)
            return own;
        return texts.value(QLatin1String(label.group)).simplified() + QStringLiteral(": ") + own;
    }
    return {};
}

QString esc(const QString &text) { return text.toHtmlEscaped(); }

std::optional<SettingsBlock::Block> blockOf(const QString &hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    if (bytes.size() != SettingsBlock::Size)
        return std::nullopt;
    SettingsBlock::Block block{};
    std::copy(bytes.cbegin(), bytes.cend(), reinterpret_cast<char *>(block.data()));
    return block;
}

// One unit as the journal tells of it, by its network address.
struct Unit {
    int address = 0;
    QJsonObject last;          // its latest record with the unit's identity
    QString lastVerifiedWrite; // the time of it
    QString lastUpload;        // the time and the files
    QString status = QStringLiteral("not verified");
    std::optional<SettingsBlock::Block> settings; // the latest confirmed settings

    // A field as the latest confirmed settings have it, else as the latest record names it.
    int value(FieldId id) const
    {
        const SettingsLayout::Field &field = SettingsLayout::field(id);
        if (settings)
            return SettingsBlock::value(field, settings->data());
        return last.value(QStringLiteral("unit"))
            .toObject()
            .value(QLatin1String(field.key))
            .toInt();
    }
};

QString uploadText(const QJsonObject &record)
{
    QStringList files;
    for (const QJsonValue &file : record.value(QStringLiteral("upload")).toArray())
        files << QFileInfo(file.toObject().value(QStringLiteral("file")).toString()).fileName();
    return record.value(QStringLiteral("time")).toString() + QLatin1Char(' ') +
           files.join(QStringLiteral(", "));
}

std::map<int, Unit> unitsOf(const QList<QJsonObject> &records)
{
    std::map<int, Unit> units;
    for (const QJsonObject &record : records) {
        const QJsonObject identity = record.value(QStringLiteral("unit")).toObject();
        if (identity.isEmpty())
            continue;
        std::optional<SettingsBlock::Block> settings =
            blockOf(record.value(QStringLiteral("settings")).toString());
        const int before = identity.value(QStringLiteral("network_address")).toInt();
        const int address =
            settings ? SettingsBlock::value(SettingsLayout::field(FieldId::NetworkAddress),
                                            settings->data())
                     : before;
        // A write or a reset that gave the unit another address moves it, history and all.
        if (address != before) {
            if (const auto moved = units.find(before); moved != units.end()) {
                units[address] = moved->second;
                units.erase(moved);
            }
        }
        Unit &unit = units[address];
        unit.address = address;
        unit.last = record;
        if (settings)
            unit.settings = settings;
        const QString operation = record.value(QStringLiteral("operation")).toString();
        const QString verify = record.value(QStringLiteral("verify")).toString();
        if (operation == QLatin1String("write") || operation == QLatin1String("reset")) {
            if (record.value(QStringLiteral("dry_run")).toBool())
                continue;
            unit.status = verify == QLatin1String("verified")  ? QStringLiteral("verified")
                          : verify == QLatin1String("differs") ? QStringLiteral("differs")
                                                               : QStringLiteral("not verified");
            if (operation == QLatin1String("write") && verify == QLatin1String("verified"))
                unit.lastVerifiedWrite = record.value(QStringLiteral("time")).toString();
        } else if (operation == QLatin1String("upload") &&
                   record.value(QStringLiteral("status")).toInt() == 0) {
            unit.lastUpload = uploadText(record);
        }
    }
    return units;
}

QString valueText(const SettingsLayout::Field &field, const SettingsBlock::Block &block)
{
    return SettingsFile::valueText(field, block.data());
}

// Fields a site sets unit by unit, and those the unit itself keeps: no template speaks for them.
bool heldToTemplate(const SettingsLayout::Field &field)
{
    return field.written && field.id != FieldId::NetworkAddress && field.id != FieldId::AlertZone;
}

QString html(const QString &dir, const Site &site, const QList<QJsonObject> &records,
             const QList<Journal::Problem> &problems, bool chainReadable)
{
    const QHash<QString, QString> texts = windowTexts();
    std::optional<SettingsBlock::Block> templateBlock;
    if (!site.templateFile().isEmpty()) {
        QString error;
        if (const std::optional<QByteArray> text = Files::readSmall(site.templateFile(), &error))
            if (const auto contents = SettingsFile::parse(*text, &error))
                templateBlock = contents->block;
    }
    const std::map<int, Unit> units = unitsOf(records);

    QString h;
    h += QStringLiteral(
             "<html><head><meta charset=\"utf-8\"><title>%1</title>"
             "<style>table{border-collapse:collapse;width:100%} td,th{border:1px solid #888;"
             "padding:2px 6px} th{background:#ddd} .bad{color:#b00000;"
             "font-weight:bold}</style></head><body>")
             .arg(esc(site.name()));
    h += QStringLiteral("<h1>Commissioning report: %1</h1>").arg(esc(site.name()));
    h += QStringLiteral("<p>Site folder %1; report made %2; %3 journal records.</p>")
             .arg(esc(QFileInfo(dir).absoluteFilePath()),
                  esc(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)))
             .arg(records.size());
    if (!chainReadable || !problems.isEmpty()) {
        h += QStringLiteral("<p class=\"bad\">The journal's chain is broken: its records cannot "
                            "be taken as they were written.</p><ul>");
        for (const Journal::Problem &problem : problems)
            h += QStringLiteral("<li class=\"bad\">%1</li>").arg(esc(problem.what));
        h += QStringLiteral("</ul>");
    } else {
        h += QStringLiteral("<p>The journal's chain holds: no record was changed, inserted or "
                            "removed.</p>");
    }

    h += QStringLiteral("<h2>Units</h2><table><tr><th>Address</th><th>Zone</th><th>Device "
                        "type</th><th>Software</th><th>Last verified write</th><th>Last "
                        "upload</th><th>Status</th></tr>");
    for (const auto &[address, unit] : units) {
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                            "<td>%6</td><td%7>%8</td></tr>")
                 .arg(address)
                 .arg(unit.value(FieldId::AlertZone))
                 .arg(unit.value(FieldId::DeviceType))
                 .arg(unit.value(FieldId::SoftwareVersion))
                 .arg(esc(unit.lastVerifiedWrite), esc(unit.lastUpload),
                      unit.status == QLatin1String("verified") ? QString()
                                                               : QStringLiteral(" class=\"bad\""),
                      esc(unit.status));
    }
    h += QStringLiteral("</table>");

    for (const auto &[address, unit] : units) {
        h += QStringLiteral("<h2 style=\"page-break-before: always\">Unit at address %1</h2>")
                 .arg(address);
        if (!unit.settings) {
            h += QStringLiteral("<p>No confirmed settings are on record.</p>");
            continue;
        }
        h += QStringLiteral("<p>Confirmed settings as of %1 (%2).</p>")
                 .arg(esc(unit.last.value(QStringLiteral("time")).toString()),
                      esc(unit.last.value(QStringLiteral("operation")).toString()));
        h += QStringLiteral("<table><tr><th>Field</th><th>Key</th><th>Value</th><th>Template"
                            "</th></tr>");
        int deviations = 0;
        for (const SettingsLayout::Field &field : SettingsLayout::Fields) {
            QString templateText;
            if (templateBlock && heldToTemplate(field) &&
                SettingsBlock::value(field, templateBlock->data()) !=
                    SettingsBlock::value(field, unit.settings->data())) {
                templateText = valueText(field, *templateBlock);
                ++deviations;
            }
            h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td class=\"bad\">%4</td>"
                                "</tr>")
                     .arg(esc(labelOf(field.id, texts)), QLatin1String(field.key),
                          esc(valueText(field, *unit.settings)), esc(templateText));
        }
        h += QStringLiteral("</table>");
        h += !templateBlock ? QStringLiteral("<p>The site has no template.</p>")
             : deviations == 0
                 ? QStringLiteral("<p>No deviations from the site template.</p>")
                 : QStringLiteral("<p class=\"bad\">%1 from the site template.</p>")
                       .arg(deviations == 1 ? QStringLiteral("1 deviation")
                                            : QStringLiteral("%1 deviations").arg(deviations));
    }

    h += QStringLiteral("<h2 style=\"page-break-before: always\">History</h2><table><tr><th>#"
                        "</th><th>Time</th><th>Operator</th><th>Port</th><th>Address</th>"
                        "<th>Operation</th><th>Changes</th><th>Verify</th><th>Status</th>"
                        "<th>Backup</th></tr>");
    for (const QJsonObject &record : records) {
        QStringList changes;
        for (const QJsonValue &change : record.value(QStringLiteral("changes")).toArray())
            changes << change.toString();
        if (record.contains(QStringLiteral("upload")))
            changes << uploadText(record).section(QLatin1Char(' '), 1);
        const QJsonObject identity = record.value(QStringLiteral("unit")).toObject();
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                            "<td>%6</td><td>%7</td><td>%8</td><td>%9</td><td>%10</td></tr>")
                 .arg(record.value(QStringLiteral("seq")).toInteger())
                 .arg(esc(record.value(QStringLiteral("time")).toString()),
                      esc(record.value(QStringLiteral("operator")).toString()),
                      esc(record.value(QStringLiteral("port"))
                              .toObject()
                              .value(QStringLiteral("name"))
                              .toString()),
                      identity.isEmpty()
                          ? QString()
                          : QString::number(
                                identity.value(QStringLiteral("network_address")).toInt()),
                      esc(record.value(QStringLiteral("operation")).toString()),
                      esc(changes.join(QStringLiteral("; "))),
                      esc(record.value(QStringLiteral("verify")).toString()),
                      QString::number(record.value(QStringLiteral("status")).toInt()))
                 .arg(esc(QFileInfo(record.value(QStringLiteral("backup")).toString()).fileName()));
    }
    h += QStringLiteral("</table></body></html>");
    return h;
}

QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QByteArray csv(const QList<QJsonObject> &records, bool chainHolds)
{
    QString c = QStringLiteral("network_address,alert_zone,device_type,software_version,"
                               "last_verified_write,last_upload,status,chain\n");
    const QString chain = chainHolds ? QStringLiteral("holds") : QStringLiteral("broken");
    for (const auto &[address, unit] : unitsOf(records)) {
        const auto number = [&unit](FieldId id) { return QString::number(unit.value(id)); };
        c += QStringList{QString::number(address),
                         number(FieldId::AlertZone),
                         number(FieldId::DeviceType),
                         number(FieldId::SoftwareVersion),
                         csvField(unit.lastVerifiedWrite),
                         csvField(unit.lastUpload),
                         unit.status,
                         chain}
                 .join(QLatin1Char(','));
        c += QLatin1Char('\n');
    }
    return c.toUtf8();
}

QString extensionOf(const QString &file) { return QFileInfo(file).suffix().toLower(); }

} // namespace

bool knownFormat(const QString &file)
{
    const QString extension = extensionOf(file);
    return extension == QLatin1String("pdf") || extension == QLatin1String("html") ||
           extension == QLatin1String("htm") || extension == QLatin1String("csv");
}

bool write(const QString &dir, const QString &file, QString *error)
{
    const std::optional<Site> site = Site::open(dir, error);
    if (!site)
        return false;
    QString why;
    const QList<QJsonObject> records = Journal::records(dir, &why);
    bool readable = false;
    const QList<Journal::Problem> problems = Journal::verify(dir, &readable, &why);
    const QString extension = extensionOf(file);
    if (extension == QLatin1String("csv"))
        return Files::saveWhole(file, csv(records, readable && problems.isEmpty()), error);
    const QString page = html(dir, *site, records, problems, readable);
    if (extension != QLatin1String("pdf"))
        return Files::saveWhole(file, page.toUtf8(), error);

    // Made in memory, then saved whole as every file the tool saves.
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&bytes);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Commissioning report: ") + site->name());
        pdf.setCreator(QStringLiteral("tarvik2-cli"));
        QTextDocument document;
        // Laid out for the writer's resolution, so points are points on the page.
        document.documentLayout()->setPaintDevice(&pdf);
        QFont font(QStringLiteral("DejaVu Sans"), 8);
        // No ligatures: the PDF's text then reads back ("verified", not a U+FB01 sign) when it
        // is searched or copied.
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        document.setHtml(page);
        document.setPageSize(pdf.pageLayout().paintRectPixels(pdf.resolution()).size());
        document.print(&pdf);
    }
    if (bytes.data().isEmpty()) {
        *error = QStringLiteral("the PDF writer made nothing");
        return false;
    }
    return Files::saveWhole(file, bytes.data(), error);
}

} // namespace Report
