#pragma once

#include "device/settingsblock.h"

#include <QJsonObject>
#include <QString>
#include <optional>

// A site folder: the record an installer keeps of one site's units. It holds
// - site.json: the site's name, when the folder was made, and the settings template the site's
//   units are held to (template.json beside it, a settings file, when one was given);
// - backups/: each unit's confirmed settings, saved before anything changed them, as settings
//   files that `write` takes back;
// - journal.jsonl: one record per operation (see Journal).
// The tool writes into a site only what the user asked for by naming it.
class Site {
public:
    // Makes the folder (which may exist, but holds no site yet). The template, when given, must
    // be a settings file; it is copied in.
    static bool init(const QString &dir, const QString &name, const QString &templateFile,
                     QString *error);
    // The site in dir; none, with the reason, where there is no site.json.
    static std::optional<Site> open(const QString &dir, QString *error);

    const QString &dir() const { return m_dir; }
    const QString &name() const { return m_name; }
    // The template's settings file, or empty when the site has none.
    QString templateFile() const;

    // Saves `block` under backups/ as a settings file whose name carries the unit's network
    // address and zone and the time in UTC, to the millisecond; a name already taken gets a
    // number, so no backup is ever replaced. Returns its name within the site.
    std::optional<QString> backup(const SettingsBlock::Block &block, const QString &port,
                                  QString *error) const;
    // Appends one record to the journal.
    bool record(const QJsonObject &record, QString *error) const;

private:
    QString m_dir;
    QString m_name;
    bool m_hasTemplate = false;
};
